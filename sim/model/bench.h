// A bench: the simulated instruments described by a YAML file (pyvisa-sim's
// format, version "1.1", with a few keys of our own), and the resources that
// place them on the GPIB bus (GPIB0::<address>::INSTR) or on the network: a
// raw socket (TCPIP::<host>::<port>::SOCKET) or a VXI-11 device
// (TCPIP::<host>[::<name>]::INSTR, the name inst0 unless given; gpib0,<N> for a
// GPIB device behind a LAN/GPIB gateway). One bench file serves both simulators.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "model/format.h"

namespace kelvo::sim {

// How an instrument is reached; each has its own end of message (eom).
enum class Interface { Gpib, TcpipSocket, TcpipInstr };

// A reply as the bench writes it: plain text, with {RANDOM(min, max, n):spec}
// fields (n random numbers, a new draw at each reply), BYTES(41 42 0a) anywhere
// (those exact bytes; a reply that uses them gets no terminator), BLOCK(n) (a
// definite-length block of n bytes, byte i being i mod 256), or STREAM(text)
// as the whole reply (the text repeated for ever).
class ReplyForm {
public:
    ReplyForm() = default;
    // Throws std::invalid_argument naming the problem.
    explicit ReplyForm(std::string_view text);

    // The reply's bytes (before the stream, if any).
    std::string Bytes() const;
    bool Terminated() const { return !raw_; }
    bool IsStream() const { return stream_; }
    const std::string& StreamText() const { return streamText_; }

private:
    struct Segment {
        std::string text;
        std::size_t block = 0;  // BLOCK(n): n; text is empty
        bool isBlock = false;
        std::optional<RandomField> random;  // {RANDOM(...)}: text is empty
    };
    // Literal text, with its {RANDOM(...)} fields as segments of their own.
    void AddText(std::string_view text);
    std::vector<Segment> segments_;
    bool raw_ = false;
    bool stream_ = false;
    std::string streamText_;
};

// Text with BYTES(..) replaced by the bytes it names; throws std::invalid_argument.
std::string ExpandBytes(std::string_view text);

// ASCII white space at both ends removed: blanks, tabs, CR, LF.
std::string_view Trim(std::string_view text);
std::string Lowered(std::string_view text);

struct Eom {
    std::string query = "\n";
    std::string reply = "\n";
};

// Where a dialogue or property comes from: the device itself, or one of its
// channels. A channel's items are tried after the device's; those of a channel
// that cannot be selected in the query serve only while the device's
// selected_channel property holds their channel id.
struct ChannelTag {
    bool fromChannel = false;
    std::string whenSelected;  // the channel id, or empty: always
};

struct Dialogue {
    std::string query;  // trimmed; lower case when the device is case-blind
    std::optional<ReplyForm> reply;
    ChannelTag channel;
};

struct PropertySpec {
    std::string name;
    Value::Kind type = Value::Kind::Text;
    Value initial;
    std::optional<std::string> getterQuery;  // trimmed, lower case
    FieldTemplate getterReply;
    std::optional<FieldTemplate> setterQuery;
    std::optional<ReplyForm> setterReply;
    std::optional<std::string> setterError;
    std::optional<double> min;
    std::optional<double> max;
    std::vector<Value> valid;
    ChannelTag channel;
};

struct StatusRegisterSpec {
    std::string query;  // trimmed, lower case
    std::map<std::string, int> bits;  // error name -> bits it sets
};

struct ErrorQueueSpec {
    std::string query;  // trimmed, lower case
    std::string emptyReply;
    std::map<std::string, std::string> messages;  // error name -> entry
};

struct ErrorSpec {
    std::optional<std::string> commandError;  // the reply to a message not understood
    std::optional<std::string> queryError;    // the reply to a read with nothing to say
    std::vector<StatusRegisterSpec> registers;
    std::vector<ErrorQueueSpec> queues;
};

struct DeviceSpec {
    std::string name;
    std::map<Interface, Eom> eoms;
    ErrorSpec error;
    std::vector<Dialogue> dialogues;
    std::vector<PropertySpec> properties;
    int statusByte = 0;
    bool ist = false;
    double delayMs = 0;
    // What separates several commands in one message; empty: no separation.
    std::string delimiter = ";";
    // Queries and setters compared without regard to case (ours); otherwise exactly.
    bool caseBlind = false;

    // LF both ways when the bench names none for the interface.
    Eom EomFor(Interface where) const;
};

struct Resource {
    enum class Kind { Gpib, TcpipSocket, Vxi11, Other };
    std::string name;
    Kind kind = Kind::Other;
    int board = 0;
    int address = 0;  // GPIB primary address, 1 to 30; behind a gateway too
    std::string host;
    int port = 0;
    std::string device;
    // SOCKET (ours): the line sent to each new connection; none when absent.
    std::optional<std::string> greeting;
    // VXI-11: the device name a client links to, in lower case ("inst0",
    // "gpib0,5"), and whether it is a GPIB device behind a gateway.
    std::string deviceName;
    bool gateway = false;
};

struct Bench {
    std::string source;
    // What the bench holds that is ignored (unknown keys), each as "file:line: problem".
    std::vector<std::string> warnings;
    std::map<std::string, std::shared_ptr<const DeviceSpec>> devices;
    std::vector<Resource> resources;
};

// A bench that cannot be read or understood: what() is "file:line: problem".
class BenchError : public std::runtime_error {
public:
    BenchError(std::string file, int line, std::string problem);
    const std::string& file() const { return file_; }
    int line() const { return line_; }
    const std::string& problem() const { return problem_; }

private:
    std::string file_;
    int line_;
    std::string problem_;
};

// Throw BenchError. `source` names the text in messages.
Bench ParseBench(const std::string& yamlText, const std::string& source);
Bench LoadBenchFile(const std::string& path);

// The bench used when none is named.
const std::string& DefaultBenchText();

}  // namespace kelvo::sim
