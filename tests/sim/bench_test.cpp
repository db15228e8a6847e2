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

// Resources place devices on the bus and the network. VXI-11 ones serve inst0
// by default, a name of their own, or a GPIB address behind a gateway, whose
// device may come from the bench's GPIB resource.
TEST(Bench, ResourcesPlaceDevicesOnTheBusAndTheNetwork) {
    const Bench bench = ParseBench(std::string(kDevice) + R"(resources:
  GPIB0::5::INSTR: {device: meter}
  gpib::30::instr: {device: meter}
  TCPIP::localhost::5025::SOCKET: {device: meter, greeting: "100 Connection accepted"}
  ASRL1::INSTR: {device: meter}
  TCPIP::127.0.0.1::INSTR: {device: meter}
  TCPIP0::127.0.0.2::Inst1::INSTR: {device: meter}
  TCPIP::127.0.0.1::GPIB0,5::INSTR: {}
)", "b.yaml");
    using K = Resource::Kind;
    const struct {
        K kind;
        int address, port;
        const char *host, *deviceName;
        bool gateway;
    } rows[] = {{K::Gpib, 5, 0, "", "", false},         {K::Gpib, 30, 0, "", "", false},
                {K::TcpipSocket, 0, 5025, "localhost", "", false}, {K::Other, 0, 0, "", "", false},
                {K::Vxi11, 0, 0, "127.0.0.1", "inst0", false},   {K::Vxi11, 0, 0, "127.0.0.2", "inst1", false},
                {K::Vxi11, 5, 0, "127.0.0.1", "gpib0,5", true}};
    ASSERT_EQ(bench.resources.size(), std::size(rows));
    EXPECT_TRUE(bench.warnings.empty());
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Resource& r = bench.resources[i];
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.kind, rows[i].kind);
        if (rows[i].address != 0) { EXPECT_EQ(r.address, rows[i].address); }
        if (rows[i].port != 0) { EXPECT_EQ(r.port, rows[i].port); }
        EXPECT_EQ(r.host, rows[i].host);
        if (r.kind == K::Vxi11) { EXPECT_EQ(r.deviceName, rows[i].deviceName); }
        EXPECT_EQ(r.gateway, rows[i].gateway);
        EXPECT_EQ(r.device, "meter");  // the gateway's from GPIB0::5::INSTR
        EXPECT_EQ(r.greeting.has_value(), i == 2);
    }
    EXPECT_EQ(bench.resources[2].greeting, std::optional<std::string>("100 Connection accepted"));
    EXPECT_EQ(bench.devices.at("meter")->dialogues.at(0).query, "*IDN?");
}

