#include "model/format.h"

#include <random>

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>
#include <stdexcept>

namespace kelvo::sim {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string LowerText(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = Lower(c);
    return out;
}

// Length of the longest number at the start of text: sign, digits, and for real
// numbers a fraction and an exponent. 0 when there is no digit.
std::size_t ScanNumber(std::string_view text, bool real) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
    if (real && i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return 0;
    if (real && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        std::size_t expDigits = 0;
        while (j < text.size() && IsDigit(text[j])) ++j, ++expDigits;
        if (expDigits > 0) i = j;
    }
    return i;
}

std::string CharsOf(double v, std::chars_format fmt, int precision) {
    char buf[512];
    auto result = precision < 0 ? std::to_chars(buf, buf + sizeof buf, v, fmt)
                                : std::to_chars(buf, buf + sizeof buf, v, fmt, std::min(precision, 100));
    return std::string(buf, result.ptr);
}

// Python's repr() of a float: the shortest text that reads back the same value,
// in fixed notation for exponents -4 to 15, otherwise as 1.5e-05.
std::string PythonRepr(double v) {
    if (std::isinf(v) || std::isnan(v)) return CharsOf(v, std::chars_format::general, -1);
    const std::string sci = CharsOf(v, std::chars_format::scientific, -1);
    const int exponent = std::stoi(sci.substr(sci.find('e') + 1));
    if (exponent < -4 || exponent >= 16) return sci;
    std::string fixed = CharsOf(v, std::chars_format::fixed, -1);
    if (fixed.find('.') == std::string::npos) fixed += ".0";
    return fixed;
}

FieldSpec ParseFieldSpec(std::string_view s) {
    FieldSpec spec;
    std::size_t i = 0;
    auto isAlign = [](char c) { return c == '<' || c == '>' || c == '^' || c == '='; };
    if (s.size() >= 2 && isAlign(s[1])) {
        spec.fill = s[0];
        spec.align = s[1];
        i = 2;
    } else if (!s.empty() && isAlign(s[0])) {
        spec.align = s[0];
        i = 1;
    }
    if (i < s.size() && (s[i] == '+' || s[i] == '-' || s[i] == ' ')) spec.sign = s[i++];
    if (i < s.size() && s[i] == '#') ++i;
    if (i < s.size() && s[i] == '0') spec.zero = true, ++i;
    while (i < s.size() && IsDigit(s[i])) spec.width = std::min(spec.width * 10 + (s[i++] - '0'), 1000);
    if (i < s.size() && (s[i] == ',' || s[i] == '_')) ++i;
    if (i < s.size() && s[i] == '.') {
        ++i;
        if (i >= s.size() || !IsDigit(s[i])) throw std::invalid_argument("format field without precision digits after '.'");
        spec.precision = 0;
        while (i < s.size() && IsDigit(s[i])) spec.precision = std::min(spec.precision * 10 + (s[i++] - '0'), 100);
    }
    if (i < s.size()) {
        const std::string_view types = "dfFeEgGs";
        if (types.find(s[i]) == std::string_view::npos)
            throw std::invalid_argument("unsupported format type '" + std::string(1, s[i]) + "' (use d, f, e, E, g, s)");
        spec.type = s[i++];
    }
    if (i != s.size()) throw std::invalid_argument("malformed format field '{:" + std::string(s) + "}'");
    return spec;
}

}  // namespace

Value Value::Int(long long v) {
    Value out;
    out.kind = Kind::Int;
    out.i = v;
    return out;
}

Value Value::Float(double v) {
    Value out;
    out.kind = Kind::Float;
    out.f = v;
    return out;
}

Value Value::Text(std::string v) {
    Value out;
    out.kind = Kind::Text;
    out.s = std::move(v);
    return out;
}

std::string Value::ToString() const {
    switch (kind) {
    case Kind::Int: return std::to_string(i);
    case Kind::Float: return PythonRepr(f);
    case Kind::Text: return s;
    }
    return s;
}

bool Value::ToDouble(double& out) const {
    switch (kind) {
    case Kind::Int: out = static_cast<double>(i); return true;
    case Kind::Float: out = f; return true;
    case Kind::Text: return ParseDouble(s, out);
    }
    return false;
}

bool Value::ToInt(long long& out) const {
    double d = 0;
    switch (kind) {
    case Kind::Int: out = i; return true;
    case Kind::Float: d = f; break;
    case Kind::Text:
        if (ParseInt(s, out)) return true;
        if (!ParseDouble(s, d)) return false;
        break;
    }
    if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) > 9.2e18) return false;
    out = static_cast<long long>(d);
    return true;
}

