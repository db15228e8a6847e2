#include "model/bench.h"

#include <yaml-cpp/yaml.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace kelvo::sim {
namespace {

constexpr std::size_t kMaxBlock = 100'000'000;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The bytes named by the inside of BYTES(...): pairs of hexadecimal digits, blanks between.
std::string HexBytes(std::string_view inside) {
    std::string out;
    int high = -1;
    for (char c : inside) {
        if (IsBlank(c)) continue;
        const int digit = HexDigit(c);
        if (digit < 0) throw std::invalid_argument("BYTES(" + std::string(inside) + ") holds a character that is not a hexadecimal digit");
        if (high < 0) {
            high = digit;
        } else {
            out += static_cast<char>(high * 16 + digit);
            high = -1;
        }
    }
    if (high >= 0) throw std::invalid_argument("BYTES(" + std::string(inside) + ") has an odd number of hexadecimal digits");
    return out;
}

// Finds the next directive (BYTES( or BLOCK( ) at or after pos; npos if none.
std::size_t FindDirective(std::string_view text, std::size_t pos, bool blocks, bool& isBlock) {
    const std::size_t bytes = text.find("BYTES(", pos);
    const std::size_t block = blocks ? text.find("BLOCK(", pos) : std::string_view::npos;
    isBlock = block < bytes;
    return std::min(bytes, block);
}

// The two-character sequences \r and \n written in a single-quoted (or plain)
// YAML string stand for CR and LF, as in pyvisa-sim.
std::string Escapes(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'r' || text[i + 1] == 'n')) {
            out += text[i + 1] == 'r' ? '\r' : '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Blanks (spaces only) removed at both ends, as pyvisa-sim reads q, r and e.
std::string_view StripSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

class Reader {
public:
    Reader(std::string source, std::vector<std::string>& warnings)
        : source_(std::move(source)), warnings_(&warnings) {}

    void Warn(const YAML::Node& at, const std::string& problem) const {
        const int line = at.Mark().is_null() ? 0 : at.Mark().line + 1;
        warnings_->push_back(BenchError(source_, line, problem).what());
    }

    [[noreturn]] void Fail(const YAML::Node& at, const std::string& problem) const {
        const int line = at.Mark().is_null() ? 0 : at.Mark().line + 1;
        throw BenchError(source_, line, problem);
    }

    std::string Text(const YAML::Node& node, const std::string& what) const {
        if (!node.IsScalar()) Fail(node, what + " must be a single value");
        if (channelId_.empty()) return node.Scalar();
        // In a channel whose id is part of the query: {ch_id} is the id.
        std::string text = node.Scalar();
        for (std::size_t at; (at = text.find("{ch_id}")) != std::string::npos;) text.replace(at, 7, channelId_);
        return text;
    }

    void ExpectMap(const YAML::Node& node, const std::string& what) const {
        if (!node.IsMap()) Fail(node, what + " must be a mapping of keys to values");
    }

    void OnlyKeys(const YAML::Node& map, std::initializer_list<const char*> keys, const std::string& what) const {
        for (const auto& entry : map) {
            const std::string key = entry.first.Scalar();
            bool known = false;
            for (const char* k : keys) known = known || key == k;
            if (!known) Warn(entry.first, "unknown key '" + key + "' in " + what + " ignored");
        }
    }

    bool Flag(const YAML::Node& node, const std::string& what) const {
        const std::string text = Lowered(Text(node, what));
        if (text == "true" || text == "1" || text == "yes" || text == "on") return true;
        if (text == "false" || text == "0" || text == "no" || text == "off") return false;
        Fail(node, what + " must be true or false");
    }

    long long Integer(const YAML::Node& node, const std::string& what) const {
        const std::string text = Text(node, what);
        long long value = 0;
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            auto r = std::from_chars(text.data() + 2, text.data() + text.size(), value, 16);
            if (r.ec == std::errc() && r.ptr == text.data() + text.size()) return value;
        } else if (ParseInt(text, value)) {
            return value;
        }
        Fail(node, what + " must be a whole number, not '" + text + "'");
    }

    double Number(const YAML::Node& node, const std::string& what) const {
        double value = 0;
        const std::string text = Text(node, what);
        if (!ParseDouble(text, value)) Fail(node, what + " must be a number, not '" + text + "'");
        return value;
    }

    // A scalar as YAML types it: quoted values are text, plain ones numbers when they read as numbers.
    Value Scalar(const YAML::Node& node, const std::string& what) const {
        const std::string text = Text(node, what);
        if (node.Tag() != "!") {
            long long i = 0;
            double f = 0;
            if (ParseInt(text, i)) return Value::Int(i);
            if (ParseDouble(text, f)) return Value::Float(f);
        }
        return Value::Text(text);
    }

    std::string Query(const YAML::Node& node, const std::string& what) const {
        try {
            const std::string query(Trim(ExpandBytes(Escapes(Text(node, what)))));
            return caseBlind_ ? Lowered(query) : query;
        } catch (const std::invalid_argument& e) {
            Fail(node, what + ": " + e.what());
        }
    }

    std::optional<ReplyForm> Reply(const YAML::Node& node, const std::string& what) const {
        if (!node.IsDefined() || node.IsNull()) return std::nullopt;
        const std::string text = Text(node, what);
        if (text == "null_response") return std::nullopt;
        try {
            return ReplyForm(Escapes(StripSpaces(text)));
        } catch (const std::invalid_argument& e) {
            Fail(node, what + ": " + e.what());
        }
    }

    FieldTemplate Template(const YAML::Node& node, const std::string& what) const {
        try {
            return FieldTemplate(Text(node, what));
        } catch (const std::invalid_argument& e) {
            Fail(node, what + ": " + e.what());
        }
    }

    Value Convert(const Value& v, Value::Kind type, const YAML::Node& at, const std::string& what) const {
        long long i = 0;
        double f = 0;
        switch (type) {
        case Value::Kind::Int:
            if (v.ToInt(i)) return Value::Int(i);
            break;
        case Value::Kind::Float:
            if (v.ToDouble(f)) return Value::Float(f);
            break;
        case Value::Kind::Text: return Value::Text(v.ToString());
        }
        Fail(at, what + " '" + v.ToString() + "' does not fit the property's type");
    }

    std::shared_ptr<DeviceSpec> Device(const std::string& name, const YAML::Node& node) const;
    void Errors(DeviceSpec& device, const YAML::Node& node) const;
    PropertySpec Property(const std::string& name, const YAML::Node& node, const std::string& device) const;
    Resource ResourceEntry(const std::string& name, const YAML::Node& key, const YAML::Node& node) const;

    void Channels(DeviceSpec& device, const YAML::Node& node, const std::string& where) const;
    std::vector<Dialogue> Dialogues(const YAML::Node& node, const std::string& where) const;

private:
    std::string source_;
    std::vector<std::string>* warnings_;
    mutable std::string channelId_;  // while a selectable channel's items are read
    mutable bool caseBlind_ = false;  // the device being read matches queries without regard to case
};

