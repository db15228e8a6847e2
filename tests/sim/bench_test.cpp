// Reading bench files. The cases are in data/bench_cases.txt: each a bench and
// the message that refuses it, or what is read from it (written out below).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "model/bench.h"
#include "model/instrument.h"

namespace kelvo::sim {
namespace {

std::string Quoted(const std::string& bytes) {
    std::string out = "'";
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (b < 0x20 || b >= 0x7F) out += "\\x" + std::string{"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
        else out += c;
    }
    return out + "'";
}

std::string Reply(const std::optional<ReplyForm>& r) {
    if (!r) return "none";
    if (r->IsStream()) return "stream " + Quoted(r->StreamText());
    return Quoted(r->Bytes()) + (r->Terminated() ? "" : " raw");
}

std::string Shown(const Value& v) {
    return (v.kind == Value::Kind::Int ? "int " : v.kind == Value::Kind::Float ? "float " : "str ") + v.ToString();
}

std::string Channel(const ChannelTag& c) {
    return !c.fromChannel ? "" : c.whenSelected.empty() ? " (channel)" : " (when channel " + c.whenSelected + ")";
}

// What a bench holds, one line a fact; defaults left out.
std::string Describe(const Bench& bench) {
    std::ostringstream out;
    const char* kinds[] = {"gpib", "socket", "vxi11", "other"};
    for (const auto& [name, d] : bench.devices) {
        out << "device " << name << ":";
        if (d->statusByte) out << " status_byte " << d->statusByte;
        if (d->ist) out << " ist";
        if (d->delayMs) out << " delay_ms " << d->delayMs;
        if (d->caseBlind) out << " case_blind";
        if (d->delimiter != ";") out << " delimiter " << Quoted(d->delimiter);
        out << "\n";
        const char* interfaces[] = {"GPIB INSTR", "TCPIP SOCKET", "TCPIP INSTR"};
        for (const auto& [where, eom] : d->eoms)
            out << "  eom " << interfaces[static_cast<int>(where)] << " " << Quoted(eom.query) << " " << Quoted(eom.reply) << "\n";
        if (d->error.commandError) out << "  command_error " << Quoted(*d->error.commandError) << "\n";
        if (d->error.queryError) out << "  query_error " << Quoted(*d->error.queryError) << "\n";
        for (const auto& r : d->error.registers) {
            out << "  status_register " << Quoted(r.query);
            for (const auto& [error, bits] : r.bits) out << " " << error << "=" << bits;
            out << "\n";
        }
        for (const auto& q : d->error.queues) {
            out << "  error_queue " << Quoted(q.query) << " empty " << Quoted(q.emptyReply);
            for (const auto& [error, entry] : q.messages) out << " " << error << "=" << Quoted(entry);
            out << "\n";
        }
        for (const Dialogue& g : d->dialogues) out << "  dialogue " << Quoted(g.query) << " -> " << Reply(g.reply) << Channel(g.channel) << "\n";
        for (const PropertySpec& p : d->properties) {
            out << "  property " << p.name << " " << Shown(p.initial) << Channel(p.channel);
            if (p.min) out << " min " << *p.min;
            if (p.max) out << " max " << *p.max;
            for (const Value& v : p.valid) out << " valid " << Shown(v);
            if (p.getterQuery) out << " getter " << Quoted(*p.getterQuery) << " -> " << Quoted(p.getterReply.Format(p.initial));
            if (p.setterQuery) out << " setter " << Quoted(p.setterQuery->Format(p.initial)) << " -> " << Reply(p.setterReply);
            if (p.setterError) out << " error " << Quoted(*p.setterError);
            out << "\n";
        }
    }
    for (const Resource& r : bench.resources) {
        out << "resource " << r.name << ": " << kinds[static_cast<int>(r.kind)];
        if (r.board) out << " board " << r.board;
        if (r.address) out << " address " << r.address;
        if (!r.host.empty()) out << " host " << r.host;
        if (r.port) out << " port " << r.port;
        if (!r.deviceName.empty()) out << " link " << r.deviceName;
        if (r.gateway) out << " gateway";
        if (r.greeting) out << " greeting " << Quoted(*r.greeting);
        out << " -> " << r.device << "\n";
    }
    for (const std::string& w : bench.warnings) out << "warning " << w << "\n";
    return out.str();
}

// Text with \\, \n, \r, \t and \xNN written out.
std::string Unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (text[i] != '\\' || !std::strchr("\\nrtx", next) || next == '\0') {
            out += text[i];
            continue;
        }
        ++i;
        if (next == 'x') out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)), i += 2;
        else out += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : '\\';
    }
    return out;
}

