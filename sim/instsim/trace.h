// The --trace file: one line per event, written at once. A line is a tag and
// its words; bytes are written as two lower-case hexadecimal digits each.
#pragma once

#include <string>
#include <string_view>

namespace kelvo::instsim {

class Trace {
public:
    explicit Trace(const std::string& path);
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    bool Failed(const std::string& path) const { return !path.empty() && fd_ < 0; }
    bool On() const { return fd_ >= 0; }

    // "TAG 2a 49 ..." (CONNECT, RX, TX, CLOSE of a raw socket).
    void Event(const char* tag, std::string_view bytes = {}) const;
    // "TAG #LINK[ words][ bytes][ suffix]" for a VXI-11 link.
    void LinkEvent(const char* tag, int link, std::string_view words = {}, std::string_view bytes = {},
                   bool withBytes = false, std::string_view suffix = {}) const;

private:
    void Write(std::string line) const;
    int fd_ = -1;
};

}  // namespace kelvo::instsim