bool ParseInt(std::string_view text, long long& out) {
    if (text.empty() || ScanNumber(text, false) != text.size()) return false;
    if (text[0] == '+') text.remove_prefix(1);
    auto result = std::from_chars(text.data(), text.data() + text.size(), out);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool ParseDouble(std::string_view text, double& out) {
    if (text.empty() || ScanNumber(text, true) != text.size()) return false;
    if (text[0] == '+') text.remove_prefix(1);
    auto result = std::from_chars(text.data(), text.data() + text.size(), out);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

std::string FormatValue(const Value& value, const FieldSpec& spec) {
    std::string body;
    bool negative = false;
    bool numeric = true;
    char type = spec.type;
    if (type == 0) {
        if (value.kind == Value::Kind::Int) type = 'd';
        else if (value.kind == Value::Kind::Float) type = spec.precision >= 0 ? 'g' : 'r';
        else type = 's';
    }
    double d = 0;
    switch (type) {
    case 'd': {
        long long v = 0;
        if (value.ToInt(v)) {
        } else if (value.ToDouble(d) && std::isfinite(d) && std::fabs(d) < 9.2e18) {
            v = static_cast<long long>(std::trunc(d));
        } else {
            numeric = false;
            body = value.ToString();
            break;
        }
        negative = v < 0;
        body = negative ? std::to_string(v).substr(1) : std::to_string(v);
        break;
    }
    case 'r':
        negative = std::signbit(value.f) && !std::isnan(value.f);
        body = PythonRepr(std::fabs(value.f));
        break;
    case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': {
        if (!value.ToDouble(d)) {
            numeric = false;
            body = value.ToString();
            break;
        }
        negative = std::signbit(d) && !std::isnan(d);
        const int precision = spec.precision < 0 ? 6 : spec.precision;
        const char lower = Lower(type);
        const auto fmt = lower == 'f' ? std::chars_format::fixed
                         : lower == 'e' ? std::chars_format::scientific
                                        : std::chars_format::general;
        body = CharsOf(std::fabs(d), fmt, lower == 'g' && precision == 0 ? 1 : precision);
        if (type != lower)
            for (char& c : body) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        break;
    }
    default:
        numeric = false;
        body = value.ToString();
        if (spec.precision >= 0 && body.size() > static_cast<std::size_t>(spec.precision)) body.resize(spec.precision);
        break;
    }

    const std::string sign = !numeric ? "" : negative ? "-" : spec.sign == '+' ? "+" : spec.sign == ' ' ? " " : "";
    char align = spec.align;
    char fill = spec.fill;
    if (align == 0) {
        if (spec.zero && numeric) {
            align = '=';
            fill = '0';
        } else {
            align = numeric ? '>' : '<';
        }
    }
    const std::size_t used = sign.size() + body.size();
    const std::size_t pad = spec.width > 0 && static_cast<std::size_t>(spec.width) > used ? spec.width - used : 0;
    switch (align) {
    case '<': return sign + body + std::string(pad, fill);
    case '^': return std::string(pad / 2, fill) + sign + body + std::string(pad - pad / 2, fill);
    case '=': return sign + std::string(pad, fill) + body;
    default: return std::string(pad, fill) + sign + body;
    }
}

std::optional<RandomField> ParseRandomField(std::string_view inside) {
    constexpr std::string_view kName = "RANDOM(";
    if (inside.substr(0, kName.size()) != kName) return std::nullopt;
    const auto bad = [&] {
        return std::invalid_argument("malformed '{" + std::string(inside) +
                                     "}': write {RANDOM(min, max, count):format}, count 1 to 100000");
    };
    const std::size_t close = inside.find(')');
    if (close == std::string_view::npos) throw bad();
    std::vector<std::string_view> args;
    for (std::string_view rest = inside.substr(kName.size(), close - kName.size());;) {
        const std::size_t comma = rest.find(',');
        std::string_view arg = rest.substr(0, comma);
        while (!arg.empty() && arg.front() == ' ') arg.remove_prefix(1);
        while (!arg.empty() && arg.back() == ' ') arg.remove_suffix(1);
        args.push_back(arg);
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    RandomField field;
    long long count = 0;
    if (args.size() != 3 || !ParseDouble(args[0], field.min) || !ParseDouble(args[1], field.max) ||
        !ParseInt(args[2], count) || count < 1 || count > 100000 || field.min > field.max)
        throw bad();
    field.count = static_cast<int>(count);
    const std::string_view after = inside.substr(close + 1);
    if (!after.empty()) {
        if (after[0] != ':') throw bad();
        field.spec = ParseFieldSpec(after.substr(1));
    }
    return field;
}

std::string RandomText(const RandomField& field) {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    std::uniform_real_distribution<double> uniform(field.min, field.max);
    std::string out;
    for (int i = 0; i < field.count; ++i) {
        if (i > 0) out += ',';
        out += FormatValue(Value::Float(uniform(engine)), field.spec);
    }
    return out;
}

FieldTemplate::FieldTemplate(std::string_view text) {
    std::string literal;
    auto flush = [&] {
        if (literal.empty()) return;
        Piece piece;
        piece.text = LowerText(literal);
        piece.original = literal;
        pieces_.push_back(std::move(piece));
        literal.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '{' && i + 1 < text.size() && text[i + 1] == '{') {
            literal += '{';
            ++i;
        } else if (c == '}' && i + 1 < text.size() && text[i + 1] == '}') {
            literal += '}';
            ++i;
        } else if (c == '{') {
            const std::size_t close = text.find('}', i);
            if (close == std::string_view::npos) throw std::invalid_argument("format field '{' without '}'");
            const std::string_view inside = text.substr(i + 1, close - i - 1);
            if (std::optional<RandomField> random = ParseRandomField(inside)) {
                flush();
                Piece piece;
                piece.field = true;
                piece.random = std::move(random);
                pieces_.push_back(std::move(piece));
                i = close;
                continue;
            }
            const std::size_t colon = inside.find(':');
            const std::string_view name = inside.substr(0, colon);
            for (char n : name)
                if (!(std::isalnum(static_cast<unsigned char>(n)) || n == '_'))
                    throw std::invalid_argument("malformed format field '{" + std::string(inside) + "}'");
            flush();
            Piece piece;
            piece.field = true;
            piece.spec = colon == std::string_view::npos ? FieldSpec{} : ParseFieldSpec(inside.substr(colon + 1));
            pieces_.push_back(piece);
            ++fields_;
            i = close;
        } else if (c == '}') {
            throw std::invalid_argument("single '}' in a format text (write '}}')");
        } else {
            literal += c;
        }
    }
    flush();
}

std::string FieldTemplate::Format(const Value& value) const {
    std::string out;
    for (const Piece& piece : pieces_) {
        if (piece.random) out += RandomText(*piece.random);
        else out += piece.field ? FormatValue(value, piece.spec) : piece.original;
    }
    return out;
}

std::optional<Value> FieldTemplate::Match(std::string_view text, bool caseBlind) const {
    std::optional<Value> first;
    if (!MatchFrom(0, text, 0, caseBlind, first)) return std::nullopt;
    return first ? first : std::optional<Value>(Value::Text(""));
}

bool FieldTemplate::MatchFrom(std::size_t index, std::string_view text, std::size_t pos, bool caseBlind,
                              std::optional<Value>& first) const {
    if (index == pieces_.size()) return pos == text.size();
    const Piece& piece = pieces_[index];
    if (!piece.field) {
        if (text.size() - pos < piece.text.size()) return false;
        for (std::size_t k = 0; k < piece.text.size(); ++k)
            if (caseBlind ? Lower(text[pos + k]) != piece.text[k] : text[pos + k] != piece.original[k]) return false;
        return MatchFrom(index + 1, text, pos + piece.text.size(), caseBlind, first);
    }
    if (piece.random) return false;  // random values are never matched
    const char type = piece.spec.type;
    const bool keep = !first.has_value();
    if (type == 'd' || (type != 0 && type != 's')) {
        std::size_t start = pos;
        while (start < text.size() && text[start] == ' ') ++start;  // blanks before a number
        const std::size_t length = ScanNumber(text.substr(start), type != 'd');
        if (length == 0) return false;
        const std::string_view number = text.substr(start, length);
        Value v;
        if (type == 'd') {
            long long n = 0;
            if (!ParseInt(number, n)) return false;
            v = Value::Int(n);
        } else {
            double n = 0;
            if (!ParseDouble(number, n)) return false;
            v = Value::Float(n);
        }
        if (keep) first = v;
        if (MatchFrom(index + 1, text, start + length, caseBlind, first)) return true;
        if (keep) first.reset();
        return false;
    }
    // Text: the rest when the field ends the template, otherwise the shortest span
    // after which the rest of the template fits.
    const std::size_t lastEnd = text.size();
    const std::size_t firstEnd = index + 1 == pieces_.size() ? lastEnd : pos + 1;
    for (std::size_t end = firstEnd; end <= lastEnd && end > pos; ++end) {
        if (keep) first = Value::Text(std::string(text.substr(pos, end - pos)));
        if (MatchFrom(index + 1, text, end, caseBlind, first)) return true;
    }
    if (keep) first.reset();
    return false;
}

}  // namespace kelvo::sim