// Each line "MESSAGE => REPLY" sent to the device (ended by EOI) and all it
// says back, on a GPIB interface; the same lines with the replies it gave.
std::string Talk(const Bench& bench, const std::string& device, const std::string& lines) {
    Instrument inst(bench.devices.at(device), Interface::Gpib);
    std::istringstream in(lines);
    std::string out;
    for (std::string line; std::getline(in, line);) {
        const std::string message = line.substr(0, line.rfind(" =>"));
        inst.Receive(Unescaped(message), true, Clock::time_point{});
        std::string reply;
        char buf[64];
        for (Instrument::Chunk c; (c = inst.Talk(buf, sizeof buf, Clock::time_point{})).count > 0;) reply.append(buf, c.count);
        const std::string quoted = Quoted(reply);
        out += message + " =>" + (reply.empty() ? "" : " " + quoted.substr(1, quoted.size() - 2)) + "\n";
    }
    return out;
}

// Each case: "=== bench TITLE" and the bench (read as b.yaml), then "=== error"
// and the message, or "=== read" and what Describe makes of it, and any
// "=== talk DEVICE" sections. KELVO_GOLDEN_UPDATE=1 writes what was found.
TEST(Bench, EachCaseIsRefusedWithItsMessageOrReadAsWritten) {
    const std::string path = KELVO_SIM_TEST_DATA "/bench_cases.txt";
    std::ifstream in(path);
    ASSERT_TRUE(in);
    std::string header, actual, want, yaml, talk, ignored, *body = &header;
    const auto check = [&] {  // the case read so far
        if (want.empty()) return;
        const std::string title = want.substr(10, want.find('\n') - 10);
        std::string got = "=== bench " + title + "\n" + yaml;
        try {
            const Bench bench = ParseBench(yaml, "b.yaml");
            got += "=== read\n" + Describe(bench);
            for (std::size_t at = 0; (at = talk.find("=== talk ", at)) != std::string::npos; ++at) {
                const std::size_t eol = talk.find('\n', at), end = talk.find("=== ", eol);
                got += talk.substr(at, eol + 1 - at) +
                       Talk(bench, talk.substr(at + 9, eol - at - 9), talk.substr(eol + 1, end - eol - 1));
            }
        } catch (const BenchError& e) {
            got += "=== error\n" + std::string(e.what()) + "\n";
        }
        EXPECT_EQ(got, want) << title;
        actual += got;
        want.clear(), yaml.clear(), talk.clear();
    };
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("=== bench ", 0) == 0) check(), body = &yaml;
        else if (line.rfind("=== talk ", 0) == 0) body = &talk, talk += line + "\n";
        else if (line.rfind("=== ", 0) == 0) body = &ignored;
        else *body += line + "\n";
        if (body != &header) want += line + "\n";
    }
    check();
    EXPECT_GT(actual.size(), 5000u);
    if (const char* update = std::getenv("KELVO_GOLDEN_UPDATE"); update && std::string(update) == "1")
        std::ofstream(path) << header << actual;
}

TEST(Bench, ReplyForms) {
    EXPECT_EQ(ReplyForm("BLOCK(0)").Bytes(), std::string("#10"));
    const std::string block = ReplyForm("BLOCK(300)").Bytes();
    ASSERT_EQ(block.size(), 5u + 300u);
    EXPECT_EQ(block.substr(0, 5), "#3300");
    EXPECT_EQ(static_cast<unsigned char>(block[5 + 257]), 1u);  // byte i is i mod 256
}

TEST(Bench, AtMostAThousandChannels) {
    std::string ids = "1";
    for (int i = 2; i <= 1000; ++i) ids += "," + std::to_string(i);
    const std::string yaml = "devices:\n  d:\n    channels:\n      c: {ids: [%]}\nresources: {}\n";
    EXPECT_NO_THROW(ParseBench(std::string(yaml).replace(yaml.find('%'), 1, ids), "x"));
    EXPECT_THROW(ParseBench(std::string(yaml).replace(yaml.find('%'), 1, ids + ",0"), "x"), BenchError);
}

TEST(Bench, ShippedBenchesAreValid) {
    EXPECT_FALSE(LoadBenchFile(KELVO_SIM_BENCHES "/example.yaml").resources.empty());
    EXPECT_FALSE(ParseBench(DefaultBenchText(), "built-in").resources.empty());  // its instruments: the driver's tests
    EXPECT_THROW(LoadBenchFile("/nonexistent/bench.yaml"), BenchError);
}

}  // namespace
}  // namespace kelvo::sim
