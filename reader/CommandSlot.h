// The records that the owner places in a reader's single command slot: reading or writing
// Mifare Ultralight pages, reading or writing Mifare Classic blocks, and a signal pattern; plus
// the snapshot through which the owner reads a command's outcome.
//
// How to use the slot (owner's thread):
//   auto cmd = std::make_shared<CReader::_CMD_MUL_INFO>(READER_CMD_READ_UL);
//   cmd->Total = count; cmd->StartPage = page; cmd->PageCount = count;
//   reader->BreakCommand();      // optional: PlaceCommand ends a pending command itself
//   reader->PlaceCommand(cmd);   // status E_PENDING; IReaderEvents::OnCommand on completion
//   ... ReaderCommandSnapshot s; reader->GetCommandSnapshot(s);  // status, progress, data
//
// Rules: fill every input field before PlaceCommand and do not change the record afterwards;
// the reader thread appends the result data under the reader's lock, so read results only
// through GetCommandSnapshot. A record stays in the slot, with its data, until the next
// PlaceCommand replaces it.
#pragma once
#include "Reader.h"
#include <cstdint>
#include <string>
#include <vector>

// Command codes.
const uint32_t READER_CMD_READ_UL = 1;
const uint32_t READER_CMD_WRITE_UL = 2;
const uint32_t READER_CMD_READ_MC = 3;
const uint32_t READER_CMD_WRITE_MC = 4;
const uint32_t READER_CMD_SIGNAL = 5;

// Key flags of a Mifare Classic command.
const uint32_t READER_CMD_KEY_B = 0x01;      // authenticate with key B (else key A)
const uint32_t READER_CMD_KEY_STORED = 0x02; // with the keys stored in the reader (KeyMask selects)

// Ultralight pages. A read fills PageData with 4 bytes a page; a write takes PageData 4 bytes a
// page from StartPage on (a last partial page is padded with zero bytes).
struct CReader::_CMD_MUL_INFO : ReaderCommand
{
    explicit _CMD_MUL_INFO(uint32_t code = READER_CMD_READ_UL) { Code = code; }
    uint32_t StartPage = 0;
    uint32_t PageCount = 0;
    std::vector<uint8_t> PageData;
};

// Mifare Classic blocks from Sector/Block on. A read fills BlockData with 16 bytes a block; a
// write takes BlockData 16 bytes a block (short data are padded with zero bytes).
struct CReader::_CMD_MC_INFO : ReaderCommand
{
    explicit _CMD_MC_INFO(uint32_t code = READER_CMD_READ_MC) { Code = code; }
    uint32_t Sector = 0;
    uint32_t Block = 0;        // block within the sector
    uint32_t BlockCount = 0;
    uint32_t KeyFlags = 0;     // READER_CMD_KEY_*
    uint32_t KeyMask = 0;      // selector of the stored keys (bit i = stored key i)
    uint64_t Key = 0;          // the low 48 bits are the sector key
    std::vector<uint8_t> BlockData;
    uint32_t SkipTrailers = 0; // nonzero: pass over the sector trailers without counting them
    uint32_t Answer = 0xFFFFFFFF; // the first answer byte of a stored-key authentication
};

// A signal pattern: steps separated by ";", each up to three single digits (LED and sound
// fields) and a duration in ms, for example "2 1 3 250". An empty pattern sends the idle
// indication at once.
struct CReader::_CMD_SIGN_INFO : ReaderCommand
{
    _CMD_SIGN_INFO() { Code = READER_CMD_SIGNAL; Total = 1; }
    std::wstring Pattern;
    uint32_t FirstStep = 1;
};

// What GetCommandSnapshot copies out of the slot.
struct ReaderCommandSnapshot
{
    HRESULT Status = S_OK;     // E_PENDING while waiting or running, else the outcome
    bool HasCommand = false;   // false: the slot never held a record (code, progress, total 0)
    uint32_t Code = 0;
    uint32_t Progress = 0;
    uint32_t Total = 0;
    std::vector<uint8_t> Data; // page data (codes 1, 2) or block data (codes 3, 4)
    uint32_t Answer = 0xFFFFFFFF; // answer word (codes 3, 4), else 0xFFFFFFFF
};
