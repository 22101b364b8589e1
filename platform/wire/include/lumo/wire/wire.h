#pragma once
// Packet bodies: a Writer appends fields, a Reader takes them back with bounds checks. A Reader
// that runs past its data (or meets an impossible length) goes bad and stays bad; callers check
// ok() once at the end, so a malformed packet can never be half-used.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lumo/wire/protocol.h"

namespace lumo::wire {

class Writer {
public:
    Writer() { buf_.reserve(64); }
    Writer(Kind kind, PacketType type, std::uint32_t seq) {
        buf_.reserve(64);
        start(kind, type, seq);
    }

    void start(Kind kind, PacketType type, std::uint32_t seq) {
        buf_.clear();
        Header h{static_cast<std::uint16_t>(kind), static_cast<std::uint8_t>(type), 0, seq};
        raw(&h, sizeof h);
    }
    Writer& u32(std::uint32_t v) { return raw(&v, 4); }
    Writer& i32(std::int32_t v) { return raw(&v, 4); }
    Writer& u64(std::uint64_t v) { return raw(&v, 8); }
    Writer& s16(std::u16string_view s) {
        u32(static_cast<std::uint32_t>(s.size()));
        return raw(s.data(), s.size() * 2);
    }
    Writer& bin(std::span<const std::byte> b) {
        u32(static_cast<std::uint32_t>(b.size()));
        return raw(b.data(), b.size());
    }
    Writer& status(Status s) { return u32(static_cast<std::uint32_t>(s)); }
    // Bytes as they are, no length in front (a body replayed from a recording).
    Writer& append(std::span<const std::byte> b) { return raw(b.data(), b.size()); }

    std::span<const std::byte> bytes() const { return buf_; }
    std::size_t size() const { return buf_.size(); }

private:
    Writer& raw(const void* p, std::size_t n) {
        if (n == 0) return *this;
        auto at = buf_.size();
        buf_.resize(at + n);
        std::memcpy(buf_.data() + at, p, n);
        return *this;
    }
    std::vector<std::byte> buf_;
};

class Reader {
public:
    explicit Reader(std::span<const std::byte> body) : data_(body) {}

    std::uint32_t u32() { return fixed<std::uint32_t>(); }
    std::int32_t i32() { return fixed<std::int32_t>(); }
    std::uint64_t u64() { return fixed<std::uint64_t>(); }
    std::u16string s16() {
        auto n = u32();
        if (!ok_ || n > remaining() / 2) return fail<std::u16string>();
        std::u16string s(n, u'\0');
        std::memcpy(s.data(), data_.data() + pos_, n * 2);
        pos_ += n * 2;
        return s;
    }
    std::vector<std::byte> bin() {
        auto n = u32();
        if (!ok_ || n > remaining()) return fail<std::vector<std::byte>>();
        std::vector<std::byte> b(data_.begin() + pos_, data_.begin() + pos_ + n);
        pos_ += n;
        return b;
    }
    Status status() { return static_cast<Status>(u32()); }

    bool ok() const { return ok_; }
    // True when every byte was used and nothing ran short: what a request handler checks.
    bool done() const { return ok_ && pos_ == data_.size(); }
    std::size_t remaining() const { return data_.size() - pos_; }

private:
    template <class T>
    T fixed() {
        if (!ok_ || remaining() < sizeof(T)) return fail<T>();
        T v;
        std::memcpy(&v, data_.data() + pos_, sizeof v);
        pos_ += sizeof v;
        return v;
    }
    template <class T>
    T fail() {
        ok_ = false;
        return T{};
    }
    std::span<const std::byte> data_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// Splits a received packet into its header and body; false when it is shorter than a header.
inline bool parse_header(std::span<const std::byte> packet, Header& h,
                         std::span<const std::byte>& body) {
    if (packet.size() < sizeof(Header)) return false;
    std::memcpy(&h, packet.data(), sizeof h);
    body = packet.subspan(sizeof h);
    return true;
}

}  // namespace lumo::wire