std::vector<Dialogue> Reader::Dialogues(const YAML::Node& dialogues, const std::string& where) const {
    std::vector<Dialogue> out;
    if (!dialogues.IsSequence()) Fail(dialogues, where + ": dialogues must be a list of '- q: ...' entries");
    for (const YAML::Node& d : dialogues) {
        const std::string what = where + ": dialogue";
        ExpectMap(d, what);
        OnlyKeys(d, {"q", "r"}, what);
        if (!d["q"]) Fail(d, what + " without a query 'q'");
        Dialogue dialogue;
        dialogue.query = Query(d["q"], what + " q");
        dialogue.reply = Reply(d["r"], what + " r");
        out.push_back(std::move(dialogue));
    }
    return out;
}

// channels: groups of ids sharing dialogues and properties, each channel with
// values of its own. With can_select (the default) the queries name the channel
// as {ch_id}; without it the device's selected_channel property picks it.
void Reader::Channels(DeviceSpec& device, const YAML::Node& node, const std::string& where) const {
    ExpectMap(node, where + ": channels");
    for (const auto& entry : node) {
        const std::string group = where + ": channels '" + entry.first.Scalar() + "'";
        ExpectMap(entry.second, group);
        OnlyKeys(entry.second, {"ids", "can_select", "dialogues", "properties"}, group);
        const YAML::Node ids = entry.second["ids"];
        if (!ids || !ids.IsSequence() || ids.size() == 0) Fail(entry.first, group + " needs a list of channel ids");
        if (ids.size() > 1000) Fail(ids, group + ": at most 1000 channel ids");
        const YAML::Node select = entry.second["can_select"];
        const bool canSelect = !select || Text(select, group + " can_select") != "False";
        for (const YAML::Node& idNode : ids) {
            const std::string id = Text(idNode, group + " id");
            ChannelTag tag{true, canSelect ? std::string() : id};
            if (canSelect) channelId_ = id;
            try {
                if (const YAML::Node dialogues = entry.second["dialogues"]) {
                    for (Dialogue& d : Dialogues(dialogues, group)) {
                        d.channel = tag;
                        device.dialogues.push_back(std::move(d));
                    }
                }
                if (const YAML::Node properties = entry.second["properties"]) {
                    ExpectMap(properties, group + ": properties");
                    for (const auto& p : properties) {
                        PropertySpec spec = Property(p.first.Scalar(), p.second, group);
                        spec.channel = tag;
                        device.properties.push_back(std::move(spec));
                    }
                }
            } catch (...) {
                channelId_.clear();
                throw;
            }
            channelId_.clear();
        }
    }
}

