// Client of the reader simulator's control channel (tools/readersim), for tests that
// run the reader engine against simulated readers instead of hardware.
//
// The hub listens on 127.0.0.1; its port comes from the environment variable
// READERSIM_CONTROL_PORT unless given. Every request is one JSON line and every
// reply one JSON line; a reply with "ok": false is thrown as CSimControlError
// carrying the hub's error text. Texts on this channel are byte strings: every
// byte maps to one character U+0000-U+00FF, which is how reader lines travel.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace simctl {

class CSimControlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Bytes = std::vector<uint8_t>;

// A parsed reply value; small and tolerant: missing members read as null.
class JsonValue {
public:
    enum class Type { Null, Bool, Number, String, Array, Object };

    static JsonValue Parse(const std::string& text);   // throws CSimControlError

    Type GetType() const { return type_; }
    bool IsNull() const { return type_ == Type::Null; }
    bool AsBool(bool def = false) const { return type_ == Type::Bool ? boolean_ : def; }
    int64_t AsInt(int64_t def = 0) const;
    double AsDouble(double def = 0) const { return type_ == Type::Number ? number_ : def; }
    const std::string& AsString() const { return string_; }   // empty unless a string
    size_t Size() const { return type_ == Type::Array ? array_.size() : object_.size(); }
    const JsonValue& operator[](size_t index) const;
    const JsonValue& operator[](const std::string& key) const;
    bool Has(const std::string& key) const;
    const std::vector<std::pair<std::string, JsonValue>>& Members() const { return object_; }

private:
    friend class JsonParser;
    Type type_ = Type::Null;
    bool boolean_ = false;
    double number_ = 0;
    bool integral_ = false;
    int64_t integer_ = 0;
    std::string string_;
    std::vector<JsonValue> array_;
    std::vector<std::pair<std::string, JsonValue>> object_;
};

// Builds the fields of one request object.
class JsonFields {
public:
    JsonFields& Add(const std::string& key, const std::string& text);
    JsonFields& Add(const std::string& key, const char* text) { return Add(key, std::string(text)); }
    JsonFields& Add(const std::string& key, int64_t number);
    JsonFields& Add(const std::string& key, int number) { return Add(key, static_cast<int64_t>(number)); }
    JsonFields& Add(const std::string& key, unsigned number) { return Add(key, static_cast<int64_t>(number)); }
    JsonFields& Add(const std::string& key, bool flag);
    JsonFields& AddNull(const std::string& key);
    JsonFields& AddHex(const std::string& key, const Bytes& bytes);
    JsonFields& AddRaw(const std::string& key, const std::string& json);   // array or object
    JsonFields& Merge(const JsonFields& other);                            // other's fields too
    std::string Object(const std::string& cmd = std::string()) const;      // "{...}"
    bool Empty() const { return body_.empty(); }

    static std::string Quote(const std::string& text);
    static std::string Hex(const Bytes& bytes);

private:
    std::string body_;
};

// Identity of one simulated reader (a directly connected one, or one bus address).
// Unset fields keep the hub's defaults.
struct SimIdentity {
    int model = 0;               // 1-9; 0 = default (1, Kora USB)
    int64_t serial = -1;         // -1 = default
    int deviceCode = -1;         // -1 = the model's code
    std::string version;         // empty = default ("1.0")
    bool noVersion = false;      // no "Software version:" line (the text ends with "Build")
    std::string build;           // "Nov 16 2010 12:00:00"; empty = none
    std::vector<std::string> identLines;   // non-empty: the whole identification text
    int powered = -1;            // -1 default (on), 0 off, 1 on
};

struct SimBusAddress {
    int address = 0;             // 0-99999
    SimIdentity identity;
};

