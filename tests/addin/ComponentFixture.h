// A component made and initialised as the platform makes it, reached only through its slots, in a
// scratch registry (HKCU redirected) with temporary folders standing in for the library's folder
// and the user's application-data folder.
#pragma once
#include "Component.h"
#include "ScratchRegistry.h"
#include "SlotHost.h"
#include "TestFolder.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

class ComponentTest : public ::testing::Test
{
protected:
    void SetUp() override { Create(); }
    void TearDown() override { Destroy(); }

    // Makes the component, gives it the memory manager and, with init, the connection.
    void Create(bool init = true, int windowHost = 0)
    {
        ASSERT_TRUE(registry.Ok()) << "the scratch registry key could not stand in for HKCU";
        object = new CParvel(L"ParvelExtension");
        ComponentPlacement placement;
        placement.ModuleFolder = moduleFolder.Path();
        placement.AppDataFolder = appData.Path();
        placement.WindowHost = windowHost;
        object->SetPlacement(placement);
        c = slothost::Component(static_cast<IComponentBase*>(object));
        ASSERT_TRUE(c.SetMemManager(&memory));
        if (init) {
            ASSERT_TRUE(c.Init(&host));
        }
    }

    void Destroy()
    {
        if (object) {
            c.Done();
            delete object;
            object = nullptr;
        }
    }

    // The last error as the platform reads it: GetLastError through CallAsFunc.
    long LastError(std::wstring* text = nullptr)
    {
        tVariant result = slothost::Empty();
        std::vector<tVariant> params{slothost::Empty()};
        EXPECT_TRUE(c.Func(2, result, params));
        EXPECT_EQ(result.vt, VTYPE_I4);
        if (text)
            *text = slothost::Text(params[0]);
        return result.i32Val;
    }

    // The property's value through GetPropVal.
    tVariant Prop(long number)
    {
        tVariant v = slothost::Empty();
        EXPECT_TRUE(c.GetPropVal(number, &v)) << "property " << number;
        return v;
    }

    ScratchRegistry registry{HKEY_CURRENT_USER};
    TestFolder moduleFolder;
    TestFolder appData;
    slothost::FakeConnection host;
    slothost::FakeMemory memory;
    CParvel* object = nullptr;
    slothost::Component c;
};

// Method numbers used by the tests.
enum TestMethod : long
{
    MGetVersion = 0,
    MGetDescription = 1,
    MGetLastError = 2,
    MGetParameters = 3,
    MSetParameter = 4,
    MOpen = 5,
    MClose = 6,
    MDeviceTest = 7,
    MGetAdditionalActions = 8,
    MDoAdditionalAction = 9,
    MGetStatus = 10,
    MLoadSettings = 13,
    MSaveSettings = 14,
    MFindFormat = 15,
    MGetFormat = 16,
    MSetFormat = 17,
    MInsertFormat = 18,
    MDeleteFormat = 19,
    MClearFormats = 20,
    MCheckFormat = 21,
    MFormat = 22,
    MClearLog = 23,
    MFindClose = 25,
};

const long PE_PARAM_NOT_EXIST_CODE = static_cast<long>(0x80040201);
const long PE_INVALID_PARAM_TYPE_CODE = static_cast<long>(0x80040202);
const long PE_INDEX_OUT_OF_RANGE_CODE = static_cast<long>(0x80040203);
const long E_INVALIDARG_CODE = static_cast<long>(0x80070057);
const long E_FAIL_CODE = static_cast<long>(0x80004005);