std::shared_ptr<DeviceSpec> Reader::Device(const std::string& name, const YAML::Node& node) const {
    const std::string where = "device '" + name + "'";
    ExpectMap(node, where);
    OnlyKeys(node,
             {"eom", "error", "dialogues", "properties", "channels", "delimiter", "case_blind", "status_byte", "ist",
              "delay_ms"},
             where);
    auto device = std::make_shared<DeviceSpec>();
    device->name = name;
    if (const YAML::Node blind = node["case_blind"]) device->caseBlind = Flag(blind, where + ": case_blind");
    caseBlind_ = device->caseBlind;

    if (const YAML::Node eom = node["eom"]) {
        ExpectMap(eom, where + ": eom");
        for (const auto& entry : eom) {
            const std::string kind = entry.first.Scalar();
            const std::string what = where + ": eom '" + kind + "'";
            ExpectMap(entry.second, what);
            OnlyKeys(entry.second, {"q", "r"}, what);
            Eom e;
            if (entry.second["q"]) e.query = Escapes(StripSpaces(Text(entry.second["q"], what + " q")));
            if (entry.second["r"]) e.reply = Escapes(StripSpaces(Text(entry.second["r"], what + " r")));
            if (kind == "GPIB INSTR") device->eoms[Interface::Gpib] = e;
            else if (kind == "TCPIP SOCKET") device->eoms[Interface::TcpipSocket] = e;
            else if (kind == "TCPIP INSTR") device->eoms[Interface::TcpipInstr] = e;
            // Other kinds (ASRL INSTR, USB INSTR, ...) belong to resources no simulator here serves.
        }
    }

    if (const YAML::Node delimiter = node["delimiter"]) device->delimiter = Escapes(Text(delimiter, where + ": delimiter"));
    if (const YAML::Node error = node["error"]) Errors(*device, error);

    if (const YAML::Node dialogues = node["dialogues"]) device->dialogues = Dialogues(dialogues, where);
    if (const YAML::Node properties = node["properties"]) {
        ExpectMap(properties, where + ": properties");
        for (const auto& entry : properties)
            device->properties.push_back(Property(entry.first.Scalar(), entry.second, where));
    }

    if (const YAML::Node channels = node["channels"]) Channels(*device, channels, where);

    if (const YAML::Node sb = node["status_byte"]) {
        const long long v = Integer(sb, where + ": status_byte");
        if (v < 0 || v > 255) Fail(sb, where + ": status_byte must be 0 to 255");
        device->statusByte = static_cast<int>(v);
    }
    if (const YAML::Node ist = node["ist"]) device->ist = Flag(ist, where + ": ist");
    if (const YAML::Node delay = node["delay_ms"]) {
        device->delayMs = Number(delay, where + ": delay_ms");
        if (device->delayMs < 0 || device->delayMs > 3.6e6) Fail(delay, where + ": delay_ms must be 0 to 3600000");
    }
    return device;
}

