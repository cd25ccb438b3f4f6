// The Telnet layer (RFC 854) between the TCP port and a network converter: it finds out from the
// converter's own bytes whether the converter speaks Telnet, removes the Telnet commands from what
// a Telnet converter sends, and doubles a 0xFF sent to one. Bytes of a command that has not
// arrived whole are held until it has.
//
// Which way a converter goes, per connection:
// - An IAC followed by a byte below 0xF0 is no Telnet command: no Telnet converter sends it, so the
//   converter passes bytes as they are (raw). That is final for the connection; the two bytes and
//   everything after them are data.
// - A negotiation (IAC WILL/WONT/DO/DONT, a sub-negotiation), IAC IAC or another Telnet command
//   shows a Telnet converter. A raw converter can send the same bytes by chance in a reader's
//   binary data (FF FF, FF FB 03), so this stays open to the raw sign above, which no Telnet
//   converter can give; a converter that negotiates at connection shows its way before any data.
// - Until either sign comes, the doubtful bytes are taken the Telnet way, as RFC 854 reads them
//   (IAC IAC is one 0xFF, a command is removed), and bytes are sent as they are. What that costs:
//   behind a raw converter, data holding 0xFF followed by 0xF0 or more (FF FF, FF F5) that comes
//   before the converter's first 0xFF followed by a lower byte is read wrong (a frame fails its
//   check), and the converter is taken for Telnet, with 0xFF doubled to it, until that sign comes;
//   a Telnet converter that neither negotiates nor has sent a 0xFF takes a 0xFF sent to it for a
//   command. The binary protocol meets neither: while the way is unknown it keeps 0xFF out of its
//   requests and makes the reader's first reply show the way (FrameSequence.h). The text and bus
//   protocols carry no 0xFF, nor do Pelto requests.
// - A framed protocol with a check (a Pelto's) settles the doubt by its frames: while the way is
//   unknown, the bytes of a frame are held until its end has come, and a frame holding 0xFF that
//   fits better as it came (its check, then its form: ConverterWay.h) shows a raw converter, one
//   that fits better read the Telnet way shows a Telnet one; the frame is handed on as read that
//   way. A frame that fits both ways alike shows nothing and is read the Telnet way.
//
// Rule: what is held is bounded, and no data is held for long. A converter's sub-negotiations
// (IAC SB ... IAC SE) are a few bytes: one whose end has not come is held while it is short. When
// more than MaxSubnegotiation bytes follow IAC SB without IAC SE, they are no sub-negotiation (the
// two bytes come by chance in a raw reader's binary frames, or from a broken converter): only IAC
// SB is dropped and the bytes after it are decoded as data. The same holds however TCP splits the
// stream. A frame whose end has not come is held while it is no longer than MaxHeldFrame; beyond
// that its bytes are decoded as they stand.
#pragma once
#include "ConverterWay.h"
#include <cstddef>
#include <string>

class CTelnetDecoder
{
public:
    static constexpr size_t MaxSubnegotiation = 16;
    static constexpr size_t MaxHeldFrame = 256;

    // Decodes `length` more bytes and appends the data among them to `data`.
    void Feed(const char* bytes, size_t length, std::string& data);
    // Appends `length` bytes to `out` as they travel to the converter: with 0xFF doubled to one
    // that speaks Telnet, as they are otherwise.
    void Encode(const char* bytes, size_t length, std::string& out) const;
    // The frames of the protocol now spoken, whose check may show the way (null: none).
    void SetFrameCheck(const ConverterFrameCheck* check) { m_frameCheck = check; }
    // A new connection: forgets what was held and the converter's way.
    void Reset();
    // Forgets what was held (a purge); the converter's way stays known.
    void DropHeld() { m_raw.clear(); }
    // Bytes held for a command, or a frame, that has not arrived whole.
    size_t Held() const { return m_raw.size(); }
    // The converter's way as its bytes have shown it so far (Unknown, Telnet or Raw).
    ConverterWay Way() const { return m_way; }
    // The bytes that showed the way (empty while it is unknown).
    const std::string& ShownBy() const { return m_shownBy; }
    // The way was shown by a frame's check (ShownBy is that frame), not by a Telnet sign.
    bool ShownByFrameCheck() const { return m_byFrameCheck; }

private:
    enum class SubnegotiationEnd { Found, Pending, TooLong, NotTelnet };
    // Looks for the IAC SE of the sub-negotiation whose body starts at `body`; when found, `end`
    // is the position after it. An IAC IAC inside belongs to the body. NotTelnet: an IAC followed
    // by a byte that is no Telnet command came first, at `end`.
    SubnegotiationEnd FindSubnegotiationEnd(size_t body, size_t& end) const;
    // The `count` raw bytes at `at` showed the converter's way.
    void Show(ConverterWay way, size_t at, size_t count);
    // While the way is unknown and frames have a check: hands on each whole frame at the front of
    // the held bytes as its check shows it; false while a frame is incomplete and held.
    bool TakeCheckedFrames(std::string& data);

    std::string m_raw;              // received, not yet decoded
    ConverterWay m_way = ConverterWay::Unknown;
    std::string m_shownBy;
    bool m_byFrameCheck = false;
    const ConverterFrameCheck* m_frameCheck = nullptr;
};
