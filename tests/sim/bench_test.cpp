// Reading bench files: resources, reply forms, and the messages for benches
// that cannot be used.
#include <gtest/gtest.h>

#include "model/bench.h"

namespace kelvo::sim {
namespace {

const char* const kDevice = R"(spec: "1.1"
devices:
  meter:
    dialogues:
      - q: "*IDN?"
        r: METER
)";

TEST(Bench, ResourcesPlaceDevicesOnTheBusAndTheNetwork) {
    const Bench bench = ParseBench(std::string(kDevice) + R"(resources:
  GPIB0::5::INSTR: {device: meter}
  gpib::30::instr: {device: meter}
  TCPIP::localhost::5025::SOCKET: {device: meter}
  ASRL1::INSTR: {device: meter}
)", "b.yaml");
    ASSERT_EQ(bench.resources.size(), 4u);
    EXPECT_EQ(bench.resources[0].kind, Resource::Kind::Gpib);
    EXPECT_EQ(bench.resources[0].address, 5);
    EXPECT_EQ(bench.resources[1].address, 30);
    EXPECT_EQ(bench.resources[2].kind, Resource::Kind::TcpipSocket);
    EXPECT_EQ(bench.resources[2].host, "localhost");
    EXPECT_EQ(bench.resources[2].port, 5025);
    EXPECT_EQ(bench.resources[3].kind, Resource::Kind::Other);
    EXPECT_EQ(bench.devices.at("meter")->dialogues.at(0).query, "*IDN?");
}

// VXI-11 resources: inst0 by default, a name of their own, or a GPIB address
// behind a gateway, whose device may come from the bench's GPIB resource.
TEST(Bench, Vxi11ResourcesNameTheirDeviceAndGatewaysTheirGpibAddress) {
    const Bench bench = ParseBench(std::string(kDevice) + R"(resources:
  GPIB0::5::INSTR: {device: meter}
  TCPIP::127.0.0.1::INSTR: {device: meter}
  TCPIP0::127.0.0.2::Inst1::INSTR: {device: meter}
  TCPIP::127.0.0.1::GPIB0,5::INSTR: {}
  TCPIP::127.0.0.1::5025::SOCKET: {device: meter, greeting: "100 Connection accepted"}
  TCPIP::127.0.0.1::5026::SOCKET: {device: meter}
)", "b.yaml");
    ASSERT_EQ(bench.resources.size(), 6u);
    EXPECT_TRUE(bench.warnings.empty());
    EXPECT_EQ(bench.resources[1].kind, Resource::Kind::Vxi11);
    EXPECT_EQ(bench.resources[1].host, "127.0.0.1");
    EXPECT_EQ(bench.resources[1].deviceName, "inst0");
    EXPECT_FALSE(bench.resources[1].gateway);
    EXPECT_EQ(bench.resources[2].host, "127.0.0.2");
    EXPECT_EQ(bench.resources[2].deviceName, "inst1");
    EXPECT_TRUE(bench.resources[3].gateway);
    EXPECT_EQ(bench.resources[3].deviceName, "gpib0,5");
    EXPECT_EQ(bench.resources[3].address, 5);
    EXPECT_EQ(bench.resources[3].device, "meter");
    EXPECT_EQ(bench.resources[4].greeting, std::optional<std::string>("100 Connection accepted"));
    EXPECT_FALSE(bench.resources[5].greeting);
}

TEST(Bench, Vxi11ProblemsAreNamed) {
    const std::pair<const char*, const char*> cases[] = {
        {"  TCPIP::127.0.0.1::gpib0,31::INSTR: {device: meter}\n", "must be 1 to 30"},
        {"  TCPIP::127.0.0.1::gpib0,5,96::INSTR: {device: meter}\n", "secondary addresses"},
        {"  TCPIP::127.0.0.1::gpib0,7::INSTR: {}\n", "no GPIB0::7::INSTR"},
        {"  TCPIP::127.0.0.1::INSTR: {}\n", "names no device"},
        {"  TCPIP::127.0.0.1::INSTR: {device: meter}\n  TCPIP::127.0.0.1::inst0::INSTR: {device: meter}\n",
         "served twice"},
    };
    for (const auto& [resource, problem] : cases) {
        try {
            ParseBench(std::string(kDevice) + "resources:\n" + resource, "bench.yaml");
            ADD_FAILURE() << "accepted: " << resource;
        } catch (const BenchError& e) {
            EXPECT_NE(e.problem().find(problem), std::string::npos) << e.what();
        }
    }
    const Bench bench = ParseBench(std::string(kDevice) + "resources:\n  TCPIP::127.0.0.1::INSTR: {device: meter, greeting: hi}\n",
                                   "bench.yaml");
    EXPECT_EQ(bench.warnings, (std::vector<std::string>{"bench.yaml:8: resource 'TCPIP::127.0.0.1::INSTR': key 'greeting' "
                                                        "is not supported (only 'device'): ignored"}));
}

TEST(Bench, ProblemsNameTheFileTheLineAndTheProblem) {
    struct Case {
        std::string yaml;
        int line;
        const char* problem;
    };
    const std::string resources = "resources:\n  GPIB0::5::INSTR: {device: meter}\n";
    const Case cases[] = {
        {"devices:\n  meter: [\n", 3, ""},  // YAML syntax: the parser's own words
        {std::string(kDevice) + "resources:\n  GPIB0::5::INSTR:\n    device: dmm\n", 9, "unknown device 'dmm'"},
        {std::string(kDevice) + "resources:\n  GPIB0::31::INSTR: {device: meter}\n", 8, "1 to 30"},
        {std::string(kDevice) + resources + "  GPIB::5::INSTR: {device: meter}\n", 9, "address 5 is used twice"},
        {std::string(kDevice) + "      - q: X\n        r: BYTES(4g)\n" + resources, 8, "not a hexadecimal digit"},
        {std::string(kDevice) + "      - q: X\n        r: BLOCK(x)\n" + resources, 8, "BLOCK(x)"},
        {std::string(kDevice) + "    properties:\n      v:\n        default: 1\n        setter: {q: \"V\"}\n" +
             resources, 10, "exactly one format field"},
        {std::string(kDevice) + "    properties:\n      v:\n        default: 1\n        specs: {type: double}\n" +
             resources, 10, "float, int or str"},
        {std::string(kDevice) + "    status_byte: 300\n" + resources, 7, "0 to 255"},
        {"spec: \"2.0\"\ndevices: {}\nresources: {}\n", 1, "not supported"},
    };
    for (const Case& c : cases) {
        try {
            ParseBench(c.yaml, "bench.yaml");
            ADD_FAILURE() << "accepted:\n" << c.yaml;
        } catch (const BenchError& e) {
            EXPECT_EQ(e.file(), "bench.yaml");
            EXPECT_EQ(e.line(), c.line) << e.what();
            EXPECT_NE(e.problem().find(c.problem), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind("bench.yaml:" + std::to_string(c.line) + ": ", 0), 0u) << e.what();
        }
    }
    EXPECT_THROW(LoadBenchFile("/nonexistent/bench.yaml"), BenchError);
}

TEST(Bench, UnknownKeysAreWarnedAboutAndIgnored) {
    const Bench bench = ParseBench(std::string(kDevice) + "    dialogs: []\n    chanels: {}\n"
                                   "resources:\n  GPIB0::5::INSTR: {device: meter, filename: x.yaml}\nextra: 1\n",
                                   "bench.yaml");
    EXPECT_EQ(bench.warnings, (std::vector<std::string>{
                                  "bench.yaml:11: unknown key 'extra' in the bench ignored",
                                  "bench.yaml:7: unknown key 'dialogs' in device 'meter' ignored",
                                  "bench.yaml:8: unknown key 'chanels' in device 'meter' ignored",
                                  "bench.yaml:10: resource 'GPIB0::5::INSTR': key 'filename' is not supported "
                                  "(only 'device'): ignored"}));
    EXPECT_EQ(bench.resources.at(0).address, 5);
}

// As pyvisa-sim reads them: \r and \n written out in a single-quoted string are
// CR and LF; q, r and e lose their blanks at both ends.
TEST(Bench, EscapesAndBlanksAsPyvisaSimReadsThem) {
    const Bench bench = ParseBench(R"(spec: "1.1"
devices:
  d:
    eom:
      GPIB INSTR: {q: '\r\n', r: '\n'}
    error: 'ERR\r'
    dialogues:
      - {q: '  A\r?  ', r: '  one\ntwo  '}
    properties:
      v:
        default: 1
        setter: {q: "V {:d}", r: " OK ", e: ' bad\n'}
resources: {}
)", "b.yaml");
    const DeviceSpec& d = *bench.devices.at("d");
    EXPECT_EQ(d.EomFor(Interface::Gpib).query, "\r\n");
    EXPECT_EQ(d.EomFor(Interface::Gpib).reply, "\n");
    EXPECT_EQ(d.error.commandError, "ERR\r");
    EXPECT_EQ(d.dialogues.at(0).query, "A\r?");
    EXPECT_EQ(d.dialogues.at(0).reply->Bytes(), "one\ntwo");
    EXPECT_EQ(d.properties.at(0).setterReply->Bytes(), "OK");
    EXPECT_EQ(d.properties.at(0).setterError, "bad\n");
}

TEST(Bench, ReplyForms) {
    EXPECT_EQ(ReplyForm("abBYTES(cd 0a)ef").Bytes(), "ab\xcd\nef");
    EXPECT_FALSE(ReplyForm("BYTES(41 42 0a)").Terminated());
    EXPECT_TRUE(ReplyForm("BYTES()").Terminated());  // empty: not a directive
    EXPECT_EQ(ReplyForm("BYTES()").Bytes(), "BYTES()");
    EXPECT_EQ(ReplyForm("BLOCK(0)").Bytes(), std::string("#10"));
    const std::string block = ReplyForm("BLOCK(300)").Bytes();
    ASSERT_EQ(block.size(), 5u + 300u);
    EXPECT_EQ(block.substr(0, 5), "#3300");
    EXPECT_EQ(static_cast<unsigned char>(block[5 + 257]), 1u);  // byte i is i mod 256
    const ReplyForm stream("STREAM(ab BYTES(0a))");
    EXPECT_TRUE(stream.IsStream());
    EXPECT_EQ(stream.StreamText(), "ab \n");
    EXPECT_EQ(ExpandBytes("BYTES(aa 55)x"), "\xaa\x55x");
    EXPECT_THROW(ReplyForm("BYTES(123)"), std::invalid_argument);
    EXPECT_THROW(ReplyForm("STREAM()"), std::invalid_argument);
}

TEST(Bench, DefaultsKeepTheirYamlTypes) {
    const Bench bench = ParseBench("devices:\n  d:\n    properties:\n      a: {default: 5}\n      b: {default: 1.5}\n"
                                   "      c: {default: '5'}\n      e: {default: 2, specs: {type: float}}\n"
                                   "resources: {}\n", "x");
    const auto& p = bench.devices.at("d")->properties;
    EXPECT_EQ(p.at(0).type, Value::Kind::Int);
    EXPECT_EQ(p.at(1).type, Value::Kind::Float);
    EXPECT_EQ(p.at(2).type, Value::Kind::Text);  // quoted
    EXPECT_EQ(p.at(3).initial.kind, Value::Kind::Float);
}

TEST(Bench, ShippedBenchesAreValid) {
    const Bench example = LoadBenchFile(KELVO_SIM_BENCHES "/example.yaml");
    EXPECT_FALSE(example.resources.empty());
    EXPECT_FALSE(ParseBench(DefaultBenchText(), "built-in").resources.empty());  // its instruments: the driver's tests
}

}  // namespace
}  // namespace kelvo::sim