void Reader::Errors(DeviceSpec& device, const YAML::Node& node) const {
    const std::string where = "device '" + device.name + "': error";
    if (node.IsScalar()) {
        const std::string text = node.Scalar();
        if (text != "null_response") device.error.commandError = device.error.queryError = Escapes(text);
        return;
    }
    ExpectMap(node, where);
    OnlyKeys(node, {"response", "status_register", "error_queue"}, where);
    if (const YAML::Node response = node["response"]) {
        ExpectMap(response, where + " response");
        OnlyKeys(response, {"command_error", "query_error"}, where + " response");
        for (const char* key : {"command_error", "query_error"}) {
            if (!response[key]) continue;
            const std::string text = Text(response[key], where + " response " + key);
            auto& slot = std::string(key) == "command_error" ? device.error.commandError : device.error.queryError;
            if (text != "null_response") slot = Escapes(text);
        }
    }
    if (const YAML::Node registers = node["status_register"]) {
        if (!registers.IsSequence()) Fail(registers, where + " status_register must be a list");
        for (const YAML::Node& r : registers) {
            ExpectMap(r, where + " status_register entry");
            if (!r["q"]) Fail(r, where + " status_register entry without a query 'q'");
            StatusRegisterSpec spec;
            spec.query = Query(r["q"], where + " status_register q");
            for (const auto& entry : r) {
                const std::string key = entry.first.Scalar();
                if (key != "q") spec.bits[key] = static_cast<int>(Integer(entry.second, where + " status_register " + key));
            }
            device.error.registers.push_back(std::move(spec));
        }
    }
    if (const YAML::Node queues = node["error_queue"]) {
        if (!queues.IsSequence()) Fail(queues, where + " error_queue must be a list");
        for (const YAML::Node& q : queues) {
            ExpectMap(q, where + " error_queue entry");
            if (!q["q"]) Fail(q, where + " error_queue entry without a query 'q'");
            if (!q["default"]) Fail(q, where + " error_queue entry without a 'default' reply for an empty queue");
            ErrorQueueSpec spec;
            spec.query = Query(q["q"], where + " error_queue q");
            spec.emptyReply = Escapes(Text(q["default"], where + " error_queue default"));
            for (const auto& entry : q) {
                const std::string key = entry.first.Scalar();
                if (key != "q" && key != "default" && key != "strict")
                    spec.messages[key] = Escapes(Text(entry.second, where + " error_queue " + key));
            }
            device.error.queues.push_back(std::move(spec));
        }
    }
}

PropertySpec Reader::Property(const std::string& name, const YAML::Node& node, const std::string& device) const {
    const std::string where = device + ": property '" + name + "'";
    ExpectMap(node, where);
    OnlyKeys(node, {"default", "getter", "setter", "specs"}, where);
    PropertySpec p;
    p.name = name;
    // Without a default the value starts as empty text, as in pyvisa-sim.
    const Value initial = node["default"] ? Scalar(node["default"], where + " default") : Value::Text("");
    p.type = initial.kind;

    if (const YAML::Node limits = node["specs"]) {
        ExpectMap(limits, where + " limits");
        OnlyKeys(limits, {"min", "max", "valid", "type"}, where + " limits");
        if (const YAML::Node type = limits["type"]) {
            const std::string t = Text(type, where + " type");
            if (t == "float") p.type = Value::Kind::Float;
            else if (t == "int") p.type = Value::Kind::Int;
            else if (t == "str") p.type = Value::Kind::Text;
            else Fail(type, where + ": type must be float, int or str, not '" + t + "'");
        }
        if (limits["min"]) p.min = Number(limits["min"], where + " min");
        if (limits["max"]) p.max = Number(limits["max"], where + " max");
        if (const YAML::Node valid = limits["valid"]) {
            if (!valid.IsSequence()) Fail(valid, where + ": valid must be a list of values");
            for (const YAML::Node& v : valid)
                p.valid.push_back(Convert(Scalar(v, where + " valid value"), p.type, v, where + " valid value"));
        }
    }
    p.initial = Convert(initial, p.type, node["default"] ? node["default"] : node, where + " default");

    if (const YAML::Node getter = node["getter"]) {
        ExpectMap(getter, where + " getter");
        OnlyKeys(getter, {"q", "r"}, where + " getter");
        if (!getter["q"] || !getter["r"]) Fail(getter, where + " getter needs both 'q' and 'r'");
        p.getterQuery = Query(getter["q"], where + " getter q");
        p.getterReply = Template(getter["r"], where + " getter r");
    }
    if (const YAML::Node setter = node["setter"]) {
        ExpectMap(setter, where + " setter");
        OnlyKeys(setter, {"q", "r", "e"}, where + " setter");
        if (!setter["q"]) Fail(setter, where + " setter needs a query 'q'");
        FieldTemplate query = Template(setter["q"], where + " setter q");
        if (query.FieldCount() != 1) Fail(setter["q"], where + " setter q must hold exactly one format field such as {:f}");
        p.setterQuery = std::move(query);
        p.setterReply = Reply(setter["r"], where + " setter r");
        if (setter["e"]) p.setterError = Escapes(std::string(StripSpaces(Text(setter["e"], where + " setter e"))));
    }
    return p;
}

