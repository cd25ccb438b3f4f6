// The frame codec of the Pelto protocol. A frame is a command byte, data bytes and a check byte
// that makes command + data + check sum to 0 (mod 256); the bytes 0xC0 and 0xDB inside it are
// escaped (0xDB 0x01 and 0xDB 0xDD), and an unescaped 0xC0 closes it. Pure functions: no state,
// no lock; they read only inside the bytes they are given.
#pragma once
#include <windows.h>
#include "ConverterWay.h"
#include <cstddef>
#include <cstdint>
#include <string>

const uint8_t PELTO_FRAME_END = 0xC0;

// Appends the escaped form of `count` bytes to `out`.
void PeltoEscape(std::string& out, const uint8_t* bytes, size_t count);
// Appends the unescaped form of `count` bytes to `out`; 0xDB followed by anything but 0x01 or
// 0xDD, and a 0xDB at the end, yield nothing.
void PeltoUnescape(const uint8_t* bytes, size_t count, std::string& out);
// A whole request frame: escaped command, data and check byte, then the terminator.
std::string PeltoBuildFrame(uint8_t command, const uint8_t* data, size_t count);
// Checks one received frame, `count` bytes up to and including its terminator, and takes out
// the command and the payload (the bytes between command and check byte, unescaped).
// S_OK or PE_BAD_REPLY (0x80040218).
HRESULT PeltoCheckFrame(const uint8_t* bytes, size_t count, uint32_t& command, std::string& payload);
// The Pelto frame and its check, by which a network converter's way with 0xFF shows.
const ConverterFrameCheck& PeltoConverterFrameCheck();
