// Python-style replacement fields ("{:+.4E}", "{:d}", "{:s}", ...) used by the
// bench's property getters and setters in both directions: a getter's reply is
// the property's value formatted into the template, a setter's query is matched
// against the template and the value read back out of it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo::sim {

// A property value: an integer, a real number or text.
struct Value {
    enum class Kind { Int, Float, Text };
    Kind kind = Kind::Text;
    long long i = 0;
    double f = 0.0;
    std::string s;

    static Value Int(long long v);
    static Value Float(double v);
    static Value Text(std::string v);

    // What Python's str() shows: 5, 1.5, 100.0, 1e-05, text as it is.
    std::string ToString() const;
    bool ToDouble(double& out) const;
    // Integers, and real numbers without a fractional part.
    bool ToInt(long long& out) const;
};

// The part of a field after the ':': [[fill]align][sign][#][0][width][.precision][type].
struct FieldSpec {
    char fill = ' ';
    char align = 0;  // '<', '>', '^', '=' or 0 for the default
    char sign = '-';
    bool zero = false;
    int width = 0;
    int precision = -1;
    char type = 0;  // d f F e E g G s, or 0 (none)
};

// {RANDOM(min, max, count):spec} in a reply: `count` random real numbers from
// min to max, each formatted by the spec, joined by ','.
struct RandomField {
    double min = 0;
    double max = 0;
    int count = 1;
    FieldSpec spec;
};
// The field (the text between the braces) when it is a RANDOM directive, nullopt
// when it is some other field; throws std::invalid_argument when it is malformed.
std::optional<RandomField> ParseRandomField(std::string_view inside);
std::string RandomText(const RandomField& field);

// Formats one value as Python's format(value, spec) does for the supported types.
std::string FormatValue(const Value& value, const FieldSpec& spec);

// Reads a number as a bench or a message writes it: an optional sign, digits,
// an optional fraction and exponent; the whole text must be the number.
bool ParseInt(std::string_view text, long long& out);
bool ParseDouble(std::string_view text, double& out);

// Text with replacement fields. Literal text matches exactly, or without regard to case.
class FieldTemplate {
public:
    FieldTemplate() = default;
    // Throws std::invalid_argument naming the problem.
    explicit FieldTemplate(std::string_view text);

    std::size_t FieldCount() const { return fields_; }
    // The template with every field showing the value.
    std::string Format(const Value& value) const;
    // The value of the first field when the text fits the template as a whole;
    // "{:d}" gives an integer, "{:f}", "{:e}", "{:g}" a real number, "{:s}" and "{}" text.
    std::optional<Value> Match(std::string_view text, bool caseBlind = true) const;

private:
    struct Piece {
        bool field = false;
        std::string text;  // literal text, lower case
        std::string original;
        FieldSpec spec;
        std::optional<RandomField> random;  // a field of its own values, not the property's
    };
    bool MatchFrom(std::size_t piece, std::string_view text, std::size_t pos, bool caseBlind,
                   std::optional<Value>& first) const;

    std::vector<Piece> pieces_;
    std::size_t fields_ = 0;
};

}  // namespace kelvo::sim
