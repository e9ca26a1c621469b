#include "protocols/encode.hpp"

#include "level_varints.hpp"
#include "protocols/wire.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <string>

namespace protocols {
namespace {

static_assert(std::endian::native == std::endian::little, "the file stores little-endian doubles");

constexpr std::size_t MAX_VARINT = 10;
// Levels encoded between two checks for room in the buffer.
constexpr std::size_t LEVEL_RUN = 1024;
static_assert(MIN_ENCODE_BUFFER >= LEVEL_RUN * 3 + LEVEL_VARINT_SLACK);
static_assert(MIN_ENCODE_BUFFER >= MAX_VARINT);

class Encoder {
public:
    Encoder(std::span<std::uint8_t> buffer, ByteSink& sink)
        : begin_(buffer.data()), end_(buffer.data() + buffer.size()), p_(begin_), sink_(sink) {}

    void finish() { flush(); }

    template <class T>
    void put(const T& value) {
        constexpr WireKind kind = wire_kind<T>;
        if constexpr (kind == WireKind::Bool) {
            room(1);
            *p_++ = value ? 1 : 0;
        } else if constexpr (kind == WireKind::Unsigned) {
            put_u64(value);
        } else if constexpr (kind == WireKind::Float) {
            room(sizeof value);
            std::memcpy(p_, &value, sizeof value);  // every bit pattern kept
            p_ += sizeof value;
        } else if constexpr (kind == WireKind::Text) {
            put_u64(value.size());
            put_bytes(value.data(), value.size());
        } else if constexpr (kind == WireKind::Levels) {
            put_levels(value);
        } else if constexpr (kind == WireKind::Array) {
            put_u64(value.size());
            for (const auto& element : value) put(element);
        } else if constexpr (kind == WireKind::FixedArray) {
            for (const auto& element : value) put(element);
        } else if constexpr (kind == WireKind::Variant) {
            put_u64(value.payload.index());
            std::visit([&](const auto& params) { put(params); }, value.payload);
        } else {
            static_assert(kind == WireKind::Record);
            for_each_field(value, [&](std::string_view, const auto& f) { put(f); });
        }
    }

private:
    std::size_t free() const noexcept { return static_cast<std::size_t>(end_ - p_); }

    void flush() {
        if (p_ != begin_) sink_.write({begin_, p_});
        p_ = begin_;
    }

    // Makes room for `n` bytes (n never exceeds the buffer).
    void room(std::size_t n) {
        if (free() < n) flush();
    }

    void put_u64(std::uint64_t v) {
        room(MAX_VARINT);
        while (v >= 0x80) {
            *p_++ = static_cast<std::uint8_t>(v | 0x80);
            v >>= 7;
        }
        *p_++ = static_cast<std::uint8_t>(v);
    }

    void put_bytes(const char* data, std::size_t n) {
        while (n > 0) {
            if (free() == 0) flush();
            const std::size_t part = std::min(n, free());
            std::memcpy(p_, data, part);
            p_ += part;
            data += part;
            n -= part;
        }
    }

    // A waveform may hold millions of levels: they go in runs, each after one
    // check for room, through the bulk encoder of level_varints.cpp.
    void put_levels(const Levels& levels) {
        put_u64(levels.size());
        const std::int16_t* next = levels.data();
        const std::int16_t* const last = next + levels.size();
        while (next != last) {
            const std::size_t run = std::min<std::size_t>(LEVEL_RUN, static_cast<std::size_t>(last - next));
            room(run * 3 + LEVEL_VARINT_SLACK);
            p_ = put_level_varints(p_, next, run);
            next += run;
        }
    }

    std::uint8_t* const begin_;
    std::uint8_t* const end_;
    std::uint8_t* p_;
    ByteSink& sink_;
};

class VectorSink final : public ByteSink {
public:
    void write(std::span<const std::uint8_t> bytes) override { out.insert(out.end(), bytes.begin(), bytes.end()); }
    std::vector<std::uint8_t> out;
};

}  // namespace

void encode(const Settings& settings, std::span<std::uint8_t> buffer, ByteSink& sink) {
    if (buffer.size() < MIN_ENCODE_BUFFER) throw std::length_error("encode: buffer below MIN_ENCODE_BUFFER");
    Encoder encoder(buffer, sink);
    encoder.put(settings);
    encoder.finish();
}

std::vector<std::uint8_t> encode(const Settings& settings) {
    std::array<std::uint8_t, MIN_ENCODE_BUFFER> buffer;
    VectorSink sink;
    encode(settings, buffer, sink);
    return std::move(sink.out);
}

}  // namespace protocols
