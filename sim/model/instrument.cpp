#include "model/instrument.h"

#include <algorithm>
#include <cstring>

namespace kelvo::sim {

Instrument::Instrument(std::shared_ptr<const DeviceSpec> spec, Interface where)
    : spec_(std::move(spec)),
      eom_(spec_->EomFor(where)),
      registers_(spec_->error.registers.size(), 0),
      queues_(spec_->error.queues.size()),
      statusByte_(spec_->statusByte) {
    for (const PropertySpec& p : spec_->properties) values_.push_back(p.initial);
}

void Instrument::Receive(std::string_view bytes, bool end, Clock::time_point now) {
    input_.append(bytes);
    const std::string& term = eom_.query;
    if (!term.empty()) {
        std::size_t start = 0;
        std::size_t from = scanned_ >= term.size() ? scanned_ - (term.size() - 1) : 0;
        for (std::size_t at; (at = input_.find(term, from)) != std::string::npos; from = start) {
            Execute(std::string_view(input_).substr(start, at - start), now);
            start = at + term.size();
        }
        input_.erase(0, start);
        scanned_ = input_.size();
    }
    if (end && !input_.empty()) {
        const std::string message = std::move(input_);
        input_.clear();
        scanned_ = 0;
        Execute(message, now);
    }
}

void Instrument::Execute(std::string_view message, Clock::time_point now) {
    const Clock::time_point readyAt =
        now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(spec_->delayMs));
    const std::string& delimiter = spec_->delimiter;
    std::size_t start = 0;
    while (start <= message.size()) {
        std::size_t end = delimiter.empty() ? std::string_view::npos : message.find(delimiter, start);
        if (end == std::string_view::npos) end = message.size();
        const std::string_view command = Trim(message.substr(start, end - start));
        start = end == message.size() ? end + 1 : end + delimiter.size();
        if (command.empty()) continue;
        Answer answer = Respond(command);
        if (!answer.reply) continue;
        // Each command's reply is a message of its own, ended with END. (The
        // answer is moved, not copied: a block may be large.)
        Reply reply;
        reply.bytes = std::move(answer.bytes);
        if (answer.terminate) reply.bytes += eom_.reply;
        reply.stream = std::move(answer.stream);
        reply.readyAt = readyAt;
        if (reply.bytes.empty() && reply.stream.empty()) continue;
        const bool streams = !reply.stream.empty();
        output_.push_back(std::move(reply));
        if (streams) break;  // a stream never ends: later commands are never answered
    }
}

void Instrument::Trigger(Clock::time_point now) {
    for (const Dialogue& d : spec_->dialogues) {
        if (Lowered(d.query) == "trigger" && (spec_->caseBlind || d.query == "TRIGGER")) {
            Execute("TRIGGER", now);
            return;
        }
    }
}

void Instrument::Clear() {
    input_.clear();
    scanned_ = 0;
    output_.clear();
}

void Instrument::RecordError(const std::string& name) {
    for (std::size_t i = 0; i < registers_.size(); ++i) {
        const auto& bits = spec_->error.registers[i].bits;
        if (const auto it = bits.find(name); it != bits.end()) registers_[i] |= it->second;
    }
    for (std::size_t i = 0; i < queues_.size(); ++i) {
        const auto& messages = spec_->error.queues[i].messages;
        if (const auto it = messages.find(name); it != messages.end()) queues_[i].push_back(it->second);
    }
}

std::optional<Clock::time_point> Instrument::ReadyAt() const {
    if (output_.empty()) return std::nullopt;
    return output_.front().readyAt;
}

Instrument::Chunk Instrument::Talk(char* dst, std::size_t max, Clock::time_point now, int eosByte, bool eos8Bit) {
    Chunk chunk;
    if (output_.empty() || now < output_.front().readyAt) return chunk;
    Reply& r = output_.front();
    // Copies from source[pos...] until max, the EOS byte or the end of source.
    auto copy = [&](const std::string& source, std::size_t& pos) {
        std::size_t n = std::min(max - chunk.count, source.size() - pos);
        const char* from = source.data() + pos;
        if (eosByte >= 0) {
            const void* hit = nullptr;
            if (eos8Bit) {
                hit = std::memchr(from, eosByte, n);
            } else {
                for (std::size_t k = 0; k < n && hit == nullptr; ++k)
                    if (((from[k] ^ eosByte) & 0x7F) == 0) hit = from + k;
            }
            if (hit != nullptr) {
                n = static_cast<const char*>(hit) - from + 1;
                chunk.eos = true;
            }
        }
        std::memcpy(dst + chunk.count, from, n);
        chunk.count += n;
        pos += n;
    };
    while (chunk.count < max && !chunk.eos) {
        if (r.pos < r.bytes.size()) {
            copy(r.bytes, r.pos);
            if (r.pos == r.bytes.size() && r.stream.empty()) {
                chunk.eoi = true;
                output_.pop_front();
                break;
            }
        } else {
            copy(r.stream, r.streamPos);
            if (r.streamPos == r.stream.size()) r.streamPos = 0;
        }
    }
    return chunk;
}

