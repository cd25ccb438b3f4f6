// The command methods against simulated readers (TCP, no COM ports): Ultralight and Mifare Classic
// reads and writes over the binary protocol and Ultralight over the text protocol, a waiting call
// that takes its result without a "Command" event, a call with time-out 0 whose completion the
// event announces and whose status and data are fetched afterwards, a command ended by the next
// one or by BreakCommand, the signal that never waits, the bus device that is refused, and the
// key that GetKeyInfo formats with the list as it is now.
#include "DeviceFixture.h"
#include "Messages.h"
#include <functional>

using namespace devicetest;
using namespace slothost;

namespace {

enum : long
{
    MReadMifareUL = 26,
    MWriteMifareUL = 27,
    MReadMifareC = 28,
    MWriteMifareC = 29,
    MGetCommandStatus = 30,
    MBreakCommand = 31,
    MGetCommandResult = 32,
    MGetKeyInfo = 33,
    MSignal = 34,
};
const long PropBinaryMode = 10;

const long Pending = static_cast<long>(E_PENDING);
const long InvalidArg = static_cast<long>(E_INVALIDARG);
const long InvalidType = static_cast<long>(PE_INVALID_PARAM_TYPE);
const long NotSupported = static_cast<long>(PE_NOT_SUPPORTED);
const long ReaderError = static_cast<long>(PE_READER_ERROR);
const long KeyAuth = static_cast<long>(PE_KEY_AUTH);
const DWORD Wait = 5000;

const simctl::Bytes UidUL = {0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
const simctl::Bytes Uid1K = {0x04, 0xA1, 0xB2, 0xC3};

simctl::SimReaderConfig Mifare()
{
    simctl::SimReaderConfig config;
    config.protocol = "binary";
    config.pace = 0;
    config.identity.model = 3;
    return config;
}

simctl::SimCard Card(const std::string& type, const simctl::Bytes& key)
{
    simctl::SimCard card;
    card.type = type;
    card.key = key;
    return card;
}

// The simulator's default contents: byte j of Ultralight page p >= 4 is (4 p + j) & 0xFF, byte j
// of Classic block b is (16 b + j) & 0xFF.
std::string Pages(unsigned page, size_t length)
{
    std::string out;
    for (size_t j = 0; j < length; ++j)
        out.push_back(static_cast<char>(4 * page + j));
    return out;
}
std::string Block(unsigned block)
{
    std::string out;
    for (size_t j = 0; j < 16; ++j)
        out.push_back(static_cast<char>(16 * block + j));
    return out;
}

} // namespace

class CommandTest : public DeviceTest
{
protected:
    // Opens the simulated reader (binary mode on) and waits until it is connected.
    std::wstring OpenReader(const SimReader& reader, bool binary)
    {
        SetProp(PropBinaryMode, Bool(binary));
        auto opened = Open(reader.Port());
        EXPECT_TRUE(opened.first) << std::hex << LastError();
        EXPECT_TRUE(WaitStatus(opened.second, READER_STATE_CONNECTED));
        return opened.second;
    }

    // ReadMifareUL / WriteMifareUL: params[2] is the data.
    bool Ultralight(long method, const std::wstring& dev, uint32_t start, tVariant data, uint32_t count,
                    uint32_t timeout, tVariant* out = nullptr)
    {
        std::vector<tVariant> params{Str(dev.c_str()), UI4(start), data, UI4(count), UI4(timeout)};
        const bool ok = CallOut(method, params).bVal;
        if (out)
            *out = params[2];
        return ok;
    }

