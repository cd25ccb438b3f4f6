// Several components in one process, as the platform's equipment library makes them (one driver
// object per device): each reader follows the key types and the log of the component that opened
// it, not of the newest one, and ending one component while another's reader polls hard leaves
// that reader working.
#include "DeviceFixture.h"
#include "KeyData.h"
#include "SettingsStore.h"

#include <atomic>
#include <thread>

using namespace devicetest;
using namespace slothost;

namespace {

const long MethodLoadSettings = 13;

std::string FileText(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Narrow(const std::wstring& s)
{
    return std::string(s.begin(), s.end());
}

} // namespace

class SecondComponentTest : public DeviceTest
{
protected:
    void TearDown() override
    {
        DestroySecond();
        DeviceTest::TearDown();
    }

    // The stored key types and log switch, as the component's LoadSettings takes them.
    void StoreKeyTypes(uint32_t keyTypes)
    {
        CParvelSettings s;
        s.KeyTypes = keyTypes;
        s.Log = 1;
        SaveSettingsToRegistry(s, SETTINGS_MAIN);
    }
    // The component's connection settings for these tests, set after a load (which replaces them).
    static void ShortTimings(CParvel& component, uint32_t rxPeriod)
    {
        std::vector<std::pair<long, tVariant>> props = {{PropConnectTimeout, UI4(2000)}, {PropConnectPeriod, UI4(500)},
                                                        {PropReqTimeout, UI4(500)},      {PropReqTries, I4(1)},
                                                        {PropRxPeriod, UI4(rxPeriod)}};
        for (auto& p : props)
            ASSERT_TRUE(component.SetPropVal(p.first, &p.second));
    }
    static bool Load(CParvel& component)
    {
        tVariant result = Empty();
        std::vector<tVariant> args{I4(SETTINGS_MAIN)};
        return component.CallAsFunc(MethodLoadSettings, &result, args.data(), 1);
    }
    static bool OpenOn(CParvel& component, const std::wstring& port)
    {
        tVariant name = Str(port.c_str());
        EXPECT_TRUE(component.SetPropVal(PropPort, &name));
        tVariant result = Empty();
        std::vector<tVariant> out{Empty()};
        EXPECT_TRUE(component.CallAsFunc(MethodOpen, &result, out.data(), 1));
        return result.bVal;
    }

    void CreateSecond()
    {
        second = new CParvel(L"ParvelExtension");
        ComponentPlacement placement;
        placement.ModuleFolder = secondModule.Path();
        placement.AppDataFolder = secondData.Path();
        placement.WindowHost = 0;
        second->SetPlacement(placement);
        second->SetSoundFunctions(eventhost::RecordingSounds());
        ASSERT_TRUE(second->setMemManager(&secondMemory));
        ASSERT_TRUE(second->Init(&secondHost));
    }
    void DestroySecond()
    {
        if (!second)
            return;
        second->Done();
        secondHost.JoinProbes();
        delete second;
        second = nullptr;
    }
    std::wstring SecondLogPath() const { return secondData.Path() + L"\\Corvane\\Parvel\\Parvel.log"; }

    TestFolder secondModule;
    TestFolder secondData;
    eventhost::CEventHost secondHost;
    slothost::FakeMemory secondMemory;
    CParvel* second = nullptr;
};

TEST_F(SecondComponentTest, EachReaderFollowsItsOwnComponentAndOutlivesTheOther)
{
    // The first component reads every key type; the second, made after it, none of EM-Marine.
    StoreKeyTypes(KEY_TYPES_ALL);
    ASSERT_TRUE(Load(*object));
    ShortTimings(*object, 10); // polls its reader all the time: the load while the other ends
    CreateSecond();
    StoreKeyTypes(KEY_TYPES_ALL & ~(1u << KEY_TYPE_EM_MARINE));
    ASSERT_TRUE(Load(*second));
    ShortTimings(*second, READER_PERIOD_NEVER);

    SimReader first(sim, 0, Text());
    SimReader other(sim, 0, Text());
    ASSERT_TRUE(OpenOn(*object, first.Port()));
    ASSERT_TRUE(OpenOn(*second, other.Port()));
    ASSERT_TRUE(WaitEvent(L"DeviceConnect", first.Port()));
    ASSERT_TRUE(WaitEvent(L"DeviceConnect", other.Port()));

    const simctl::Bytes em = {0x39, 0x30, 0x7B, 0x00, 0x00};
    sim.PresentKey(other.Id(), "EM", em);
    sim.PresentKey(first.Id(), "EM", em);
    EXPECT_TRUE(WaitEvent(L"TracksData", first.Port()));
    Sleep(500);
    EXPECT_EQ(0u, CountEvents(L"TracksData", other.Port())) << "the second component reads no EM-Marine";

    // Each log holds its own component's readers only.
    const std::string firstLog = LogText();
    const std::string secondLog = FileText(SecondLogPath());
    EXPECT_NE(std::string::npos, firstLog.find(Narrow(first.Port()))) << firstLog;
    EXPECT_EQ(std::string::npos, firstLog.find(Narrow(other.Port()))) << firstLog;
    EXPECT_NE(std::string::npos, secondLog.find(Narrow(other.Port()))) << secondLog;
    EXPECT_EQ(std::string::npos, secondLog.find(Narrow(first.Port()))) << secondLog;

    // The second component ends while cards come and go on the first one's reader.
    std::atomic<bool> loading{true};
    std::thread load([&] {
        while (loading) {
            sim.Remove(first.Id(), -1, true, false);
            sim.PresentKey(first.Id(), "EM", em);
        }
    });
    Sleep(300);
    DestroySecond();
    Sleep(300);
    loading = false;
    load.join();
    sim.Remove(first.Id());
    const size_t before = CountEvents(L"TracksData", first.Port());
    sim.PresentKey(first.Id(), "EM", em);
    EXPECT_TRUE(WaitEvent(L"TracksData", first.Port(), before + 1)) << "the first component's reader still reads";
    EXPECT_EQ(READER_STATE_CONNECTED, Status(first.Port()));
}
