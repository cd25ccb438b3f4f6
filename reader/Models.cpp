// The reader-model table and the packed firmware version.
#include "Models.h"

const wchar_t* const ReaderModels[MODEL_COUNT] = {
    L"?",          L"Kora USB",  L"Lintra Multi", L"Kora USB MF",  L"Lintra Net",
    L"Kora Desk MF", L"Kora Duo", L"Kora Base",   L"Lintra Plus", L"Pelto",
};

const wchar_t* ReaderModelName(uint32_t model)
{
    return model < MODEL_COUNT ? ReaderModels[model] : ReaderModels[MODEL_UNKNOWN];
}

uint32_t ModelFromCode(uint16_t code)
{
    switch (code)
    {
    case 0x0301: return MODEL_KORA_USB;
    case 0x0501: return MODEL_LINTRA_MULTI;
    case 0x0811: return MODEL_KORA_USB_MF;
    case 0x0903: return MODEL_LINTRA_NET;
    case 0x0F11: return MODEL_KORA_DESK_MF;
    case 0x0302: return MODEL_KORA_DUO;
    case 0x0303: return MODEL_KORA_BASE;
    case 0x0802:
    case 0xFFFF: return MODEL_LINTRA_PLUS; // early Lintra Plus firmware reports no code of its own
    case 0x0821: return MODEL_PELTO;
    default: return MODEL_UNKNOWN;
    }
}

uint32_t ModelFeatures(uint32_t model)
{
    static const uint32_t features[MODEL_COUNT] = {
        0,                                                                             // ?
        MODEL_FEATURE_TEXT | MODEL_FEATURE_TEXT_PAGES,                                 // Kora USB
        MODEL_FEATURE_TEXT | MODEL_FEATURE_TEXT_PAGES,                                 // Lintra Multi
        MODEL_FEATURE_TEXT | MODEL_FEATURE_TEXT_PAGES | MODEL_FEATURE_BINARY
            | MODEL_FEATURE_CARD_COMMANDS,                                             // Kora USB MF
        MODEL_FEATURE_TEXT | MODEL_FEATURE_BINARY | MODEL_FEATURE_CARD_COMMANDS,       // Lintra Net
        MODEL_FEATURE_TEXT | MODEL_FEATURE_BINARY | MODEL_FEATURE_CARD_COMMANDS,       // Kora Desk MF
        MODEL_FEATURE_TEXT,                                                            // Kora Duo
        MODEL_FEATURE_TEXT | MODEL_FEATURE_OUTPUT_SETUP,                               // Kora Base
        MODEL_FEATURE_TEXT | MODEL_FEATURE_BINARY,                                     // Lintra Plus
        MODEL_FEATURE_PELTO,                                                           // Pelto
    };
    return model < MODEL_COUNT ? features[model] : 0;
}

uint32_t PackFirmwareVersion(uint32_t first, uint32_t second, uint32_t third, uint32_t fourth)
{
    if (first >= 255)
        return (first << 8) | 0xFF;
    return first | ((second & 0xFF) << 8) | ((third & 0xFF) << 16) | ((fourth & 0xFF) << 24);
}

uint32_t FirmwareMajor(uint32_t version)
{
    return (version & 0xFF) == 0xFF ? version >> 8 : version & 0xFF;
}

uint32_t FirmwareMinor(uint32_t version)
{
    return (version & 0xFF) == 0xFF ? 0 : (version >> 8) & 0xFF;
}