    // ReadMifareC / WriteMifareC with the default key unless given; out: data, answer word.
    struct Classic
    {
        uint32_t Sector = 0;
        uint32_t Block = 0;
        tVariant Data = Empty();
        uint32_t Count = 1;
        tVariant Selector = Null();
        tVariant Key = Null();
        bool KeyB = false;
        bool Skip = false;
        uint32_t Timeout = Wait;
    };
    bool ClassicCall(long method, const std::wstring& dev, const Classic& c, std::string* data = nullptr,
                     int32_t* answer = nullptr)
    {
        std::vector<tVariant> params{Str(dev.c_str()), UI4(c.Sector), UI4(c.Block), c.Data,       UI4(c.Count),
                                     c.Selector,       c.Key,         Bool(c.KeyB), Bool(c.Skip), UI4(c.Timeout),
                                     Empty()};
        const bool ok = CallOut(method, params).bVal;
        if (data)
            *data = params[3].vt == VTYPE_BLOB ? slothost::Bytes(params[3]) : "(not set)";
        if (answer)
            *answer = params[10].vt == VTYPE_I4 ? params[10].i32Val : 0x7777;
        return ok;
    }

    struct Status
    {
        uint32_t Code;
        long Status;
        uint32_t Progress;
        uint32_t Total;
    };
    Status CommandStatus(const std::wstring& dev)
    {
        std::vector<tVariant> params{Str(dev.c_str()), Empty(), Empty(), Empty(), Empty()};
        EXPECT_TRUE(CallOut(MGetCommandStatus, params).bVal);
        EXPECT_EQ(params[1].vt, VTYPE_UI4);
        EXPECT_EQ(params[2].vt, VTYPE_HRESULT);
        return {params[1].ui32Val, static_cast<long>(params[2].i32Val), params[3].ui32Val, params[4].ui32Val};
    }
    // GetCommandResult: the data and the word.
    std::pair<std::string, int32_t> CommandResult(const std::wstring& dev, uint32_t code)
    {
        std::vector<tVariant> params{Str(dev.c_str()), UI4(code), Empty(), Empty()};
        EXPECT_TRUE(CallOut(MGetCommandResult, params).bVal);
        EXPECT_EQ(params[2].vt, VTYPE_BLOB);
        EXPECT_EQ(params[3].vt, VTYPE_I4);
        return {slothost::Bytes(params[2]), params[3].i32Val};
    }
    std::wstring KeyInfo(const std::wstring& dev, int32_t index)
    {
        std::vector<tVariant> params{Str(dev.c_str()), I4(index), Empty()};
        EXPECT_TRUE(CallOut(MGetKeyInfo, params).bVal);
        EXPECT_EQ(params[2].vt, VTYPE_PWSTR);
        return Text(params[2]);
    }
    bool Signal(const std::wstring& dev, tVariant pattern, bool firstStep = true)
    {
        return Call(MSignal, {Str(dev.c_str()), pattern, Bool(firstStep)}).bVal;
    }