// Each check of a bench file, one row each: the bench (the device "meter" made
// of `device`, then `rest`) and the whole message.
TEST(Bench, EachProblemNamesTheFileTheLineAndTheProblem) {
    struct Case {
        std::string device;
        std::string rest;
        const char* message;
    };
    const std::string gpib5 = "resources:\n  GPIB0::5::INSTR: {device: meter}\n";
    const std::string props = "    properties:\n      v:\n";
    const std::string dialogue = "    dialogues:\n";
    std::string ids = "0";
    for (int i = 1; i <= 1000; ++i) ids += "," + std::to_string(i);
    const Case cases[] = {
        {"    dialogues: x\n", gpib5, "b.yaml:4: device 'meter': dialogues must be a list of '- q: ...' entries"},
        {dialogue + "      - r: X\n", gpib5, "b.yaml:5: device 'meter': dialogue without a query 'q'"},
        {dialogue + "      - q: [a]\n        r: X\n", gpib5,
         "b.yaml:5: device 'meter': dialogue q must be a single value"},
        {dialogue + "      - q: X\n        r: BYTES(4g)\n", gpib5,
         "b.yaml:6: device 'meter': dialogue r: BYTES(4g) holds a character that is not a hexadecimal digit"},
        {dialogue + "      - q: X\n        r: BYTES(123)\n", gpib5,
         "b.yaml:6: device 'meter': dialogue r: BYTES(123) has an odd number of hexadecimal digits"},
        {dialogue + "      - q: X\n        r: BLOCK(x)\n", gpib5,
         "b.yaml:6: device 'meter': dialogue r: BLOCK(x) needs a byte count of 0 to 100000000"},
        {dialogue + "      - q: X\n        r: STREAM()\n", gpib5,
         "b.yaml:6: device 'meter': dialogue r: STREAM() needs the text to repeat"},
        {"    eom: x\n", gpib5, "b.yaml:4: device 'meter': eom must be a mapping of keys to values"},
        {"    status_byte: 300\n", gpib5, "b.yaml:4: device 'meter': status_byte must be 0 to 255"},
        {"    status_byte: x\n", gpib5, "b.yaml:4: device 'meter': status_byte must be a whole number, not 'x'"},
        {"    ist: maybe\n", gpib5, "b.yaml:4: device 'meter': ist must be true or false"},
        {"    delay_ms: -1\n", gpib5, "b.yaml:4: device 'meter': delay_ms must be 0 to 3600000"},
        {"    delay_ms: x\n", gpib5, "b.yaml:4: device 'meter': delay_ms must be a number, not 'x'"},
        {"    error:\n      status_register: x\n", gpib5,
         "b.yaml:5: device 'meter': error status_register must be a list"},
        {"    error:\n      status_register:\n        - {r: X}\n", gpib5,
         "b.yaml:6: device 'meter': error status_register entry without a query 'q'"},
        {"    error:\n      error_queue: x\n", gpib5, "b.yaml:5: device 'meter': error error_queue must be a list"},
        {"    error:\n      error_queue:\n        - {default: X}\n", gpib5,
         "b.yaml:6: device 'meter': error error_queue entry without a query 'q'"},
        {"    error:\n      error_queue:\n        - {q: X}\n", gpib5,
         "b.yaml:6: device 'meter': error error_queue entry without a 'default' reply for an empty queue"},
        {props + "        default: 1\n        specs: {type: double}\n", gpib5,
         "b.yaml:7: device 'meter': property 'v': type must be float, int or str, not 'double'"},
        {props + "        default: 1\n        specs: {type: int, valid: 3}\n", gpib5,
         "b.yaml:7: device 'meter': property 'v': valid must be a list of values"},
        {props + "        default: x\n        specs: {type: int}\n", gpib5,
         "b.yaml:6: device 'meter': property 'v' default 'x' does not fit the property's type"},
        {props + "        default: 1\n        getter: {q: \"V?\"}\n", gpib5,
         "b.yaml:7: device 'meter': property 'v' getter needs both 'q' and 'r'"},
        {props + "        default: 1\n        setter: {r: OK}\n", gpib5,
         "b.yaml:7: device 'meter': property 'v' setter needs a query 'q'"},
        {props + "        default: 1\n        setter: {q: \"V\"}\n", gpib5,
         "b.yaml:7: device 'meter': property 'v' setter q must hold exactly one format field such as {:f}"},
        {"    channels:\n      c:\n        ids: []\n", gpib5,
         "b.yaml:5: device 'meter': channels 'c' needs a list of channel ids"},
        {"    channels:\n      c:\n        ids: [" + ids + "]\n", gpib5,
         "b.yaml:6: device 'meter': channels 'c': at most 1000 channel ids"},
        {"", "resources:\n  GPIB0::5::INSTR: {}\n", "b.yaml:6: resource 'GPIB0::5::INSTR' names no device"},
        {"", "resources:\n  GPIB0::5::INSTR:\n    device: dmm\n",
         "b.yaml:7: resource 'GPIB0::5::INSTR' names the unknown device 'dmm'"},
        {"", "resources:\n  GPIB0::5::1::INSTR: {device: meter}\n",
         "b.yaml:6: resource 'GPIB0::5::1::INSTR': secondary addresses are not simulated"},
        {"", "resources:\n  GPIB0::x::INSTR: {device: meter}\n",
         "b.yaml:6: resource 'GPIB0::x::INSTR': expected GPIB0::<address>::INSTR"},
        {"", "resources:\n  GPIB0::31::INSTR: {device: meter}\n",
         "b.yaml:6: resource 'GPIB0::31::INSTR': the GPIB address must be 1 to 30 (0 is the board's own)"},
        {"", "resources:\n  GPIB0::0::INSTR: {device: meter}\n",
         "b.yaml:6: resource 'GPIB0::0::INSTR': the GPIB address must be 1 to 30 (0 is the board's own)"},
        {"", "resources:\n  TCPIP::h::0::SOCKET: {device: meter}\n",
         "b.yaml:6: resource 'TCPIP::h::0::SOCKET': expected TCPIP::<host>::<port>::SOCKET with a port of 1 to 65535"},
        {"", gpib5 + "  GPIB::5::INSTR: {device: meter}\n", "b.yaml:7: GPIB address 5 is used twice"},
        {"", "", "b.yaml:1: the bench has no 'resources'"},
        {"", "resources:\n  TCPIP::127.0.0.1::gpib0,31::INSTR: {device: meter}\n",
         "b.yaml:6: resource 'TCPIP::127.0.0.1::gpib0,31::INSTR': the GPIB address behind the gateway must be 1 to 30, "
         "as in gpib0,5"},
        {"", "resources:\n  TCPIP::127.0.0.1::gpib0,5,96::INSTR: {device: meter}\n",
         "b.yaml:6: resource 'TCPIP::127.0.0.1::gpib0,5,96::INSTR': secondary addresses are not simulated"},
        {"", "resources:\n  TCPIP::127.0.0.1::gpib0,7::INSTR: {}\n",
         "b.yaml:6: resource 'TCPIP::127.0.0.1::gpib0,7::INSTR' names no device, and the bench has no "
         "GPIB0::7::INSTR to take it from"},
        {"", "resources:\n  TCPIP::127.0.0.1::INSTR: {}\n", "b.yaml:6: resource 'TCPIP::127.0.0.1::INSTR' names no device"},
        {"", "resources:\n  TCPIP::127.0.0.1::INSTR: {device: meter}\n  TCPIP::127.0.0.1::inst0::INSTR: {device: meter}\n",
         "b.yaml:7: resource 'TCPIP::127.0.0.1::inst0::INSTR': device 'inst0' on 127.0.0.1 is served twice"},
    };
    for (const Case& c : cases) {
        const std::string yaml = "spec: \"1.1\"\ndevices:\n  meter:\n"
                                 + (c.device.empty() ? "    ist: true\n" : c.device) + c.rest;
        try {
            ParseBench(yaml, "b.yaml");
            ADD_FAILURE() << "accepted:\n" << yaml;
        } catch (const BenchError& e) {
            EXPECT_STREQ(e.what(), c.message) << yaml;
        }
    }
    for (const auto& [yaml, message] : std::initializer_list<std::pair<const char*, const char*>>{
             {"devices:\n  meter: [\n", "b.yaml:3: end of sequence flow not found"},
             {"- a\n", "b.yaml:1: a bench is a mapping with the keys 'devices' and 'resources'"},
             {"spec: \"2.0\"\ndevices: {}\nresources: {}\n", "b.yaml:1: format version '2.0' is not supported (use \"1.1\")"},
             {"resources: {}\n", "b.yaml:1: the bench has no 'devices'"},
         }) {
        try {
            ParseBench(yaml, "b.yaml");
            ADD_FAILURE() << "accepted:\n" << yaml;
        } catch (const BenchError& e) {
            EXPECT_STREQ(e.what(), message) << yaml;
        }
    }
    EXPECT_THROW(LoadBenchFile("/nonexistent/bench.yaml"), BenchError);
}