Resource Reader::ResourceEntry(const std::string& name, const YAML::Node& key, const YAML::Node& node) const {
    const std::string where = "resource '" + name + "'";
    ExpectMap(node, where);
    Resource r;
    r.name = name;
    if (node["device"]) r.device = Text(node["device"], where + " device");

    std::vector<std::string> parts;
    const std::string upper = [&] {
        std::string u = name;
        for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return u;
    }();
    for (std::size_t start = 0;;) {
        const std::size_t sep = upper.find("::", start);
        parts.push_back(upper.substr(start, sep - start));
        if (sep == std::string::npos) break;
        start = sep + 2;
    }
    auto numbered = [](const std::string& part, const std::string& prefix, int& number) {
        if (part.rfind(prefix, 0) != 0) return false;
        const std::string digits = part.substr(prefix.size());
        long long n = 0;
        if (digits.empty()) n = 0;
        else if (!ParseInt(digits, n) || digits[0] == '+' || digits[0] == '-') return false;
        number = static_cast<int>(n);
        return true;
    };
    long long value = 0;
    if (numbered(parts[0], "GPIB", r.board) && parts.back() == "INSTR") {
        if (parts.size() == 4) Fail(key, where + ": secondary addresses are not simulated");
        if (parts.size() != 3 || !ParseInt(parts[1], value))
            Fail(key, where + ": expected GPIB0::<address>::INSTR");
        if (value < 1 || value > 30) Fail(key, where + ": the GPIB address must be 1 to 30 (0 is the board's own)");
        r.kind = Resource::Kind::Gpib;
        r.address = static_cast<int>(value);
    } else if (numbered(parts[0], "TCPIP", r.board) && parts.back() == "SOCKET") {
        if (parts.size() != 4 || parts[1].empty() || !ParseInt(parts[2], value) || value < 1 || value > 65535)
            Fail(key, where + ": expected TCPIP::<host>::<port>::SOCKET with a port of 1 to 65535");
        r.kind = Resource::Kind::TcpipSocket;
        r.host = name.substr(name.find("::") + 2);
        r.host = r.host.substr(0, r.host.find("::"));
        r.port = static_cast<int>(value);
    } else if (numbered(parts[0], "TCPIP", r.board) && parts.back() == "INSTR") {
        if ((parts.size() != 3 && parts.size() != 4) || parts[1].empty() || (parts.size() == 4 && parts[2].empty()))
            Fail(key, where + ": expected TCPIP::<host>::INSTR or TCPIP::<host>::<device name>::INSTR");
        r.kind = Resource::Kind::Vxi11;
        r.host = name.substr(name.find("::") + 2);
        r.host = r.host.substr(0, r.host.find("::"));
        r.deviceName = parts.size() == 4 ? Lowered(parts[2]) : "inst0";
        // gpib<board>,<address>: a GPIB device behind a gateway.
        int gatewayBoard = 0;
        const std::size_t comma = r.deviceName.find(',');
        if (comma != std::string::npos && numbered(parts[2].substr(0, comma), "GPIB", gatewayBoard)) {
            const std::string rest = r.deviceName.substr(comma + 1);
            if (rest.find(',') != std::string::npos) Fail(key, where + ": secondary addresses are not simulated");
            if (!ParseInt(rest, value) || rest[0] == '+' || value < 1 || value > 30)
                Fail(key, where + ": the GPIB address behind the gateway must be 1 to 30, as in gpib0,5");
            r.gateway = true;
            r.address = static_cast<int>(value);
        }
    }

    const bool mayGreet = r.kind == Resource::Kind::TcpipSocket;
    for (const auto& entry : node) {
        const std::string k = entry.first.Scalar();
        if (k == "device") continue;
        if (k == "greeting" && mayGreet) {
            r.greeting = Escapes(Text(entry.second, where + " greeting"));
            continue;
        }
        Warn(entry.first, where + ": key '" + k + "' is not supported (only 'device'" + (mayGreet ? " and 'greeting'" : "") +
                              "): ignored");
    }
    // A gateway resource may leave out its device: it is then the bench's GPIB
    // device at that address, a separate instrument of the same kind.
    if (r.device.empty() && !r.gateway) Fail(key, where + " names no device");
    return r;
}

}  // namespace

