// Client of the reader simulator's control channel: a blocking Winsock connection to
// 127.0.0.1, one JSON line per request and per reply, and a small JSON reader for the
// replies. See SimControl.h.
#include "SimControl.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace simctl {

namespace {

std::string OsText(int code)
{
    char* buffer = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(code), 0,
                             reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = n && buffer ? std::string(buffer, n) : std::string();
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    char code_text[32];
    std::snprintf(code_text, sizeof code_text, "error %d", code);
    return text.empty() ? std::string(code_text) : std::string(code_text) + ": " + text;
}

[[noreturn]] void Fail(const std::string& what)
{
    throw CSimControlError("reader simulator: " + what);
}

const JsonValue& NullValue()
{
    static const JsonValue null;
    return null;
}

void AddIdentity(JsonFields& f, const SimIdentity& id)
{
    if (id.model)
        f.Add("model", id.model);
    if (id.serial >= 0)
        f.Add("serial", id.serial);
    if (id.deviceCode >= 0)
        f.Add("device_code", id.deviceCode);
    if (id.noVersion)
        f.AddNull("version");
    else if (!id.version.empty())
        f.Add("version", id.version);
    if (!id.build.empty())
        f.Add("build", id.build);
    if (!id.identLines.empty()) {
        std::string lines = "[";
        for (size_t i = 0; i < id.identLines.size(); ++i)
            lines += (i ? "," : "") + JsonFields::Quote(id.identLines[i]);
        f.AddRaw("ident_lines", lines + "]");
    }
    if (id.powered >= 0)
        f.Add("powered", id.powered != 0);
}

JsonFields ReaderFields(const SimReaderConfig& c)
{
    JsonFields f;
    f.Add("protocol", c.protocol);
    if (c.protocol == "bus") {
        std::string list = "[";
        for (size_t i = 0; i < c.addresses.size(); ++i) {
            JsonFields a;
            a.Add("address", c.addresses[i].address);
            AddIdentity(a, c.addresses[i].identity);
            list += (i ? "," : "") + a.Object();
        }
        f.AddRaw("addresses", list + "]");
        if (c.echo)
            f.Add("echo", true);
    } else {
        AddIdentity(f, c.identity);
    }
    if (c.speed > 0)
        f.Add("speed", c.speed);
    if (c.pace >= 0)
        f.Add("pace", c.pace != 0);
    if (c.replyDelayMs >= 0)
        f.Add("reply_delay_ms", c.replyDelayMs);
    if (c.dropWhenClosed >= 0)
        f.Add("drop_when_closed", c.dropWhenClosed != 0);
    if (c.telnetEscape >= 0)
        f.Add("telnet_escape", c.telnetEscape != 0);
    if (!c.converter.empty())
        f.Add("converter", c.converter);
    if (!c.storedKeys.empty()) {
        std::string list = "[";
        for (size_t i = 0; i < c.storedKeys.size(); ++i)
            list += (i ? "," : "") + JsonFields::Quote(c.storedKeys[i]);
        f.AddRaw("stored_keys", list + "]");
    }
    return f;
}

// Reply texts carry one byte per character; anything above U+00FF (which the hub
// never sends) is kept as UTF-8.
void AppendCodePoint(std::string& out, unsigned cp)
{
    if (cp < 0x100) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

// --- JSON reading -------------------------------------------------------------

class JsonParser {
public:
    explicit JsonParser(const std::string& text) : s_(text) {}

    JsonValue Document()
    {
        JsonValue v = Value(0);
        Blank();
        if (i_ != s_.size())
            Error("text after the value");
        return v;
    }

private:
    [[noreturn]] void Error(const char* what)
    {
        Fail(std::string("bad reply (") + what + " at " + std::to_string(i_) + "): " +
             s_.substr(0, 200));
    }

    void Blank()
    {
        while (i_ < s_.size() && std::strchr(" \t\r\n", s_[i_]) && s_[i_])
            ++i_;
    }

    bool Take(char c)
    {
        Blank();
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }

    JsonValue Value(int depth)
    {
        if (depth > 64)
            Error("nesting too deep");
        Blank();
        if (i_ >= s_.size())
            Error("missing value");
        JsonValue v;
        char c = s_[i_];
        if (c == '{') {
            ++i_;
            v.type_ = JsonValue::Type::Object;
            if (Take('}'))
                return v;
            do {
                Blank();
                if (i_ >= s_.size() || s_[i_] != '"')
                    Error("member name expected");
                std::string key = String();
                if (!Take(':'))
                    Error("':' expected");
                v.object_.emplace_back(key, Value(depth + 1));
            } while (Take(','));
            if (!Take('}'))
                Error("'}' expected");
        } else if (c == '[') {
            ++i_;
            v.type_ = JsonValue::Type::Array;
            if (Take(']'))
                return v;
            do
                v.array_.push_back(Value(depth + 1));
            while (Take(','));
            if (!Take(']'))
                Error("']' expected");
        } else if (c == '"') {
            v.type_ = JsonValue::Type::String;
            v.string_ = String();
        } else if (s_.compare(i_, 4, "true") == 0 || s_.compare(i_, 5, "false") == 0) {
            v.type_ = JsonValue::Type::Bool;
            v.boolean_ = c == 't';
            i_ += v.boolean_ ? 4 : 5;
        } else if (s_.compare(i_, 4, "null") == 0) {
            i_ += 4;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            size_t start = i_;
            bool integral = true;
            while (i_ < s_.size() && std::strchr("+-0123456789.eE", s_[i_]) && s_[i_]) {
                if (std::strchr(".eE", s_[i_]))
                    integral = false;
                ++i_;
            }
            std::string number = s_.substr(start, i_ - start);
            v.type_ = JsonValue::Type::Number;
            v.number_ = std::strtod(number.c_str(), nullptr);
            v.integral_ = integral;
            if (integral)
                v.integer_ = std::strtoll(number.c_str(), nullptr, 10);
        } else {
            Error("unexpected character");
        }
        return v;
    }

    unsigned Hex4()
    {
        if (i_ + 4 > s_.size())
            Error("short \\u escape");
        unsigned cp = 0;
        for (int k = 0; k < 4; ++k) {
            char h = s_[i_++];
            cp <<= 4;
            if (h >= '0' && h <= '9')
                cp |= h - '0';
            else if (h >= 'a' && h <= 'f')
                cp |= h - 'a' + 10;
            else if (h >= 'A' && h <= 'F')
                cp |= h - 'A' + 10;
            else
                Error("bad \\u escape");
        }
        return cp;
    }

    std::string String()
    {
        ++i_;   // opening quote
        std::string out;
        while (true) {
            if (i_ >= s_.size())
                Error("unterminated string");
            char c = s_[i_++];
            if (c == '"')
                return out;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size())
                Error("unterminated escape");
            char e = s_[i_++];
            switch (e) {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {
                unsigned cp = Hex4();
                if (cp >= 0xD800 && cp < 0xDC00 && s_.compare(i_, 2, "\\u") == 0) {
                    i_ += 2;
                    unsigned low = Hex4();
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    out += static_cast<char>(0xF0 | (cp >> 18));
                    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
                    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                    out += static_cast<char>(0x80 | (cp & 0x3F));
                } else {
                    AppendCodePoint(out, cp);
                }
                break;
            }
            default: out += e; break;   // \" \\ \/
            }
        }
    }

    const std::string& s_;
    size_t i_ = 0;
};

JsonValue JsonValue::Parse(const std::string& text)
{
    return JsonParser(text).Document();
}

int64_t JsonValue::AsInt(int64_t def) const
{
    if (type_ != Type::Number)
        return def;
    return integral_ ? integer_ : static_cast<int64_t>(number_);
}

const JsonValue& JsonValue::operator[](size_t index) const
{
    return type_ == Type::Array && index < array_.size() ? array_[index] : NullValue();
}

const JsonValue& JsonValue::operator[](const std::string& key) const
{
    for (const auto& member : object_)
        if (member.first == key)
            return member.second;
    return NullValue();
}

bool JsonValue::Has(const std::string& key) const
{
    for (const auto& member : object_)
        if (member.first == key)
            return true;
    return false;
}

// --- JSON writing -------------------------------------------------------------

std::string JsonFields::Quote(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JsonFields::Hex(const Bytes& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

JsonFields& JsonFields::AddRaw(const std::string& key, const std::string& json)
{
    body_ += (body_.empty() ? "" : ",") + Quote(key) + ":" + json;
    return *this;
}

JsonFields& JsonFields::Merge(const JsonFields& other)
{
    if (!other.body_.empty())
        body_ += (body_.empty() ? "" : ",") + other.body_;
    return *this;
}

JsonFields& JsonFields::Add(const std::string& key, const std::string& text)
{
    return AddRaw(key, Quote(text));
}

JsonFields& JsonFields::Add(const std::string& key, int64_t number)
{
    return AddRaw(key, std::to_string(number));
}

JsonFields& JsonFields::Add(const std::string& key, bool flag)
{
    return AddRaw(key, flag ? "true" : "false");
}

JsonFields& JsonFields::AddNull(const std::string& key)
{
    return AddRaw(key, "null");
}

JsonFields& JsonFields::AddHex(const std::string& key, const Bytes& bytes)
{
    return AddRaw(key, Quote(Hex(bytes)));
}

std::string JsonFields::Object(const std::string& cmd) const
{
    std::string head = cmd.empty() ? std::string() : "\"cmd\":" + Quote(cmd);
    if (!head.empty() && !body_.empty())
        head += ",";
    return "{" + head + body_ + "}";
}

// --- Telnet items ---------------------------------------------------------------

SimTelnetItem SimTelnetItem::Data(const Bytes& bytes)
{
    return {JsonFields().AddHex("data_hex", bytes).Object()};
}

SimTelnetItem SimTelnetItem::Option(const std::string& verb, int option)
{
    return {JsonFields().Add("cmd", verb).Add("option", option).Object()};
}

SimTelnetItem SimTelnetItem::Sub(int option, const Bytes& bytes)
{
    return {JsonFields().Add("cmd", "sb").Add("option", option).AddHex("data_hex", bytes).Object()};
}

SimTelnetItem SimTelnetItem::Command(uint8_t command)
{
    return {JsonFields().Add("cmd", static_cast<int>(command)).Object()};
}

SimTelnetItem SimTelnetItem::Raw(const Bytes& bytes)
{
    return {JsonFields().AddHex("raw_hex", bytes).Object()};
}

// --- the connection -------------------------------------------------------------

// Winsock stays started for as long as the client lives.
class CSimControl::CWinsock {
public:
    CWinsock()
    {
        WSADATA data;
        int rc = WSAStartup(MAKEWORD(2, 2), &data);
        if (rc != 0)
            Fail("WSAStartup failed: " + OsText(rc));
    }
    ~CWinsock() { WSACleanup(); }
    CWinsock(const CWinsock&) = delete;
    CWinsock& operator=(const CWinsock&) = delete;
};

class CSimControl::CSocket {
public:
    explicit CSocket(SOCKET s) : s_(s) {}
    ~CSocket() { closesocket(s_); }
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    SOCKET Get() const { return s_; }

private:
    SOCKET s_;
};

CSimControl::CSimControl(unsigned short port) : port_(port)
{
    if (!port_) {
        char text[32] = {};
        DWORD n = GetEnvironmentVariableA("READERSIM_CONTROL_PORT", text, sizeof text);
        long value = n && n < sizeof text ? std::strtol(text, nullptr, 10) : 0;
        if (value <= 0 || value > 65535)
            Fail("READERSIM_CONTROL_PORT is not set to a port number (is the hub running?)");
        port_ = static_cast<unsigned short>(value);
    }
    winsock_.reset(new CWinsock());
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        Fail("socket failed: " + OsText(WSAGetLastError()));
    socket_.reset(new CSocket(s));
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port_);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        Fail("connect to 127.0.0.1:" + std::to_string(port_) + " failed: " +
             OsText(WSAGetLastError()));
    BOOL nodelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&nodelay), sizeof nodelay);
}

