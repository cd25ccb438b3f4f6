// Which page class stands in which tab of the main window, and its dialog template.
#pragma once
#include "Wnd.h"

struct PageSlot
{
    CAppPage* (*Create)();
    int TemplateId;
};

// The page of tab `index` (0-5); null for an index out of range.
const PageSlot* GetPageSlot(int index);
