// ONC RPC as the simulator speaks it: XDR encoding of the few types the VXI-11
// and portmapper procedures use, call headers, replies, and the record marking
// that carries RPC messages over a TCP stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvo::instsim::rpc {

// XDR output: big-endian 32-bit units, variable-length data padded to four.
class Writer {
public:
    Writer& U32(std::uint32_t v);
    Writer& I32(std::int32_t v) { return U32(static_cast<std::uint32_t>(v)); }
    Writer& Bool(bool v) { return U32(v ? 1 : 0); }
    Writer& Opaque(std::string_view bytes);  // length, bytes, padding
    Writer& String(std::string_view text) { return Opaque(text); }
    const std::string& Bytes() const { return out_; }

private:
    std::string out_;
};

// XDR input. Every read fails once the data runs out or a length exceeds its
// limit; ok() tells whether all reads so far succeeded.
class Reader {
public:
    explicit Reader(std::string_view data) : data_(data) {}
    explicit Reader(std::string&&) = delete;  // it would read a temporary gone
    std::uint32_t U32();
    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
    bool Bool() { return U32() != 0; }
    std::string Opaque(std::size_t most);
    std::string String(std::size_t most) { return Opaque(most); }
    bool ok() const { return ok_; }
    std::string_view Rest() const { return data_.substr(pos_); }

private:
    std::string_view data_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// The call header (RFC 5531), its credentials and verifier skipped.
struct Call {
    std::uint32_t xid = 0;
    std::uint32_t rpcVersion = 0;
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    std::uint32_t procedure = 0;
    std::string_view args;  // into the record
};
// Nothing when the record is no call or is cut short.
std::optional<Call> ParseCall(std::string_view record);

enum AcceptStat : std::uint32_t { kSuccess = 0, kProgUnavail = 1, kProgMismatch = 2, kProcUnavail = 3, kGarbageArgs = 4 };

// An accepted reply with these results (kSuccess) or this failure.
std::string Reply(std::uint32_t xid, AcceptStat stat, std::string_view results = {});
// A program of the wrong version: the versions served, low to high.
std::string VersionMismatch(std::uint32_t xid, std::uint32_t low, std::uint32_t high);
// A call of another RPC version than 2: denied.
std::string RpcMismatch(std::uint32_t xid);

// One record as a single last fragment.
std::string Frame(std::string_view record);

// Gathers the fragments arriving on a stream into whole records.
class RecordReader {
public:
    explicit RecordReader(std::size_t mostRecord) : most_(mostRecord) {}
    void Append(std::string_view bytes) { in_.append(bytes); }
    // The next whole record; nothing until it has all arrived.
    std::optional<std::string> Next();
    // A record longer than allowed was announced: the stream is of no use.
    bool Oversized() const { return oversized_; }

private:
    std::string in_;
    std::size_t pos_ = 0;   // in_ before this is consumed
    std::string record_;    // fragments of the record under way
    std::size_t most_;
    bool oversized_ = false;
};

}  // namespace kelvo::instsim::rpc