CSimControl::~CSimControl() = default;

std::string CSimControl::ReadLine(unsigned timeoutMs)
{
    DWORD timeout = timeoutMs;
    setsockopt(socket_->Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
    for (;;) {
        size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        char buffer[4096];
        int n = recv(socket_->Get(), buffer, sizeof buffer, 0);
        if (n == 0)
            Fail("the hub closed the control connection");
        if (n < 0) {
            int error = WSAGetLastError();
            Fail(error == WSAETIMEDOUT ? std::string("no reply from the hub in time")
                                       : "recv failed: " + OsText(error));
        }
        pending_.append(buffer, static_cast<size_t>(n));
    }
}

JsonValue CSimControl::Call(const std::string& cmd, const JsonFields& fields, unsigned replyTimeoutMs)
{
    std::string line = fields.Object(cmd) + "\n";
    size_t done = 0;
    while (done < line.size()) {
        int n = send(socket_->Get(), line.data() + done, static_cast<int>(line.size() - done), 0);
        if (n <= 0)
            Fail("send failed: " + OsText(WSAGetLastError()));
        done += static_cast<size_t>(n);
    }
    JsonValue reply = JsonValue::Parse(ReadLine(replyTimeoutMs));
    if (!reply["ok"].AsBool()) {
        const std::string& error = reply["error"].AsString();
        throw CSimControlError("reader simulator: " + cmd + ": " +
                               (error.empty() ? std::string("failed") : error));
    }
    return reply;
}

// --- commands -------------------------------------------------------------------

SimReaderInfo CSimControl::ReaderInfo(const JsonValue& reply)
{
    SimReaderInfo info;
    info.id = static_cast<int>(reply["id"].AsInt());
    info.port = reply["port"].AsString();
    info.pty = reply["pty"].AsString();
    info.tcpPort = static_cast<int>(reply["tcp_port"].AsInt());
    return info;
}

void CSimControl::Ping()
{
    Call("ping");
}

SimReaderInfo CSimControl::CreateSerial(int com, const SimReaderConfig& config)
{
    JsonFields f = ReaderFields(config);
    f.Add("mode", "serial").Add("com", com);
    return ReaderInfo(Call("create", f));
}

SimReaderInfo CSimControl::CreateTcp(const SimReaderConfig& config, int tcpPort)
{
    JsonFields f = ReaderFields(config);
    f.Add("mode", "tcp");
    if (tcpPort)
        f.Add("tcp_port", tcpPort);
    return ReaderInfo(Call("create", f));
}

void CSimControl::Destroy(int id)
{
    Call("destroy", JsonFields().Add("id", id));
}

std::vector<SimReaderInfo> CSimControl::List()
{
    JsonValue reply = Call("list");
    std::vector<SimReaderInfo> readers;
    for (size_t i = 0; i < reply["readers"].Size(); ++i)
        readers.push_back(ReaderInfo(reply["readers"][i]));
    return readers;
}

JsonValue CSimControl::Info(int id)
{
    return Call("info", JsonFields().Add("id", id));
}

void CSimControl::Set(int id, const JsonFields& fields, int address)
{
    JsonFields f;
    f.Add("id", id);
    if (address >= 0)
        f.Add("address", address);
    Call("set", f.Merge(fields));
}

void CSimControl::SetSpeed(int id, int speed)
{
    Set(id, JsonFields().Add("speed", speed));
}

std::string CSimControl::Present(int id, const SimCard& card, int address, bool notify, bool wait)
{
    JsonFields f;
    f.Add("id", id);
    if (address >= 0)
        f.Add("address", address);
    if (!card.type.empty())
        f.Add("type", card.type);
    if (!card.line.empty())
        f.Add("line", card.line);
    else if (card.number >= 0)
        f.Add("number", card.number);
    else
        f.AddHex("key", card.key);
    if (!card.memory.empty())
        f.AddHex("memory", card.memory);
    if (card.pages > 0)
        f.Add("pages", card.pages);
    if (!card.lockedPages.empty()) {
        std::string list = "[";
        for (size_t i = 0; i < card.lockedPages.size(); ++i)
            list += (i ? "," : "") + std::to_string(card.lockedPages[i]);
        f.AddRaw("locked_pages", list + "]");
    }
    if (!card.mifareForm.empty())
        f.Add("mifare_form", card.mifareForm);
    if (card.atqa >= 0)
        f.Add("atqa", card.atqa);
    if (card.sak >= 0)
        f.Add("sak", card.sak);
    if (!card.keyA.empty())
        f.Add("key_a", card.keyA);
    if (!card.keyB.empty())
        f.Add("key_b", card.keyB);
    if (card.add)
        f.Add("add", true);
    f.Add("notify", notify).Add("wait", wait);
    return Call("present", f)["line"].AsString();
}

std::string CSimControl::PresentKey(int id, const std::string& type, const Bytes& key, int address)
{
    SimCard card;
    card.type = type;
    card.key = key;
    return Present(id, card, address);
}

std::string CSimControl::PresentLine(int id, const std::string& line, int address)
{
    SimCard card;
    card.line = line;
    return Present(id, card, address);
}

bool CSimControl::Remove(int id, int address, bool notify, bool wait)
{
    JsonFields f;
    f.Add("id", id);
    if (address >= 0)
        f.Add("address", address);
    f.Add("notify", notify).Add("wait", wait);
    return Call("remove", f)["was_present"].AsBool();
}

bool CSimControl::RemoveKey(int id, const Bytes& key, bool notify, bool wait)
{
    JsonFields f;
    f.Add("id", id).AddHex("key", key).Add("notify", notify).Add("wait", wait);
    return Call("remove", f)["was_present"].AsBool();
}

void CSimControl::Silent(int id, bool on)
{
    Call("silent", JsonFields().Add("id", id).Add("on", on));
}

void CSimControl::Power(int id, int address, bool on)
{
    Call("power", JsonFields().Add("id", id).Add("address", address).Add("on", on));
}

void CSimControl::Send(int id, const std::vector<SimChunk>& chunks, bool wait)
{
    std::string list = "[";
    for (size_t i = 0; i < chunks.size(); ++i)
        list += (i ? "," : "") +
                JsonFields().AddHex("hex", chunks[i].bytes).Add("delay_ms", chunks[i].delayMs).Object();
    Call("send", JsonFields().Add("id", id).AddRaw("chunks", list + "]").Add("wait", wait));
}

void CSimControl::SendBytes(int id, const Bytes& bytes, bool wait)
{
    Call("send", JsonFields().Add("id", id).AddHex("hex", bytes).Add("wait", wait));
}

void CSimControl::SendText(int id, const std::string& text, bool wait)
{
    Call("send", JsonFields().Add("id", id).Add("text", text).Add("wait", wait));
}

Bytes CSimControl::Telnet(int id, const std::vector<SimTelnetItem>& items,
                          const std::vector<size_t>& split, unsigned delayMs, bool wait)
{
    std::string list = "[";
    for (size_t i = 0; i < items.size(); ++i)
        list += (i ? "," : "") + items[i].json;
    std::string cuts = "[";
    for (size_t i = 0; i < split.size(); ++i)
        cuts += (i ? "," : "") + std::to_string(split[i]);
    JsonFields f;
    f.Add("id", id).AddRaw("items", list + "]").AddRaw("split", cuts + "]")
        .Add("delay_ms", delayMs).Add("wait", wait);
    return FromHex(Call("telnet", f)["hex"].AsString());
}

void CSimControl::Disconnect(int id, bool abort, unsigned delayMs)
{
    JsonFields f;
    f.Add("id", id);
    if (abort)
        f.Add("abort", true);
    if (delayMs)
        f.Add("delay_ms", delayMs);
    Call("disconnect", f, 30000 + delayMs);
}

std::string CSimControl::Plug(int id)
{
    return Call("plug", JsonFields().Add("id", id))["pty"].AsString();
}

Bytes CSimControl::Received(int id, bool clear)
{
    return FromHex(Call("received", JsonFields().Add("id", id).Add("clear", clear))["hex"].AsString());
}

Bytes CSimControl::Sent(int id, bool clear)
{
    return FromHex(Call("sent", JsonFields().Add("id", id).Add("clear", clear))["hex"].AsString());
}

bool CSimControl::WaitReceived(int id, JsonFields fields, unsigned timeoutMs, bool consume, int count)
{
    fields.Add("id", id).Add("timeout_ms", timeoutMs).Add("consume", consume).Add("count", count);
    return Call("wait_received", fields, timeoutMs + 30000)["matched"].AsBool();
}

bool CSimControl::WaitReceivedText(int id, const std::string& text, unsigned timeoutMs,
                                   bool consume, int count)
{
    return WaitReceived(id, JsonFields().Add("text", text), timeoutMs, consume, count);
}

bool CSimControl::WaitReceivedBytes(int id, const Bytes& bytes, unsigned timeoutMs,
                                    bool consume, int count)
{
    return WaitReceived(id, JsonFields().AddHex("hex", bytes), timeoutMs, consume, count);
}

bool CSimControl::WaitReceivedRegex(int id, const std::string& regex, unsigned timeoutMs,
                                    bool consume, int count)
{
    return WaitReceived(id, JsonFields().Add("regex", regex), timeoutMs, consume, count);
}

int CSimControl::Override(int id, const std::string& match, const std::string& reply, int times)
{
    JsonFields f;
    f.Add("id", id).Add("match", match).Add("reply", reply).Add("times", times);
    return static_cast<int>(Call("override", f)["overrides"].AsInt());
}

int CSimControl::OverrideSilent(int id, const std::string& match, int times)
{
    JsonFields f;
    f.Add("id", id).Add("match", match).Add("silent", true).Add("times", times);
    return static_cast<int>(Call("override", f)["overrides"].AsInt());
}

void CSimControl::ClearOverrides(int id)
{
    Call("clear_overrides", JsonFields().Add("id", id));
}

int CSimControl::OverrideFrame(int id, const std::string& matchHex, int status, const Bytes& answer,
                               int times, int seqDelta, bool alsoAnswer)
{
    JsonFields f;
    f.Add("id", id).Add("match", "frame:" + matchHex).Add("status", status).Add("times", times);
    if (!answer.empty())
        f.AddHex("answer_hex", answer);
    if (seqDelta)
        f.Add("seq_delta", seqDelta);
    if (alsoAnswer)
        f.Add("also_answer", true);
    return static_cast<int>(Call("override", f)["overrides"].AsInt());
}

int CSimControl::OverrideFrameRaw(int id, const std::string& matchHex, const Bytes& reply, int times)
{
    JsonFields f;
    f.Add("id", id).Add("match", "frame:" + matchHex).Add("times", times);
    if (reply.empty())
        f.Add("silent", true);
    else
        f.AddHex("reply_hex", reply);
    return static_cast<int>(Call("override", f)["overrides"].AsInt());
}

std::vector<CSimControl::Frame> CSimControl::Frames(int id, bool clear)
{
    JsonValue reply = Call("frames", JsonFields().Add("id", id).Add("clear", clear));
    std::vector<Frame> out;
    const JsonValue& list = reply["frames"];
    for (size_t i = 0; i < list.Size(); ++i) {
        Frame frame;
        frame.hex = list[i]["hex"].AsString();
        frame.ms = list[i]["ms"].AsDouble();
        if (list[i].Has("seq"))
            frame.seq = static_cast<int>(list[i]["seq"].AsInt());
        out.push_back(frame);
    }
    return out;
}

SimDiscoveryInfo CSimControl::StartDiscovery(const std::vector<SimConverter>& converters, int udpPort,
                                             int replyDelayMs)
{
    std::string list = "[";
    for (size_t i = 0; i < converters.size(); ++i) {
        const SimConverter& c = converters[i];
        JsonFields f;
        if (!c.reply.empty()) {
            f.Add("reply", c.reply);
        } else {
            if (c.reader)
                f.Add("reader", c.reader);
            else
                f.Add("tcp_port", c.tcpPort);
            if (c.tcpPort2)
                f.Add("tcp_port2", c.tcpPort2);
            if (!c.address.empty())
                f.Add("address", c.address);
            if (!c.address2.empty())
                f.Add("address2", c.address2);
        }
        list += (i ? "," : "") + f.Object();
    }
    JsonFields f;
    f.AddRaw("converters", list + "]");
    if (udpPort)
        f.Add("udp_port", udpPort);
    if (replyDelayMs)
        f.Add("reply_delay_ms", replyDelayMs);
    JsonValue reply = Call("discovery", f);
    SimDiscoveryInfo info;
    info.id = static_cast<int>(reply["id"].AsInt());
    info.udpPort = static_cast<int>(reply["udp_port"].AsInt());
    return info;
}

JsonValue CSimControl::DiscoveryInfo(int id)
{
    return Call("discovery_info", JsonFields().Add("id", id));
}

void CSimControl::StopDiscovery(int id)
{
    Call("discovery_stop", JsonFields().Add("id", id));
}

Bytes CSimControl::FromHex(const std::string& hex)
{
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    Bytes out;
    int high = -1;
    for (char c : hex) {
        int v = nibble(c);
        if (v < 0)
            continue;   // separators
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0)
        Fail("odd count of hex digits: " + hex);
    return out;
}

}  // namespace simctl
