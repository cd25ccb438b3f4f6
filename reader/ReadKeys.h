// The read-keys settings that reader threads read live, at every poll, from the one component of
// the process: which key types to report and which data to read from Mifare Classic and Ultralight
// cards. The component owns one block and makes it current; until a component does, readers see
// a block of built-in defaults.
//
// Rule: the block is written on the owner's thread and read on reader threads without a lock, so
// every field is atomic; a reader takes a consistent copy of one sub-record only through the
// getters (a change between two getters is seen at the next poll).
#pragma once
#include "KeyData.h"
#include "Settings.h"
#include <atomic>
#include <cstdint>

struct ReadKeysBlock
{
    std::atomic<uint32_t> KeyTypes{KEY_TYPES_ALL}; // bit n: report key type n

    struct ReadMfBlock
    {
        std::atomic<uint32_t> Enabled{0};
        std::atomic<uint32_t> Flags{0}; // bit 0 key B, bit 1 keys stored in the reader
        std::atomic<uint32_t> Mask{0xFFFFFFFF};
        std::atomic<uint64_t> Passw{0x3C7A91E5B20DULL};
        std::atomic<uint32_t> Sect{0};
        std::atomic<uint32_t> Block{1};
    } ReadMf;

    struct ReadULBlock
    {
        std::atomic<uint32_t> Enabled{0};
        std::atomic<uint32_t> Page{4};
        std::atomic<uint32_t> Count{1};
    } ReadUL;

    void SetReadMf(const ReadMfSettings& s);
    void SetReadUL(const ReadULSettings& s);
    ReadMfSettings GetReadMf() const;
    ReadULSettings GetReadUL() const;
    bool WantsKeyType(uint32_t keyType) const
    {
        return keyType < 32 && (KeyTypes.load(std::memory_order_relaxed) >> keyType & 1) != 0;
    }
};

// The block readers read: the one made current, else the built-in defaults. Never null.
ReadKeysBlock& CurrentReadKeys();
// Makes `block` current (null: back to the defaults). The block must outlive every reader that
// may still read it; the newest owner wins.
void SetCurrentReadKeys(ReadKeysBlock* block);
// Back to the defaults when `block` is still the current one (its owner goes, maybe on another
// thread than the one making a newer owner).
void ReleaseCurrentReadKeys(ReadKeysBlock* block);