    std::string UltralightMemory(const SimReader& r) { return sim.Info(r.Id())["unit"]["card"]["memory"].AsString(); }
    std::string ClassicMemory(const SimReader& r)
    {
        return sim.Info(r.Id())["unit"]["card"]["classic"]["blocks"].AsString();
    }
    void SlowReplies(const SimReader& r, int ms) { sim.Set(r.Id(), simctl::JsonFields().Add("reply_delay_ms", ms)); }
};

TEST_F(CommandTest, UltralightOverTheBinaryProtocolTakesItsResultWithoutAnEvent)
{
    SimReader r(sim, 0, Mifare());
    const std::wstring dev = OpenReader(r, true);
    sim.Present(r.Id(), Card("UL", UidUL));

    tVariant data;
    ASSERT_TRUE(Ultralight(MReadMifareUL, dev, 4, Empty(), 6, Wait, &data)) << std::hex << LastError();
    ASSERT_EQ(data.vt, VTYPE_BLOB);
    EXPECT_EQ(slothost::Bytes(data), Pages(4, 24));

    // Short data are padded with zero bytes; integers give their own bytes, blobs theirs.
    EXPECT_TRUE(Ultralight(MWriteMifareUL, dev, 6, Str(L"01 02 03 04 05"), 2, Wait));
    EXPECT_TRUE(Ultralight(MWriteMifareUL, dev, 8, I4(0x44332211), 1, Wait));
    const char blob[] = {'\x0A', '\x0B', '\x0C'};
    EXPECT_TRUE(Ultralight(MWriteMifareUL, dev, 9, Blob(blob, 3), 1, Wait));
    EXPECT_EQ(UltralightMemory(r).substr(6 * 8, 32), "0102030405000000"
                                                     "11223344"
                                                     "0A0B0C00");
    // Longer data: the count decides, the rest is left out; small integers give four bytes.
    const std::string page12 = UltralightMemory(r).substr(12 * 8, 8);
    EXPECT_TRUE(Ultralight(MWriteMifareUL, dev, 10, Str(L"A1A2A3A4 A5A6"), 1, Wait)) << std::hex << LastError();
    EXPECT_TRUE(Ultralight(MWriteMifareUL, dev, 11, UI1(0x7A), 1, Wait)) << std::hex << LastError();
    EXPECT_EQ(UltralightMemory(r).substr(10 * 8, 24), "A1A2A3A4"
                                                      "7A000000" + page12);
    Status s = CommandStatus(dev);
    EXPECT_EQ(s.Code, 2u);
    EXPECT_EQ(s.Status, S_OK);
    EXPECT_EQ(s.Progress, 1u);

    // A failure on the reader is the call's failure, with the reader's status as the last error.
    EXPECT_FALSE(Ultralight(MWriteMifareUL, dev, 1, Str(L"00000000"), 1, Wait)) << "page 1 is locked";
    EXPECT_EQ(LastError(), ReaderError);
    // A range past page 254 is shortened to end there (the card itself has 16 pages).
    EXPECT_FALSE(Ultralight(MReadMifareUL, dev, 250, Empty(), 10, Wait));
    EXPECT_EQ(CommandStatus(dev).Total, 5u);

    // Refused before anything is placed: the slot keeps the last command.
    struct Refusal
    {
        const char* name;
        long method;
        uint32_t start;
        tVariant data;
        uint32_t count;
        long code;
    };
    const Refusal refusals[] = {
        {"start 255", MReadMifareUL, 255, Empty(), 1, InvalidArg},
        {"no pages", MReadMifareUL, 4, Empty(), 0, InvalidArg},
        {"write start 255", MWriteMifareUL, 255, Str(L"00"), 1, InvalidArg},
        {"odd hex text", MWriteMifareUL, 4, Str(L"010"), 1, InvalidArg},
        {"not hex", MWriteMifareUL, 4, Str(L"0x01"), 1, InvalidArg},
        {"bad hex beyond the pages", MWriteMifareUL, 4, Str(L"01020304 zz"), 1, InvalidArg},
        {"data as bool", MWriteMifareUL, 4, Bool(true), 1, InvalidType},
        {"data NULL", MWriteMifareUL, 4, Null(), 1, InvalidType},
        {"data as i8", MWriteMifareUL, 4, I8(1), 1, InvalidType},
    };
    for (const Refusal& k : refusals) {
        EXPECT_FALSE(Ultralight(k.method, dev, k.start, k.data, k.count, Wait)) << k.name;
        EXPECT_EQ(LastError(), k.code) << k.name;
        EXPECT_EQ(CommandStatus(dev).Code, 1u) << k.name;
    }
    EXPECT_EQ(CountEvents(L"Command", dev), 0u) << "every call waited for its result";
    EXPECT_TRUE(Close(dev));
}

TEST_F(CommandTest, WithoutWaitingTheCommandEventAnnouncesTheResult)
{
    SimReader r(sim, 0, Mifare());
    const std::wstring dev = OpenReader(r, true);
    sim.Present(r.Id(), Card("UL", UidUL));

    tVariant data;
    EXPECT_FALSE(Ultralight(MReadMifareUL, dev, 4, Empty(), 4, 0, &data));
    EXPECT_EQ(LastError(), Pending);
    EXPECT_EQ(data.vt, VTYPE_EMPTY) << "no data before the command is done";
    ASSERT_TRUE(WaitEvent(L"Command", dev));
    Status s = CommandStatus(dev);
    EXPECT_EQ(s.Code, 1u);
    EXPECT_EQ(s.Status, S_OK);
    EXPECT_EQ(s.Progress, 4u);
    EXPECT_EQ(s.Total, 4u);
    auto result = CommandResult(dev, 1);
    EXPECT_EQ(result.first, Pages(4, 16));
    EXPECT_EQ(result.second, -1);
    result = CommandResult(dev, 3);
    EXPECT_EQ(result.first, "") << "only the code of the slot's command gives its data";
    EXPECT_EQ(result.second, -1);

    // A call that stops waiting before the reader is done: pending, and the event follows.
    SlowReplies(r, 150);
    EXPECT_FALSE(Ultralight(MReadMifareUL, dev, 8, Empty(), 2, 50));
    EXPECT_EQ(LastError(), Pending);
    ASSERT_TRUE(WaitEvent(L"Command", dev, 2));
    EXPECT_EQ(CommandStatus(dev).Status, S_OK);
    EXPECT_EQ(CommandResult(dev, 1).first, Pages(8, 8));
    EXPECT_TRUE(Close(dev));
}

TEST_F(CommandTest, ClassicBlocksWithEachKindOfKey)
{
    SimReader r(sim, 0, Mifare());
    const std::wstring dev = OpenReader(r, true);
    sim.Present(r.Id(), Card("M1K", Uid1K));

    // From sector 1, block 2 with the trailers skipped: blocks 6 and 8.
    Classic read;
    read.Sector = 1;
    read.Block = 2;
    read.Count = 2;
    read.Skip = true;
    std::string data;
    int32_t answer = 0;
    ASSERT_TRUE(ClassicCall(MReadMifareC, dev, read, &data, &answer)) << std::hex << LastError();
    EXPECT_EQ(data, Block(6) + Block(8));
    EXPECT_EQ(answer, -1);

    Classic one;
    one.Sector = 3;
    one.Key = Str(L"0x3C7A91E5B20D");
    one.KeyB = true;
    EXPECT_TRUE(ClassicCall(MReadMifareC, dev, one, &data));
    EXPECT_EQ(data, Block(12));
    // The keys stored in the reader: the answer word tells which one fitted.
    one.Key = Null();
    one.KeyB = false;
    one.Selector = UI4(3);
    EXPECT_TRUE(ClassicCall(MReadMifareC, dev, one, &data, &answer));
    EXPECT_EQ(data, Block(12));
    EXPECT_EQ(answer, 1);
    one.Selector = Null();
    one.Key = Str(L"0x112233445566");
    EXPECT_FALSE(ClassicCall(MReadMifareC, dev, one));
    EXPECT_EQ(LastError(), KeyAuth);

    // 20 bytes into two blocks: the second is padded with zero bytes.
    Classic write;
    write.Sector = 2;
    write.Count = 2;
    write.Data = Str(L"000102030405060708090A0B0C0D0E0F 10111213");
    ASSERT_TRUE(ClassicCall(MWriteMifareC, dev, write, nullptr, &answer)) << std::hex << LastError();
    EXPECT_EQ(answer, -1);
    EXPECT_EQ(ClassicMemory(r).substr(8 * 32, 64),
              "000102030405060708090A0B0C0D0E0F"
              "10111213000000000000000000000000");

    // A 17-byte blob into one block: the block takes the first 16 and the next one stays.
    Classic longer;
    longer.Sector = 2;
    longer.Block = 2;
    longer.Count = 1;
    longer.Data = Blob("ABCDEFGHIJKLMNOPQ", 17);
    const std::string block11 = ClassicMemory(r).substr(11 * 32, 32);
    ASSERT_TRUE(ClassicCall(MWriteMifareC, dev, longer)) << std::hex << LastError();
    EXPECT_EQ(ClassicMemory(r).substr(10 * 32, 64), "4142434445464748494A4B4C4D4E4F50" + block11);

    // Read back without waiting: the event, then the status and the data.
    Classic back;
    back.Sector = 2;
    back.Count = 2;
    back.Timeout = 0;
    EXPECT_FALSE(ClassicCall(MReadMifareC, dev, back, &data, &answer));
    EXPECT_EQ(LastError(), Pending);
    EXPECT_EQ(data, "(not set)");
    ASSERT_TRUE(WaitEvent(L"Command", dev));
    Status s = CommandStatus(dev);
    EXPECT_EQ(s.Code, 3u);
    EXPECT_EQ(s.Status, S_OK);
    EXPECT_EQ(s.Progress, 2u);
    EXPECT_EQ(s.Total, 2u);
    auto result = CommandResult(dev, 3);
    EXPECT_EQ(result.first, std::string("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F", 16)
                                + std::string("\x10\x11\x12\x13", 4) + std::string(12, '\0'));
    EXPECT_EQ(result.second, -1);
    EXPECT_EQ(CommandResult(dev, 1).first, "");

    // Refused before anything is placed.
    struct Refusal
    {
        const char* name;
        long method;
        Classic args;
        long code;
    };
    auto with = [](std::function<void(Classic&)> change) {
        Classic c;
        c.Data = Str(L"00");
        change(c);
        return c;
    };
    const Refusal refusals[] = {
        {"sector 40", MReadMifareC, with([](Classic& c) { c.Sector = 40; }), InvalidArg},
        {"block 16", MReadMifareC, with([](Classic& c) { c.Block = 16; }), InvalidArg},
        {"no blocks", MReadMifareC, with([](Classic& c) { c.Count = 0; }), InvalidArg},
        {"more blocks than a card has", MReadMifareC, with([](Classic& c) { c.Count = 257; }), InvalidArg},
        {"key text zz", MReadMifareC, with([](Classic& c) { c.Key = Str(L"zz"); }), InvalidArg},
        {"key as i4", MWriteMifareC, with([](Classic& c) { c.Key = I4(1); }), InvalidArg},
        {"data as r8", MWriteMifareC, with([](Classic& c) { c.Data = R8(1); }), InvalidType},
    };
    for (const Refusal& k : refusals) {
        EXPECT_FALSE(ClassicCall(k.method, dev, k.args)) << k.name;
        EXPECT_EQ(LastError(), k.code) << k.name;
        EXPECT_EQ(CommandStatus(dev).Code, 3u) << k.name;
    }
    EXPECT_EQ(CountEvents(L"Command", dev), 1u);
    EXPECT_TRUE(Close(dev));
}

TEST_F(CommandTest, ANewCommandOrABreakEndsThePendingOne)
{
    SimReader r(sim, 0, Mifare());
    const std::wstring dev = OpenReader(r, true);
    sim.Present(r.Id(), Card("UL", UidUL));
    SlowReplies(r, 100);

    // The second command replaces the first, which is never completed.
    EXPECT_FALSE(Ultralight(MReadMifareUL, dev, 4, Empty(), 12, 0));
    tVariant data;
    ASSERT_TRUE(Ultralight(MReadMifareUL, dev, 5, Empty(), 1, Wait, &data)) << std::hex << LastError();
    EXPECT_EQ(slothost::Bytes(data), Pages(5, 4));
    Status s = CommandStatus(dev);
    EXPECT_EQ(s.Code, 1u);
    EXPECT_EQ(s.Total, 1u);

    // BreakCommand ends a pending command with E_ABORT and no event.
    EXPECT_FALSE(Ultralight(MReadMifareUL, dev, 4, Empty(), 12, 0));
    EXPECT_TRUE(Call(MBreakCommand, {Str(dev.c_str())}).bVal);
    EXPECT_EQ(CommandStatus(dev).Status, E_ABORT);
    Sleep(500);
    EXPECT_EQ(CommandStatus(dev).Status, E_ABORT);
    EXPECT_LT(CommandStatus(dev).Progress, 12u) << "the reader stopped reading";
    EXPECT_EQ(CountEvents(L"Command", dev), 0u);

    // The reader takes the next command as usual.
    ASSERT_TRUE(Ultralight(MReadMifareUL, dev, 4, Empty(), 1, Wait, &data)) << std::hex << LastError();
    EXPECT_EQ(slothost::Bytes(data), Pages(4, 4));
    EXPECT_TRUE(Close(dev));
}

TEST_F(CommandTest, AnotherReadersCompletionDoesNotEndTheWait)
{
    SimReader a(sim, 0, Mifare());
    SimReader b(sim, 0, Mifare());
    const std::wstring devA = OpenReader(a, true);
    const std::wstring devB = OpenReader(b, true);
    sim.Present(a.Id(), Card("UL", UidUL));
    SlowReplies(a, 200);
    SlowReplies(b, 300);

    // The signal on b completes while the read on a waits: the one command event is set, but the
    // read goes on waiting for its own reader.
    EXPECT_TRUE(Signal(devB, Null()));
    tVariant data;
    ASSERT_TRUE(Ultralight(MReadMifareUL, devA, 4, Empty(), 12, Wait, &data)) << std::hex << LastError();
    EXPECT_EQ(slothost::Bytes(data), Pages(4, 48));
    EXPECT_EQ(CountEvents(L"Command", devB), 1u) << "b finished first and announced it";
    EXPECT_EQ(CountEvents(L"Command", devA), 0u);
    EXPECT_TRUE(Close(devA));
    EXPECT_TRUE(Close(devB));
}

TEST_F(CommandTest, TheSignalNeverWaits)
{
    SimReader r(sim, 0, Mifare());
    const std::wstring dev = OpenReader(r, true);
    sim.Frames(r.Id(), true);
    SlowReplies(r, 200);

    const DWORD start = GetTickCount();
    EXPECT_TRUE(Signal(dev, Str(L"2 1 3 250"), false));
    EXPECT_LT(GetTickCount() - start, 150u) << "returned before the reader answered";
    ASSERT_TRUE(WaitEvent(L"Command", dev));
    Status s = CommandStatus(dev);
    EXPECT_EQ(s.Code, 5u);
    EXPECT_EQ(s.Status, S_OK);
    EXPECT_EQ(s.Total, 1u);
    bool heard = false;
    for (const auto& f : sim.Frames(r.Id(), true))
        heard = heard || f.hex == "205E04";
    EXPECT_TRUE(heard);

    // A command placed while the signal plays breaks it: only the command completes.
    EXPECT_TRUE(Signal(dev, Str(L"1 100; 2 100; 3 100; 1 100")));
    sim.Present(r.Id(), Card("UL", UidUL));
    ASSERT_TRUE(Ultralight(MReadMifareUL, dev, 4, Empty(), 1, Wait)) << std::hex << LastError();
    Sleep(500);
    EXPECT_EQ(CountEvents(L"Command", dev), 1u) << "the broken signal raised an event";
    EXPECT_TRUE(Close(dev));
}

TEST_F(CommandTest, UltralightOverTheTextProtocolAndKeyInfo)
{
    SimReader r(sim, 0, Text());
    const std::wstring dev = OpenReader(r, false);
    // Never had a command: nothing in the slot.
    Status s = CommandStatus(dev);
    EXPECT_EQ(s.Code, 0u);
    EXPECT_EQ(s.Status, S_OK);
    EXPECT_EQ(s.Progress, 0u);
    EXPECT_EQ(s.Total, 0u);
    EXPECT_EQ(CommandResult(dev, 0), std::make_pair(std::string(), -1));
    EXPECT_EQ(KeyInfo(dev, 0), L"");

    sim.Present(r.Id(), Card("UL", UidUL));
    ASSERT_TRUE(WaitEvent(L"TracksData", dev));
    tVariant data;
    ASSERT_TRUE(Ultralight(MReadMifareUL, dev, 4, Empty(), 6, Wait, &data)) << std::hex << LastError();
    EXPECT_EQ(slothost::Bytes(data), Pages(4, 24));
    EXPECT_TRUE(Ultralight(MWriteMifareUL, dev, 6, Str(L"0A0B0C0D 0E"), 2, Wait)) << std::hex << LastError();
    EXPECT_EQ(UltralightMemory(r).substr(6 * 8, 16), "0A0B0C0D0E000000");
    // Classic blocks and the signal need the binary protocol.
    Classic c;
    EXPECT_FALSE(ClassicCall(MReadMifareC, dev, c));
    EXPECT_EQ(LastError(), NotSupported);
    EXPECT_TRUE(Signal(dev, Null()));
    ASSERT_TRUE(WaitEvent(L"Command", dev));
    EXPECT_EQ(CommandStatus(dev).Status, NotSupported);

    // The present key as the event gave it; no key at another index.
    std::wstring tracks;
    for (const auto& e : Events())
        if (e.Name == L"TracksData")
            tracks = e.Data;
    EXPECT_EQ(KeyInfo(dev, 0), tracks);
    EXPECT_EQ(KeyInfo(dev, 1), L"");

    // A key that no format took is formatted with the list as it is when asked.
    sim.Remove(r.Id());
    Call(MethodClearFormats, {});
    sim.PresentKey(r.Id(), "EM", {0x39, 0x30, 0x7B, 0x00, 0x00});
    ASSERT_TRUE(WaitUntil(
        [&] {
            tVariant type = Empty();
            object->GetPropVal(PropLastKeyType, &type);
            return type.ui32Val == 1;
        },
        Wait));
    EXPECT_EQ(KeyInfo(dev, 0), L"");
    OnlyFormat(L"%.3u,%.5u", L"b2 w01");
    EXPECT_EQ(KeyInfo(dev, 0), L"123,12345");
    EXPECT_TRUE(Close(dev));
}

TEST_F(CommandTest, ADeviceOnABusIsRefusedButCanBeAskedAboutItsSlot)
{
    SimReader bus(sim, 0, Bus({3}));
    auto opened = Open(bus.Port() + L"\\3");
    ASSERT_TRUE(opened.first) << std::hex << LastError();
    const std::wstring dev = opened.second;
    const tVariant d = Str(dev.c_str());

    struct Refused
    {
        const char* name;
        long method;
        std::vector<tVariant> params;
    };
    const Refused refused[] = {
        {"ReadMifareUL", MReadMifareUL, {d, UI4(4), Empty(), UI4(1), UI4(Wait)}},
        {"WriteMifareUL", MWriteMifareUL, {d, UI4(4), Str(L"00"), UI4(1), UI4(Wait)}},
        {"ReadMifareC", MReadMifareC,
         {d, UI4(1), UI4(0), Empty(), UI4(1), Null(), Null(), Bool(false), Bool(false), UI4(Wait), Empty()}},
        {"WriteMifareC", MWriteMifareC,
         {d, UI4(1), UI4(0), Str(L"00"), UI4(1), Null(), Null(), Bool(false), Bool(false), UI4(Wait), Empty()}},
        {"Signal", MSignal, {d, Null(), Bool(true)}},
    };
    for (const Refused& k : refused) {
        std::vector<tVariant> params = k.params;
        EXPECT_FALSE(CallOut(k.method, params).bVal) << k.name;
        EXPECT_EQ(LastError(), NotSupported) << k.name;
    }
    Status s = CommandStatus(dev);
    EXPECT_EQ(s.Code, 0u);
    EXPECT_EQ(s.Status, S_OK);
    EXPECT_EQ(CommandResult(dev, 1), std::make_pair(std::string(), -1));
    EXPECT_EQ(KeyInfo(dev, 0), L"");
    EXPECT_TRUE(Close(dev));
}
