#include "model/bench.h"

namespace kelvo::sim {

// The bench used without GPIB_SIM_CONFIG: a multimeter at the program's default
// device address 6, and a counter at 5 that requests service, answers a parallel
// poll and a trigger, and can send blocks, raw bytes and an endless stream.
// sim/benches/example.yaml describes every key.
const std::string& DefaultBenchText() {
    static const std::string text = R"yaml(
spec: "1.1"
devices:
  multimeter:
    case_blind: true
    eom:
      GPIB INSTR: {q: "\n", r: "\n"}
      TCPIP SOCKET: {q: "\n", r: "\n"}
    error:
      status_register:
        - q: "*ESR?"
          command_error: 32
          query_error: 4
      error_queue:
        - q: "SYST:ERR?"
          default: '+0,"No error"'
          command_error: '-100,"Command error"'
          query_error: '-420,"Query UNTERMINATED"'
    dialogues:
      - q: "*IDN?"
        r: "KELVO,DMM6,SIM00006,1.0"
      - q: "*RST"
      - q: "*CLS"
      - q: "*OPC?"
        r: "1"
    properties:
      voltage:
        default: 1.2345
        getter: {q: "MEAS:VOLT:DC?", r: "{:+.6E}"}
        setter: {q: "SIM:VOLT {:f}"}
        specs: {type: float}
      range:
        default: 10
        getter: {q: "VOLT:DC:RANG?", r: "{:+.6E}"}
        setter: {q: "VOLT:DC:RANG {:g}"}
        specs: {valid: [0.1, 1, 10, 100, 1000], type: float}
      function:
        default: VOLT
        getter: {q: "FUNC?", r: '"{:s}"'}
        setter: {q: "FUNC {:s}"}
        specs: {valid: [VOLT, CURR, RES, FREQ], type: str}
  counter:
    case_blind: true
    eom:
      GPIB INSTR: {q: "\n", r: "\n"}
    error: ERROR
    status_byte: 0x40
    ist: true
    dialogues:
      - q: "*IDN?"
        r: "KELVO,CTR5,SIM00005,1.0"
      - q: "TRIGGER"
        r: "+1.000000E+07"
      - q: "FETC?"
        r: "+1.000000E+07"
      - q: "DATA?"
        r: "BLOCK(1024)"
      - q: "STAT?"
        r: "BYTES(01 02 03 04)"
      - q: "MON?"
        r: "STREAM(+1.000000E+07\n)"
    properties:
      gate:
        default: 0.1
        getter: {q: "GATE?", r: "{:.3f}"}
        setter: {q: "GATE {:f}", r: "OK"}
        specs: {min: 0.001, max: 10, type: float}
resources:
  GPIB0::6::INSTR:
    device: multimeter
  GPIB0::5::INSTR:
    device: counter
  TCPIP::127.0.0.1::5000::SOCKET:
    device: multimeter
    greeting: "100 Connection accepted"
)yaml";
    return text;
}

}  // namespace kelvo::sim
