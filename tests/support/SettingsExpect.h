// Comparisons of settings records for the tests of every place that stores or carries them (the
// stores, the component, the configurator's data): one list of the record's fields, so that a
// field added to the record is checked everywhere at once.
#pragma once
#include "Settings.h"
#include <gtest/gtest.h>

inline void ExpectSameFormats(const KeyFormatList& a, const KeyFormatList& b)
{
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "format " << i);
        EXPECT_EQ(a[i].Name, b[i].Name);
        EXPECT_EQ(a[i].Template, b[i].Template);
        EXPECT_EQ(a[i].Params, b[i].Params);
        EXPECT_EQ(a[i].Comment, b[i].Comment);
        EXPECT_EQ(a[i].KeyTypes, b[i].KeyTypes);
        EXPECT_EQ(a[i].KeySize, b[i].KeySize);
    }
}

// Every value of the record except the format list.
inline void ExpectSameMain(const CParvelSettings& a, const CParvelSettings& b)
{
    EXPECT_EQ(a.Portname, b.Portname);
    EXPECT_EQ(a.Model, b.Model);
    EXPECT_EQ(a.Speed, b.Speed);
    EXPECT_EQ(a.StopBits, b.StopBits);
    EXPECT_EQ(a.Flags, b.Flags);
    EXPECT_EQ(a.Log, b.Log);
    EXPECT_EQ(a.LogFlags, b.LogFlags);
    EXPECT_EQ(a.ConnectTimeout, b.ConnectTimeout);
    EXPECT_EQ(a.ReqTimeout, b.ReqTimeout);
    EXPECT_EQ(a.ReqTries, b.ReqTries);
    EXPECT_EQ(a.ConnectPeriod, b.ConnectPeriod);
    EXPECT_EQ(a.RxPeriod, b.RxPeriod);
    EXPECT_EQ(a.Prefix, b.Prefix);
    EXPECT_EQ(a.Suffix, b.Suffix);
    EXPECT_EQ(a.LoadAtStartup, b.LoadAtStartup);
    EXPECT_EQ(a.SearchFlags, b.SearchFlags);
    EXPECT_EQ(a.FindIpTimeout, b.FindIpTimeout);
    EXPECT_EQ(a.FindIpTries, b.FindIpTries);
    EXPECT_EQ(a.KeyTypes, b.KeyTypes);
    EXPECT_EQ(a.ReadMf.Enabled, b.ReadMf.Enabled);
    EXPECT_EQ(a.ReadMf.Sect, b.ReadMf.Sect);
    EXPECT_EQ(a.ReadMf.Block, b.ReadMf.Block);
    EXPECT_EQ(a.ReadMf.Flags, b.ReadMf.Flags);
    EXPECT_EQ(a.ReadMf.Mask, b.ReadMf.Mask);
    EXPECT_EQ(a.ReadMf.Passw, b.ReadMf.Passw);
    EXPECT_EQ(a.ReadUL.Enabled, b.ReadUL.Enabled);
    EXPECT_EQ(a.ReadUL.Page, b.ReadUL.Page);
    EXPECT_EQ(a.ReadUL.Count, b.ReadUL.Count);
    EXPECT_EQ(a.SoundEnabled, b.SoundEnabled);
    for (size_t i = 0; i < a.SoundFiles.size(); ++i)
        EXPECT_EQ(a.SoundFiles[i], b.SoundFiles[i]) << "sound " << i;
}

inline void ExpectSameSettings(const CParvelSettings& a, const CParvelSettings& b)
{
    ExpectSameMain(a, b);
    ExpectSameFormats(a.Formats, b.Formats);
}
