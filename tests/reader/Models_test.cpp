// The reader-model table, device codes, model features and the packed firmware version.
#include "Models.h"
#include "Numbers.h"
#include <gtest/gtest.h>

TEST(Models, NamesAndDeviceCodes)
{
    struct Case
    {
        uint32_t model;
        const wchar_t* name;
        uint16_t codes[2];
    } cases[] = {
        {MODEL_KORA_USB, L"Kora USB", {0x0301, 0x0301}},
        {MODEL_LINTRA_MULTI, L"Lintra Multi", {0x0501, 0x0501}},
        {MODEL_KORA_USB_MF, L"Kora USB MF", {0x0811, 0x0811}},
        {MODEL_LINTRA_NET, L"Lintra Net", {0x0903, 0x0903}},
        {MODEL_KORA_DESK_MF, L"Kora Desk MF", {0x0F11, 0x0F11}},
        {MODEL_KORA_DUO, L"Kora Duo", {0x0302, 0x0302}},
        {MODEL_KORA_BASE, L"Kora Base", {0x0303, 0x0303}},
        {MODEL_LINTRA_PLUS, L"Lintra Plus", {0x0802, 0xFFFF}},
        {MODEL_PELTO, L"Pelto", {0x0821, 0x0821}},
    };
    for (const auto& c : cases)
    {
        EXPECT_STREQ(c.name, ReaderModels[c.model]);
        EXPECT_STREQ(c.name, ReaderModelName(c.model));
        EXPECT_EQ(c.model, ModelFromCode(c.codes[0])) << c.name;
        EXPECT_EQ(c.model, ModelFromCode(c.codes[1])) << c.name;
    }
    EXPECT_STREQ(L"?", ReaderModels[0]);
    EXPECT_STREQ(L"?", ReaderModelName(MODEL_COUNT));
    for (uint16_t code : {0x0000, 0x0300, 0x0811 + 1, 0x0822, 0x1108, 0xFFFE})
        EXPECT_EQ(MODEL_UNKNOWN, ModelFromCode(code)) << std::hex << code;
}

TEST(Models, Features)
{
    struct Case
    {
        uint32_t model;
        uint32_t features;
    } cases[] = {
        {MODEL_UNKNOWN, 0},
        {MODEL_KORA_USB, MODEL_FEATURE_TEXT | MODEL_FEATURE_TEXT_PAGES},
        {MODEL_LINTRA_MULTI, MODEL_FEATURE_TEXT | MODEL_FEATURE_TEXT_PAGES},
        {MODEL_KORA_USB_MF, MODEL_FEATURE_TEXT | MODEL_FEATURE_TEXT_PAGES | MODEL_FEATURE_BINARY
                                | MODEL_FEATURE_CARD_COMMANDS},
        {MODEL_LINTRA_NET, MODEL_FEATURE_TEXT | MODEL_FEATURE_BINARY | MODEL_FEATURE_CARD_COMMANDS},
        {MODEL_KORA_DESK_MF, MODEL_FEATURE_TEXT | MODEL_FEATURE_BINARY | MODEL_FEATURE_CARD_COMMANDS},
        {MODEL_KORA_DUO, MODEL_FEATURE_TEXT},
        {MODEL_KORA_BASE, MODEL_FEATURE_TEXT | MODEL_FEATURE_OUTPUT_SETUP},
        {MODEL_LINTRA_PLUS, MODEL_FEATURE_TEXT | MODEL_FEATURE_BINARY}, // no card commands
        {MODEL_PELTO, MODEL_FEATURE_PELTO},
        {MODEL_COUNT, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.features, ModelFeatures(c.model)) << c.model;
    EXPECT_TRUE(ModelHas(MODEL_LINTRA_PLUS, MODEL_FEATURE_BINARY));
    EXPECT_FALSE(ModelHas(MODEL_LINTRA_PLUS, MODEL_FEATURE_CARD_COMMANDS));
}

TEST(Models, PackedFirmwareVersion)
{
    struct Case
    {
        uint32_t parts[4];
        uint32_t packed;
        uint32_t major, minor;
        const wchar_t* text;
    } cases[] = {
        {{3, 10, 0, 0}, 0x0A03, 3, 10, L"3.10"},
        {{1, 8, 0, 0}, 0x0801, 1, 8, L"1.8"},
        {{1, 2, 3, 4}, 0x04030201, 1, 2, L"1.2.3.4"},
        {{106, 0, 0, 0}, 106, 106, 0, L"106"},
        {{409, 7, 7, 7}, 0x199FF, 409, 0, L"409"}, // large first component: no further parts
        {{255, 1, 0, 0}, 0xFFFF, 255, 0, L"255"},
        {{2, 300, 0, 0}, 0x2C02, 2, 44, L"2.44"},  // later parts keep their low byte
    };
    for (const auto& c : cases)
    {
        uint32_t v = PackFirmwareVersion(c.parts[0], c.parts[1], c.parts[2], c.parts[3]);
        EXPECT_EQ(c.packed, v) << c.text;
        EXPECT_EQ(c.major, FirmwareMajor(v)) << c.text;
        EXPECT_EQ(c.minor, FirmwareMinor(v)) << c.text;
        std::wstring text;
        VersionToText(text, v);
        EXPECT_EQ(std::wstring(c.text), text);
    }
}
