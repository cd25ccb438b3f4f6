// Which page class stands in which tab of the main window, and its dialog template.
#pragma once
#include "Wnd.h"

class CConfigParvelApp;

struct PageSlot
{
    // A new page object of the tab; null when what the page needs cannot be had (the reason was
    // shown to the user).
    CAppPage* (*Create)(CConfigParvelApp& app);
    int TemplateId;
};

// The page of tab `index` (0-5); null for an index out of range.
const PageSlot* GetPageSlot(int index);
