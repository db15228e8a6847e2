#include "instsim/rpc.h"

namespace kelvo::instsim::rpc {
namespace {

constexpr std::uint32_t kCallMessage = 0;
constexpr std::uint32_t kReplyMessage = 1;
constexpr std::uint32_t kAccepted = 0;
constexpr std::uint32_t kDenied = 1;
constexpr std::uint32_t kRpcMismatchReason = 0;
constexpr std::size_t kMostAuth = 400;  // RFC 5531's limit on credential bodies
constexpr std::uint32_t kLastFragment = 0x80000000u;

Writer& AcceptedHeader(Writer& w, std::uint32_t xid, std::uint32_t stat) {
    return w.U32(xid).U32(kReplyMessage).U32(kAccepted).U32(0).U32(0).U32(stat);  // verifier: AUTH_NONE
}

}  // namespace

Writer& Writer::U32(std::uint32_t v) {
    const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
    out_.append(b, 4);
    return *this;
}

Writer& Writer::Opaque(std::string_view bytes) {
    U32(static_cast<std::uint32_t>(bytes.size()));
    out_.append(bytes);
    out_.append((4 - bytes.size() % 4) % 4, '\0');
    return *this;
}

std::uint32_t Reader::U32() {
    if (!ok_ || data_.size() - pos_ < 4) {
        ok_ = false;
        return 0;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(data_.data() + pos_);
    pos_ += 4;
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::string Reader::Opaque(std::size_t most) {
    const std::size_t n = U32();
    const std::size_t padded = n + (4 - n % 4) % 4;
    if (!ok_ || n > most || data_.size() - pos_ < padded) {
        ok_ = false;
        return {};
    }
    std::string bytes(data_.substr(pos_, n));
    pos_ += padded;
    return bytes;
}

std::optional<Call> ParseCall(std::string_view record) {
    Reader r(record);
    Call c;
    c.xid = r.U32();
    if (r.U32() != kCallMessage) return std::nullopt;
    c.rpcVersion = r.U32();
    c.program = r.U32();
    c.version = r.U32();
    c.procedure = r.U32();
    for (int i = 0; i < 2; ++i) {  // credentials, then verifier
        r.U32();
        r.Opaque(kMostAuth);
    }
    if (!r.ok()) return std::nullopt;
    c.args = r.Rest();
    return c;
}

std::string Reply(std::uint32_t xid, AcceptStat stat, std::string_view results) {
    Writer w;
    AcceptedHeader(w, xid, stat);
    std::string out = w.Bytes();
    if (stat == kSuccess) out.append(results);
    return out;
}

std::string VersionMismatch(std::uint32_t xid, std::uint32_t low, std::uint32_t high) {
    Writer w;
    AcceptedHeader(w, xid, kProgMismatch).U32(low).U32(high);
    return w.Bytes();
}

std::string RpcMismatch(std::uint32_t xid) {
    Writer w;
    w.U32(xid).U32(kReplyMessage).U32(kDenied).U32(kRpcMismatchReason).U32(2).U32(2);
    return w.Bytes();
}

std::string Frame(std::string_view record) {
    Writer w;
    w.U32(kLastFragment | static_cast<std::uint32_t>(record.size()));
    return w.Bytes() + std::string(record);
}

std::optional<std::string> RecordReader::Next() {
    for (;;) {
        if (oversized_ || in_.size() - pos_ < 4) break;
        Reader header(std::string_view(in_).substr(pos_, 4));
        const std::uint32_t mark = header.U32();
        const std::size_t length = mark & ~kLastFragment;
        if (record_.size() + length > most_) {
            oversized_ = true;
            break;
        }
        if (in_.size() - pos_ - 4 < length) break;
        record_.append(in_, pos_ + 4, length);
        pos_ += 4 + length;
        if (mark & kLastFragment) {
            std::string whole = std::move(record_);
            record_.clear();
            return whole;
        }
    }
    // Keep the buffer from growing with what was consumed.
    if (pos_ > 0 && (pos_ == in_.size() || pos_ > 65536)) {
        in_.erase(0, pos_);
        pos_ = 0;
    }
    return std::nullopt;
}

}  // namespace kelvo::instsim::rpc