ReplyForm::ReplyForm(std::string_view text) {
    if (text.rfind("STREAM(", 0) == 0 && !text.empty() && text.back() == ')') {
        stream_ = true;
        streamText_ = ExpandBytes(text.substr(7, text.size() - 8));
        if (streamText_.empty()) throw std::invalid_argument("STREAM() needs the text to repeat");
        return;
    }
    std::size_t pos = 0;
    while (pos <= text.size()) {
        bool isBlock = false;
        const std::size_t at = FindDirective(text, pos, true, isBlock);
        const std::size_t close = at == std::string_view::npos ? at : text.find(')', at);
        if (at == std::string_view::npos || close == std::string_view::npos) {
            AddText(text.substr(pos));
            break;
        }
        AddText(text.substr(pos, at - pos));
        const std::string_view inside = text.substr(at + 6, close - at - 6);
        if (isBlock) {
            long long n = -1;
            if (!ParseInt(Trim(inside), n) || n < 0 || static_cast<std::size_t>(n) > kMaxBlock)
                throw std::invalid_argument("BLOCK(" + std::string(inside) + ") needs a byte count of 0 to 100000000");
            segments_.push_back({"", static_cast<std::size_t>(n), true, std::nullopt});
        } else if (Trim(inside).empty()) {
            segments_.push_back({"BYTES()", 0, false, std::nullopt});  // not a directive
        } else {
            segments_.push_back({HexBytes(inside), 0, false, std::nullopt});
            raw_ = true;
        }
        pos = close + 1;
    }
}

void ReplyForm::AddText(std::string_view text) {
    for (std::size_t at; (at = text.find("{RANDOM(")) != std::string_view::npos;) {
        const std::size_t close = text.find('}', at);
        if (close == std::string_view::npos) break;
        segments_.push_back({std::string(text.substr(0, at)), 0, false, std::nullopt});
        segments_.push_back({"", 0, false, ParseRandomField(text.substr(at + 1, close - at - 1))});
        text.remove_prefix(close + 1);
    }
    segments_.push_back({std::string(text), 0, false, std::nullopt});
}

std::string ReplyForm::Bytes() const {
    std::string out;
    for (const Segment& s : segments_) {
        if (s.random) {
            out += RandomText(*s.random);
            continue;
        }
        if (!s.isBlock) {
            out += s.text;
            continue;
        }
        const std::string count = std::to_string(s.block);
        out += '#';
        out += static_cast<char>('0' + count.size());
        out += count;
        const std::size_t start = out.size();
        out.resize(start + s.block);
        for (std::size_t i = 0; i < s.block; ++i) out[start + i] = static_cast<char>(i & 0xFF);
    }
    return out;
}

