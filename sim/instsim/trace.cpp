#include "instsim/trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kelvo::instsim {
namespace {

void AppendHex(std::string& line, std::string_view bytes) {
    static const char hex[] = "0123456789abcdef";
    line.reserve(line.size() + bytes.size() * 3 + 16);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        line += ' ';
        line += hex[b >> 4];
        line += hex[b & 0x0F];
    }
}

}  // namespace

Trace::Trace(const std::string& path) {
    if (!path.empty()) fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

Trace::~Trace() {
    if (fd_ >= 0) close(fd_);
}

void Trace::Event(const char* tag, std::string_view bytes) const {
    if (fd_ < 0) return;
    std::string line(tag);
    AppendHex(line, bytes);
    Write(std::move(line));
}

void Trace::LinkEvent(const char* tag, int link, std::string_view words, std::string_view bytes, bool withBytes,
                      std::string_view suffix) const {
    if (fd_ < 0) return;
    std::string line = std::string(tag) + " #" + std::to_string(link);
    if (!words.empty()) (line += ' ') += words;
    if (withBytes) AppendHex(line, bytes);
    if (!suffix.empty()) (line += ' ') += suffix;
    Write(std::move(line));
}

void Trace::Write(std::string line) const {
    line += '\n';
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t n = write(fd_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace kelvo::instsim
