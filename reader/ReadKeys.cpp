// The process-wide read-keys block that reader threads consult at every poll.
#include "ReadKeys.h"

namespace {

ReadKeysBlock DefaultReadKeys;
std::atomic<ReadKeysBlock*> Current{nullptr};

} // namespace

void ReadKeysBlock::SetReadMf(const ReadMfSettings& s)
{
    ReadMf.Enabled = s.Enabled;
    ReadMf.Flags = s.Flags;
    ReadMf.Mask = s.Mask;
    ReadMf.Passw = s.Passw;
    ReadMf.Sect = s.Sect;
    ReadMf.Block = s.Block;
}

void ReadKeysBlock::SetReadUL(const ReadULSettings& s)
{
    ReadUL.Enabled = s.Enabled;
    ReadUL.Page = s.Page;
    ReadUL.Count = s.Count;
}

ReadMfSettings ReadKeysBlock::GetReadMf() const
{
    ReadMfSettings s;
    s.Enabled = ReadMf.Enabled;
    s.Flags = ReadMf.Flags;
    s.Mask = ReadMf.Mask;
    s.Passw = ReadMf.Passw;
    s.Sect = ReadMf.Sect;
    s.Block = ReadMf.Block;
    return s;
}

ReadULSettings ReadKeysBlock::GetReadUL() const
{
    ReadULSettings s;
    s.Enabled = ReadUL.Enabled;
    s.Page = ReadUL.Page;
    s.Count = ReadUL.Count;
    return s;
}

ReadKeysBlock& CurrentReadKeys()
{
    ReadKeysBlock* block = Current.load(std::memory_order_acquire);
    return block ? *block : DefaultReadKeys;
}

void SetCurrentReadKeys(ReadKeysBlock* block)
{
    Current.store(block, std::memory_order_release);
}

void ReleaseCurrentReadKeys(ReadKeysBlock* block)
{
    Current.compare_exchange_strong(block, nullptr, std::memory_order_acq_rel);
}
