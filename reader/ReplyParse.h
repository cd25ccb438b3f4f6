// Pure parsers of what readers and network converters send: the identification text, the key
// lines of the text protocol, a binary-protocol reply frame and a converter's discovery reply, plus
// the texts made of reader traffic for the log. Nothing here keeps state or takes a lock; every
// function reads only inside the buffer it is given, whatever the bytes say.
#pragma once
#include "KeyData.h"
#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <string>

// The identification text a reader sends for "i", already widened from the ANSI code page.
// Fills device code, serial number and packed firmware version; true when the text is a complete
// identification. moreNeeded (optional) is 1 while the text has fewer than five lines, else 0.
BOOL ParseReaderInfo(const std::wstring& text, uint16_t& deviceCode, uint32_t& serialNumber,
                     uint32_t& version, uint32_t* moreNeeded = nullptr);

// One key line of the text protocol, widened, without its line end. Model index and packed
// firmware version select the quirks of old firmware; noCorrection is true when the CorrectVM100
// setting is off. True when a key type other than 0 was found; keyType and key are always set
// (0 and empty when not).
BOOL ParseKeyText(const std::wstring& line, uint32_t& keyType, KeyData& key, uint32_t model,
                  uint32_t version, BOOL noCorrection);

// Checks a binary-protocol reply frame of exactly `count` bytes (0x02, sequence, length, command,
// payload, 16-bit sum) and takes out sequence byte, command byte and payload. S_OK, or
// PE_BAD_REPLY (0x80040218) with an empty payload.
HRESULT CheckReplyFrame(const uint8_t* frame, int count, uint32_t& sequence, uint32_t& command,
                        std::string& payload);

// The binary protocol's frame hunt over received bytes: drops bytes before a start byte, broken
// frames and frames that answer anything but this request (another sequence number or another
// command), each taken out of rx. TRUE with the payload of the first reply to (sequence, command);
// FALSE when rx holds no such frame yet (a partial frame stays).
BOOL TakeReplyFrame(std::string& rx, uint8_t sequence, uint8_t command, std::string& payload);

// The text reply to "get" for `page`: four lines "PP: B0 B1 B2 B3" (CR LF after each) and a line
// with "OK". The page numbers must run on from the page asked (after a card's last page comes page
// 0) and every value must fit a byte. TRUE with the 16 bytes of the four pages.
BOOL ParsePageReply(const std::string& text, uint32_t page, uint8_t data[16]);

// The reply line that reports a page written ("OK", letter case and blanks aside).
BOOL IsPageWritten(const std::string& reply);

// The bus address a reply names at its head: decimal digits followed by a blank or the line end.
BOOL ParseReplyAddress(const std::string& line, int32_t& address);

// A network converter's reply to the discovery broadcast (the datagram's bytes). Each output may
// be null; outputs are written only when the reply is accepted.
BOOL ParseSeekReply(const std::string& reply, uint32_t* firstPort, uint32_t* secondPort,
                    std::string* firstAddress, std::string* secondAddress);

// Reader text for the log: line feed and carriage return shown as "\n" and "\r", everything else
// as it stands. The narrow form widens with the ANSI code page. length -1 = up to the NUL.
void EscapeForLog(std::wstring& out, const char* text, int length = -1);
void EscapeForLogW(std::wstring& out, const wchar_t* text, int length = -1);

// "01 AB": two upper-case hexadecimal digits per byte, separated by blanks.
void BytesToHex(std::wstring& out, const uint8_t* bytes, size_t count);
