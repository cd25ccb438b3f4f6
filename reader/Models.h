// The nine reader models: their index (stored in settings, so the numbers never change), their
// names, the device codes by which a reader identifies itself, and what each model can do.
// Also the packed firmware version a reader reports (byte 0 = first component).
#pragma once
#include <cstdint>

const uint32_t MODEL_UNKNOWN = 0; // also "Auto" where a model is configured
const uint32_t MODEL_KORA_USB = 1;
const uint32_t MODEL_LINTRA_MULTI = 2;
const uint32_t MODEL_KORA_USB_MF = 3;
const uint32_t MODEL_LINTRA_NET = 4;
const uint32_t MODEL_KORA_DESK_MF = 5;
const uint32_t MODEL_KORA_DUO = 6;
const uint32_t MODEL_KORA_BASE = 7;
const uint32_t MODEL_LINTRA_PLUS = 8;
const uint32_t MODEL_PELTO = 9;
const uint32_t MODEL_COUNT = 10; // table size, index 0 included

// Model names indexed by model index ("?" for 0).
extern const wchar_t* const ReaderModels[MODEL_COUNT];
// ReaderModels[model], or "?" for an index outside the table.
const wchar_t* ReaderModelName(uint32_t model);

// The model index of a device code from the identification text; 0 for an unsupported code.
uint32_t ModelFromCode(uint16_t code);

// What a model can do (combinable bits).
const uint32_t MODEL_FEATURE_TEXT = 0x01;         // speaks the line protocol after identification
const uint32_t MODEL_FEATURE_BINARY = 0x02;       // can be switched into the framed binary mode
const uint32_t MODEL_FEATURE_CARD_COMMANDS = 0x04; // Mifare block and signal commands in binary mode
const uint32_t MODEL_FEATURE_TEXT_PAGES = 0x08;   // Ultralight page reads and writes over text
const uint32_t MODEL_FEATURE_OUTPUT_SETUP = 0x10; // its card output format is loaded at connection
const uint32_t MODEL_FEATURE_PELTO = 0x20;        // speaks the Pelto frames at 115200 Bd
// The feature bits of a model; 0 for index 0 and indexes outside the table.
uint32_t ModelFeatures(uint32_t model);
inline bool ModelHas(uint32_t model, uint32_t feature) { return (ModelFeatures(model) & feature) != 0; }

// Packed firmware version: byte 0 = first component, byte 1 = second, byte 2 = third, byte 3 =
// fourth (3.10 is 0x0A03); a first component of 255 or more is stored as (value << 8) | 0xFF with
// no further components. VersionToText (Numbers.h) gives its text.
uint32_t PackFirmwareVersion(uint32_t first, uint32_t second = 0, uint32_t third = 0, uint32_t fourth = 0);
// The first component (also of the large-number form) and the second one (0 in that form).
uint32_t FirmwareMajor(uint32_t version);
uint32_t FirmwareMinor(uint32_t version);
