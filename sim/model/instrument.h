// One simulated instrument at run time: it takes in messages, answers them from
// its bench description, and keeps its properties, error queues, status
// registers, status byte and output queue.
#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/bench.h"

namespace kelvo::sim {

using Clock = std::chrono::steady_clock;

class Instrument {
public:
    Instrument(std::shared_ptr<const DeviceSpec> spec, Interface where);

    const DeviceSpec& spec() const { return *spec_; }

    // Bytes sent to the instrument. A message ends at the bench's query
    // terminator, or with the last of these bytes when `end` is set (EOI).
    void Receive(std::string_view bytes, bool end, Clock::time_point now);
    // Runs one whole message: its commands are split at ';', each matched with
    // blanks, tabs, CR and LF removed at both ends and without regard to case.
    // The replies of one message form one reply, readable after delay_ms.
    void Execute(std::string_view message, Clock::time_point now);
    // Group execute trigger: runs the dialogue whose query is TRIGGER, if any.
    void Trigger(Clock::time_point now);
    // Device clear: the input and output are emptied (a stream stops).
    void Clear();
    // Records an error by its bench name ("command_error", "query_error") in the
    // status registers and error queues that list it.
    void RecordError(const std::string& name);

    bool HasOutput() const { return !output_.empty(); }
    // When the first reply becomes readable; nothing when no reply is queued.
    std::optional<Clock::time_point> ReadyAt() const;

    struct Chunk {
        std::size_t count = 0;
        bool eoi = false;  // the last byte ended a reply
        bool eos = false;  // the last byte was the end-of-string byte
    };
    // Sends up to `max` bytes of the first reply when it is readable. Stops after
    // the end of the reply, or after the byte `eosByte` when it is 0 to 255
    // (compared in all eight bits or in the low seven).
    Chunk Talk(char* dst, std::size_t max, Clock::time_point now, int eosByte = -1, bool eos8Bit = true);

    // The first queued reply taken whole, ready or not, for a transport that
    // sends each reply in one piece once `readyAt` has come.
    struct WholeReply {
        std::string bytes;
        std::string stream;  // repeated for ever after the bytes, when not empty
        Clock::time_point readyAt;
    };
    std::optional<WholeReply> TakeReply();

    int statusByte() const { return statusByte_; }
    void setStatusByte(int value) { statusByte_ = value & 0xFF; }

private:
    struct Reply {
        std::string bytes;
        std::size_t pos = 0;
        std::string stream;  // repeated for ever once bytes are sent
        std::size_t streamPos = 0;
        Clock::time_point readyAt;
    };
    struct Answer {
        bool reply = false;
        std::string bytes;
        bool terminate = true;
        std::string stream;
    };
    Answer Respond(std::string_view command);
    Answer FromForm(const std::optional<ReplyForm>& form) const;
    Answer FromText(const std::optional<std::string>& text) const;
    bool Store(std::size_t index, const Value& value);

    std::shared_ptr<const DeviceSpec> spec_;
    Eom eom_;
    std::string input_;
    std::size_t scanned_ = 0;  // input_ before this holds no terminator
    std::deque<Reply> output_;
    std::vector<Value> values_;
    std::vector<int> registers_;
    std::vector<std::deque<std::string>> queues_;
    int statusByte_ = 0;
};

}  // namespace kelvo::sim
