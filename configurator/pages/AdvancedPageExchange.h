// The configurator's confirmation flags as the advanced page shows them: one check box per bit
// that the page owns (bits 0-2); other bits are not the page's and are dropped when it stores.
#pragma once
#include <cstdint>

// The configurator's confirmation flags that the advanced page owns (bits 0-2).
struct AdvancedPageControls
{
    bool ConfirmDelete = false, ConfirmLoad = false, ConfirmSave = false;
};

inline AdvancedPageControls LoadAdvancedPage(uint32_t confirmFlags)
{
    return AdvancedPageControls{(confirmFlags & 1) != 0, (confirmFlags & 2) != 0, (confirmFlags & 4) != 0};
}

inline uint32_t StoreAdvancedPage(const AdvancedPageControls& c)
{
    return (c.ConfirmDelete ? 1u : 0u) | (c.ConfirmLoad ? 2u : 0u) | (c.ConfirmSave ? 4u : 0u);
}
