// What the tests of the framed protocols (binary and Pelto) and of the command slot share: the
// simulated readers they talk to, the card contents the simulator gives by default, a look at
// the frames a reader heard, and placing a command and waiting for its completion.
#pragma once
#include "CommandSlot.h"
#include "ReaderTestRig.h"
#include "ReaderTestSink.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace readertest {

const DWORD FramedWaitMs = 5000;
const uint32_t ReaderFlagBinary = 2; // the connection flag Binary

// A Mifare reader (model 3 unless given) of the simulator, without pacing.
inline simctl::SimReaderConfig MifareSim(int model = 3, const std::string& version = "")
{
    simctl::SimReaderConfig config = UnpacedSim();
    config.protocol = "binary";
    config.identity.model = model;
    config.identity.version = version;
    return config;
}

inline simctl::SimReaderConfig PeltoSim()
{
    simctl::SimReaderConfig config = UnpacedSim();
    config.protocol = "pelto";
    return config;
}

inline simctl::SimCard Card(const std::string& type, const std::vector<uint8_t>& key, bool add = false)
{
    simctl::SimCard card;
    card.type = type;
    card.key = key;
    card.add = add;
    return card;
}

// The simulator's default contents: byte j of Classic block b is (16 b + j) & 0xFF, byte j of
// Ultralight page p >= 4 is (4 p + j) & 0xFF.
inline std::vector<uint8_t> ClassicBlock(unsigned block, size_t length = 16)
{
    std::vector<uint8_t> out;
    for (size_t j = 0; j < length; ++j)
        out.push_back(static_cast<uint8_t>(16 * block + j));
    return out;
}

inline std::vector<uint8_t> UltralightPages(unsigned page, size_t length)
{
    std::vector<uint8_t> out;
    for (size_t j = 0; j < length; ++j)
        out.push_back(static_cast<uint8_t>(4 * page + j));
    return out;
}

// The frames (command and data as hex) that the simulated reader heard, in order.
inline std::vector<std::string> HeardFrames(simctl::CSimControl& sim, int id, bool clear = false)
{
    std::vector<std::string> out;
    for (const auto& frame : sim.Frames(id, clear))
        out.push_back(frame.hex);
    return out;
}

inline bool Heard(simctl::CSimControl& sim, int id, const std::string& hex)
{
    auto frames = HeardFrames(sim, id);
    return std::find(frames.begin(), frames.end(), hex) != frames.end();
}

// Waits until the frame was heard; false after timeoutMs.
inline bool WaitHeard(simctl::CSimControl& sim, int id, const std::string& hex, DWORD timeoutMs)
{
    return WaitUntil([&] { return Heard(sim, id, hex); }, timeoutMs);
}

// Places the command and waits for the reader's completion event; the status afterwards.
inline HRESULT RunCommand(CReader& reader, CRecordingSink& sink, std::shared_ptr<ReaderCommand> command,
                          DWORD timeoutMs = FramedWaitMs)
{
    size_t before = sink.Count(EventKind::Command);
    reader.PlaceCommand(std::move(command));
    if (!sink.WaitCount(EventKind::Command, before + 1, timeoutMs))
        return E_PENDING;
    return reader.GetCommandStatus();
}

inline ReaderCommandSnapshot Snapshot(CReader& reader)
{
    ReaderCommandSnapshot s;
    reader.GetCommandSnapshot(s);
    return s;
}

inline std::shared_ptr<CReader::_CMD_MUL_INFO> UlCommand(uint32_t code, uint32_t start, uint32_t count,
                                                         const std::vector<uint8_t>& data = {})
{
    auto cmd = std::make_shared<CReader::_CMD_MUL_INFO>(code);
    cmd->Total = count;
    cmd->StartPage = start;
    cmd->PageCount = count;
    cmd->PageData = data;
    return cmd;
}

inline std::shared_ptr<CReader::_CMD_MC_INFO> McCommand(uint32_t code, uint32_t sector, uint32_t block,
                                                        uint32_t count,
                                                        const std::vector<uint8_t>& data = {})
{
    auto cmd = std::make_shared<CReader::_CMD_MC_INFO>(code);
    cmd->Total = count;
    cmd->Sector = sector;
    cmd->Block = block;
    cmd->BlockCount = count;
    cmd->Key = 0x3C7A91E5B20DULL;
    cmd->BlockData = data;
    return cmd;
}

inline std::shared_ptr<CReader::_CMD_SIGN_INFO> SignalCommand(const std::wstring& pattern, uint32_t firstStep)
{
    auto cmd = std::make_shared<CReader::_CMD_SIGN_INFO>();
    cmd->Pattern = pattern;
    cmd->FirstStep = firstStep;
    return cmd;
}

} // namespace readertest