struct SimReaderConfig {
    std::string protocol = "text";   // "text" or "bus"
    SimIdentity identity;            // text protocol only
    std::vector<SimBusAddress> addresses;   // bus only
    bool echo = false;               // bus: each address echoes itself before identifying
    int speed = 0;                   // 0 = default (9600; 115200 for a Pelto)
    int pace = -1;                   // -1 default (on), 0 off, 1 on
    int replyDelayMs = -1;           // -1 = default (0)
    int dropWhenClosed = -1;         // serial: -1 default (on)
    int telnetEscape = -1;           // TCP: -1 default (on)
    std::string converter;           // TCP: "raw", "telnet", "rfc2217", "telnet_doubling";
                                     // empty = default (telnet_doubling, or as telnetEscape says)
    std::vector<std::string> storedKeys;   // keys stored in a Mifare reader, 12 hex digits
                                           // each; empty = the hub's default
};

struct SimReaderInfo {
    int id = 0;
    std::string port;        // "COM5" or "127.0.0.1:40123"
    std::string pty;         // serial: /dev/pts/N
    int tcpPort = 0;         // TCP: the listening port
};

// A card to present. Give type and key, or line, or (409/410 bus readers) number.
struct SimCard {
    std::string type;            // key type number or name: "EM", "HID", "M1K", "UL", "DS", ...
    Bytes key;                   // key record bytes, byte 0 first (Kora Base: raw b0..b7)
    std::string line;            // exact line to print instead
    int64_t number = -1;         // 409/410 bus readers
    Bytes memory;                // Ultralight: pages from page 0 (rest keeps the default)
    int pages = 0;               // Ultralight page count; 0 = 16
    std::vector<int> lockedPages;   // Ultralight; empty = default {0, 1}
    std::string mifareForm;      // "word", "sak" or "both"; empty = by key type
    int atqa = -1;
    int sak = -1;
    std::string keyA;            // Mifare Classic keys A and B of every sector, 12 hex
    std::string keyB;            // digits; empty = the engine's default key
    bool add = false;            // framed readers: one more card in the field
};

struct SimChunk {
    Bytes bytes;
    unsigned delayMs = 0;        // pause before this chunk
};

// One piece of a Telnet sequence sent by a simulated converter.
struct SimTelnetItem {
    static SimTelnetItem Data(const Bytes& bytes);                      // 0xFF doubled
    static SimTelnetItem Option(const std::string& verb, int option);   // will/wont/do/dont
    static SimTelnetItem Sub(int option, const Bytes& bytes);           // IAC SB ... IAC SE
    static SimTelnetItem Command(uint8_t command);                      // IAC <command>
    static SimTelnetItem Raw(const Bytes& bytes);                       // as it stands
    std::string json;
};

// One network converter that a discovery responder announces: a TCP reader of the hub
// (reader) or a port (tcpPort); or, with reply, a datagram that is not a converter's.
struct SimConverter {
    int reader = 0;              // reader id; 0 = announce tcpPort
    int tcpPort = 0;
    int tcpPort2 = 0;            // 0 = not in use
    std::string address;         // empty = "0.0.0.0" (the converter's own address)
    std::string address2;
    std::string reply;           // non-empty: the whole datagram instead
};

struct SimDiscoveryInfo {
    int id = 0;
    int udpPort = 0;             // on 127.0.0.1
};

class CSimControl {
public:
    explicit CSimControl(unsigned short port = 0);   // 0: READERSIM_CONTROL_PORT
    ~CSimControl();
    CSimControl(const CSimControl&) = delete;
    CSimControl& operator=(const CSimControl&) = delete;

    unsigned short Port() const { return port_; }

    // One request; fields as built, reply members as parsed. Throws on failure.
    JsonValue Call(const std::string& cmd, const JsonFields& fields = JsonFields(),
                   unsigned replyTimeoutMs = 30000);