std::optional<Instrument::WholeReply> Instrument::TakeReply() {
    if (output_.empty()) return std::nullopt;
    Reply& r = output_.front();
    // A stream already under way goes on from where it stopped.
    WholeReply whole{r.bytes.substr(r.pos), r.stream.substr(r.streamPos) + r.stream.substr(0, r.streamPos), r.readyAt};
    output_.pop_front();
    return whole;
}

Instrument::Answer Instrument::FromForm(const std::optional<ReplyForm>& form) const {
    Answer a;
    if (!form) return a;
    a.reply = true;
    a.bytes = form->Bytes();
    a.terminate = form->Terminated() && !form->IsStream();
    a.stream = form->StreamText();
    return a;
}

Instrument::Answer Instrument::FromText(const std::optional<std::string>& text) const {
    Answer a;
    if (!text) return a;
    a.reply = true;
    a.bytes = *text;
    return a;
}

// The device's own dialogues, getters, status registers, error queues and
// setters are tried first, then its channels' dialogues, getters and setters.
Instrument::Answer Instrument::Respond(std::string_view command) {
    const std::string key = spec_->caseBlind ? Lowered(command) : std::string(command);
    const DeviceSpec& spec = *spec_;
    std::optional<std::string> selected;  // the selected_channel property, read when needed
    const auto serves = [&](const ChannelTag& tag, bool channels) {
        if (tag.fromChannel != channels) return false;
        if (tag.whenSelected.empty()) return true;
        if (!selected) {
            selected = "";
            for (std::size_t i = 0; i < spec.properties.size(); ++i)
                if (!spec.properties[i].channel.fromChannel && spec.properties[i].name == "selected_channel")
                    selected = values_[i].ToString();
        }
        return *selected == tag.whenSelected;
    };
    for (const bool channels : {false, true}) {
        for (const Dialogue& d : spec.dialogues)
            if (d.query == key && serves(d.channel, channels)) return FromForm(d.reply);
        for (std::size_t i = 0; i < spec.properties.size(); ++i) {
            const PropertySpec& p = spec.properties[i];
            if (p.getterQuery == key && serves(p.channel, channels)) return FromText(p.getterReply.Format(values_[i]));
        }
        if (!channels) {
            for (std::size_t i = 0; i < registers_.size(); ++i) {
                if (spec.error.registers[i].query == key) {
                    const int value = registers_[i];
                    registers_[i] = 0;
                    return FromText(std::to_string(value));
                }
            }
            for (std::size_t i = 0; i < queues_.size(); ++i) {
                if (spec.error.queues[i].query != key) continue;
                if (queues_[i].empty()) return FromText(spec.error.queues[i].emptyReply);
                std::string entry = std::move(queues_[i].front());
                queues_[i].pop_front();
                return FromText(entry);
            }
        }
        for (std::size_t i = 0; i < spec.properties.size(); ++i) {
            const PropertySpec& p = spec.properties[i];
            if (!p.setterQuery || !serves(p.channel, channels)) continue;
            const std::optional<Value> value = p.setterQuery->Match(command, spec.caseBlind);
            if (!value) continue;
            if (Store(i, *value)) return FromForm(p.setterReply);
            RecordError("command_error");
            return FromText(p.setterError ? p.setterError : spec.error.commandError);
        }
    }
    RecordError("command_error");
    return FromText(spec.error.commandError);
}

bool Instrument::Store(std::size_t index, const Value& value) {
    const PropertySpec& p = spec_->properties[index];
    Value v;
    long long i = 0;
    double f = 0;
    switch (p.type) {
    case Value::Kind::Int:
        if (!value.ToInt(i)) return false;
        v = Value::Int(i);
        break;
    case Value::Kind::Float:
        if (!value.ToDouble(f)) return false;
        v = Value::Float(f);
        break;
    case Value::Kind::Text: v = Value::Text(value.ToString()); break;
    }
    if (p.min || p.max) {
        if (!v.ToDouble(f)) return false;
        if ((p.min && f < *p.min) || (p.max && f > *p.max)) return false;
    }
    if (!p.valid.empty()) {
        const auto same = [&](const Value& allowed) {
            switch (p.type) {
            case Value::Kind::Int: return allowed.i == v.i;
            case Value::Kind::Float: return allowed.f == v.f;
            case Value::Kind::Text: return Lowered(allowed.s) == Lowered(v.s);
            }
            return false;
        };
        const auto it = std::find_if(p.valid.begin(), p.valid.end(), same);
        if (it == p.valid.end()) return false;
        v = *it;  // text takes the bench's spelling
    }
    values_[index] = std::move(v);
    return true;
}

}  // namespace kelvo::sim
