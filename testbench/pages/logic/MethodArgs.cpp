// Fitting remembered arguments to a method.
#include "MethodArgs.h"

bool FitArguments(MethodArguments& args, size_t count, const std::vector<ArgumentDefault>& defaults)
{
    bool changed = false;
    if (args.size() != count) {
        args.resize(count);
        changed = true;
    }
    for (size_t j = 0; j < count && j < defaults.size(); ++j) {
        MethodArgument& a = args[j];
        const ArgumentDefault& d = defaults[j];
        if (a.DefaultType == d.type && a.Default == d.text)
            continue;
        a.DefaultType = d.type;
        a.Default = d.text;
        if (a.Type == 0 && a.Value.empty()) {
            a.Type = d.type;
            a.Value = d.text;
        }
        changed = true;
    }
    return changed;
}