TEST(Bench, UnknownKeysAreWarnedAboutAndIgnored) {
    const Bench bench = ParseBench(std::string(kDevice) + "    dialogs: []\n    chanels: {}\n"
                                   "resources:\n  GPIB0::5::INSTR: {device: meter, filename: x.yaml}\n"
                                   "  TCPIP::127.0.0.1::INSTR: {device: meter, greeting: hi}\nextra: 1\n",
                                   "bench.yaml");
    EXPECT_EQ(bench.warnings, (std::vector<std::string>{
                                  "bench.yaml:12: unknown key 'extra' in the bench ignored",
                                  "bench.yaml:7: unknown key 'dialogs' in device 'meter' ignored",
                                  "bench.yaml:8: unknown key 'chanels' in device 'meter' ignored",
                                  "bench.yaml:10: resource 'GPIB0::5::INSTR': key 'filename' is not supported "
                                  "(only 'device'): ignored",
                                  "bench.yaml:11: resource 'TCPIP::127.0.0.1::INSTR': key 'greeting' is not supported "
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

TEST(Bench, DefaultsKeepTheirYamlTypesAndAThousandChannelsAreAllowed) {
    const Bench bench = ParseBench("devices:\n  d:\n    properties:\n      a: {default: 5}\n      b: {default: 1.5}\n"
                                   "      c: {default: '5'}\n      e: {default: 2, specs: {type: float}}\n"
                                   "resources: {}\n", "x");
    const auto& p = bench.devices.at("d")->properties;
    EXPECT_EQ(p.at(0).type, Value::Kind::Int);
    EXPECT_EQ(p.at(1).type, Value::Kind::Float);
    EXPECT_EQ(p.at(2).type, Value::Kind::Text);  // quoted
    EXPECT_EQ(p.at(3).initial.kind, Value::Kind::Float);
    std::string ids = "1";
    for (int i = 2; i <= 1000; ++i) ids += "," + std::to_string(i);
    EXPECT_NO_THROW(ParseBench("devices:\n  d:\n    channels:\n      c: {ids: [" + ids + "]}\nresources: {}\n", "x"));
}

TEST(Bench, ShippedBenchesAreValid) {
    const Bench example = LoadBenchFile(KELVO_SIM_BENCHES "/example.yaml");
    EXPECT_FALSE(example.resources.empty());
    EXPECT_FALSE(ParseBench(DefaultBenchText(), "built-in").resources.empty());  // its instruments: the driver's tests
}

}  // namespace
}  // namespace kelvo::sim