std::string ExpandBytes(std::string_view text) {
    std::string out;
    std::size_t pos = 0;
    while (true) {
        bool isBlock = false;
        const std::size_t at = FindDirective(text, pos, false, isBlock);
        const std::size_t close = at == std::string_view::npos ? at : text.find(')', at);
        if (close == std::string_view::npos) break;
        out += text.substr(pos, at - pos);
        const std::string_view inside = text.substr(at + 6, close - at - 6);
        out += Trim(inside).empty() ? std::string("BYTES()") : HexBytes(inside);
        pos = close + 1;
    }
    out += text.substr(pos);
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string Lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

Eom DeviceSpec::EomFor(Interface where) const {
    const auto it = eoms.find(where);
    return it == eoms.end() ? Eom{} : it->second;
}

namespace {
// Bytes that do not print (a NUL would cut the message short) as \xNN.
std::string Printable(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b != 0x7F) {
            out += c;
        } else {
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 0x0F];
        }
    }
    return out;
}
}  // namespace

BenchError::BenchError(std::string file, int line, std::string problem)
    : std::runtime_error(Printable(file) + ":" + std::to_string(line) + ": " + Printable(problem)),
      file_(std::move(file)),
      line_(line),
      problem_(std::move(problem)) {}

Bench ParseBench(const std::string& yamlText, const std::string& source) {
    YAML::Node root;
    try {
        root = YAML::Load(yamlText);
    } catch (const YAML::Exception& e) {
        throw BenchError(source, e.mark.is_null() ? 0 : e.mark.line + 1, e.msg);
    }
    Bench bench;
    const Reader reader(source, bench.warnings);
    if (!root.IsMap()) reader.Fail(root, "a bench is a mapping with the keys 'devices' and 'resources'");
    reader.OnlyKeys(root, {"spec", "devices", "resources"}, "the bench");
    if (const YAML::Node version = root["spec"]) {
        const std::string v = reader.Text(version, "the format version");
        if (v != "1.0" && v != "1.1") reader.Fail(version, "format version '" + v + "' is not supported (use \"1.1\")");
    }

    bench.source = source;
    const YAML::Node devices = root["devices"];
    if (!devices) reader.Fail(root, "the bench has no 'devices'");
    reader.ExpectMap(devices, "devices");
    for (const auto& entry : devices) bench.devices[entry.first.Scalar()] = reader.Device(entry.first.Scalar(), entry.second);

    const YAML::Node resources = root["resources"];
    if (!resources) reader.Fail(root, "the bench has no 'resources'");
    reader.ExpectMap(resources, "resources");
    std::set<int> addresses;
    std::set<std::pair<std::string, std::string>> linkNames;  // VXI-11 host and device name
    std::vector<std::pair<std::size_t, YAML::Node>> deviceless;   // gateway resources without a device
    for (const auto& entry : resources) {
        Resource r = reader.ResourceEntry(entry.first.Scalar(), entry.first, entry.second);
        if (r.kind == Resource::Kind::Vxi11 && !linkNames.insert({Lowered(r.host), r.deviceName}).second)
            reader.Fail(entry.first, "resource '" + r.name + "': device '" + r.deviceName + "' on " + r.host +
                                         " is served twice");
        if (r.device.empty()) {
            deviceless.emplace_back(bench.resources.size(), entry.first);
            bench.resources.push_back(std::move(r));
            continue;
        }
        if (!bench.devices.count(r.device))
            reader.Fail(entry.second["device"], "resource '" + r.name + "' names the unknown device '" + r.device + "'");
        if (r.kind == Resource::Kind::Gpib && r.board == 0 && !addresses.insert(r.address).second)
            reader.Fail(entry.first, "GPIB address " + std::to_string(r.address) + " is used twice");
        bench.resources.push_back(std::move(r));
    }
    for (const auto& [index, key] : deviceless) {
        Resource& r = bench.resources[index];
        for (const Resource& g : bench.resources)
            if (g.kind == Resource::Kind::Gpib && g.board == 0 && g.address == r.address) r.device = g.device;
        if (r.device.empty())
            reader.Fail(key, "resource '" + r.name + "' names no device, and the bench has no GPIB0::" +
                                 std::to_string(r.address) + "::INSTR to take it from");
    }
    return bench;
}

Bench LoadBenchFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw BenchError(path, 0, std::string("cannot be read: ") + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw BenchError(path, 0, "cannot be read");
    return ParseBench(text.str(), path);
}

}  // namespace kelvo::sim
