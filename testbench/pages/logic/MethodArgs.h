// The arguments a method-call dialog starts from: the application's history for the method,
// fitted to the method's parameter count and to the defaults the add-in gives now.
#pragma once
#include "MethodArgument.h"
#include <cstdint>
#include <string>
#include <vector>

struct ArgumentDefault
{
    uint16_t type = 0; // 0 when the parameter has no default
    std::wstring text;
};

// Resizes the arguments to `count` (new ones empty) and takes each parameter's current default
// (DefaultArgumentText); an argument whose type is 0 and whose value is empty starts from a new
// default. Returns whether anything changed (the history is then part of the changed UI state).
bool FitArguments(MethodArguments& args, size_t count, const std::vector<ArgumentDefault>& defaults);