    void Ping();
    SimReaderInfo CreateSerial(int com, const SimReaderConfig& config = SimReaderConfig());
    SimReaderInfo CreateTcp(const SimReaderConfig& config = SimReaderConfig(), int tcpPort = 0);
    void Destroy(int id);
    std::vector<SimReaderInfo> List();
    JsonValue Info(int id);
    // Changes reader fields ("speed", "pace", "reply_delay_ms", "silent", ...) and, with an
    // address on a bus or on a direct reader without one, identity fields.
    void Set(int id, const JsonFields& fields, int address = -1);
    void SetSpeed(int id, int speed);

    std::string Present(int id, const SimCard& card, int address = -1, bool notify = true,
                        bool wait = true);
    std::string PresentKey(int id, const std::string& type, const Bytes& key, int address = -1);
    std::string PresentLine(int id, const std::string& line, int address = -1);
    bool Remove(int id, int address = -1, bool notify = true, bool wait = true);
    // Removes one card (by its key bytes) of the cards in a reader's field.
    bool RemoveKey(int id, const Bytes& key, bool notify = true, bool wait = true);
    void Silent(int id, bool on);
    void Power(int id, int address, bool on);

    void Send(int id, const std::vector<SimChunk>& chunks, bool wait = true);
    void SendBytes(int id, const Bytes& bytes, bool wait = true);
    void SendText(int id, const std::string& text, bool wait = true);
    Bytes Telnet(int id, const std::vector<SimTelnetItem>& items,
                 const std::vector<size_t>& split = {}, unsigned delayMs = 50, bool wait = true);
    void Disconnect(int id, bool abort = false, unsigned delayMs = 0);
    std::string Plug(int id);

    Bytes Received(int id, bool clear = false);
    Bytes Sent(int id, bool clear = false);
    bool WaitReceivedText(int id, const std::string& text, unsigned timeoutMs,
                          bool consume = false, int count = 1);
    bool WaitReceivedBytes(int id, const Bytes& bytes, unsigned timeoutMs,
                           bool consume = false, int count = 1);
    bool WaitReceivedRegex(int id, const std::string& regex, unsigned timeoutMs,
                           bool consume = false, int count = 1);

    int Override(int id, const std::string& match, const std::string& reply, int times = -1);
    int OverrideSilent(int id, const std::string& match, int times = -1);
    void ClearOverrides(int id);
    // Answers a frame whose command and data begin with matchHex ("45", "5104") with a
    // well-formed reply of the given status and answer (binary replies: the request's sequence
    // number plus seqDelta); with alsoAnswer the reader answers normally afterwards too.
    int OverrideFrame(int id, const std::string& matchHex, int status, const Bytes& answer,
                      int times = -1, int seqDelta = 0, bool alsoAnswer = false);
    // Answers such a frame with these bytes as they stand (or, empty, with silence).
    int OverrideFrameRaw(int id, const std::string& matchHex, const Bytes& reply, int times = -1);

    // The frames a framed reader heard (command and data as hex), with the hub's time in ms.
    struct Frame {
        std::string hex;
        double ms = 0;
        int seq = -1;        // binary frames: the request's number
    };
    std::vector<Frame> Frames(int id, bool clear = false);

    // A UDP responder on 127.0.0.1 that answers "SEEK QuorIP" with one datagram per
    // converter, in order. udpPort 0 = any free port.
    SimDiscoveryInfo StartDiscovery(const std::vector<SimConverter>& converters, int udpPort = 0,
                                    int replyDelayMs = 0);
    // "requests", "ignored", "replies_sent", "senders", ...
    JsonValue DiscoveryInfo(int id);
    void StopDiscovery(int id);

    static Bytes FromHex(const std::string& hex);

private:
    class CWinsock;
    class CSocket;

    std::string ReadLine(unsigned timeoutMs);
    bool WaitReceived(int id, JsonFields fields, unsigned timeoutMs, bool consume, int count);
    static SimReaderInfo ReaderInfo(const JsonValue& reply);

    unsigned short port_;
    std::unique_ptr<CWinsock> winsock_;
    std::unique_ptr<CSocket> socket_;
    std::string pending_;
};

}  // namespace simctl
