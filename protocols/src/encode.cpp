#include "protocols/encode.hpp"

#include <bit>
#include <cstring>
#include <string>
#include <type_traits>

namespace protocols {
namespace {

static_assert(std::endian::native == std::endian::little, "the file stores little-endian doubles");

// Writes `v` as an unsigned LEB128 varint at `p`; returns the end.
inline std::uint8_t* put_varint(std::uint8_t* p, std::uint64_t v) noexcept {
    while (v >= 0x80) {
        *p++ = static_cast<std::uint8_t>(v | 0x80);
        v >>= 7;
    }
    *p++ = static_cast<std::uint8_t>(v);
    return p;
}

inline std::uint16_t zigzag(std::int16_t n) noexcept {
    const auto u = static_cast<std::uint16_t>(n);
    return static_cast<std::uint16_t>((u << 1) ^ static_cast<std::uint16_t>(n >> 15));
}

constexpr std::size_t MAX_VARINT = 10;
constexpr std::size_t MAX_SAMPLE_VARINT = 3;

template <class T>
inline constexpr bool is_vector = false;
template <class T>
inline constexpr bool is_vector<std::vector<T>> = true;

class Encoder {
public:
    std::vector<std::uint8_t> take() && { return std::move(out_); }

    template <class T>
    void put(const T& value) {
        if constexpr (std::is_same_v<T, bool>) {
            out_.push_back(value ? 1 : 0);
        } else if constexpr (std::is_same_v<T, std::uint64_t>) {
            put_u64(value);
        } else if constexpr (std::is_same_v<T, double>) {
            std::uint8_t bytes[8];
            std::memcpy(bytes, &value, sizeof bytes);  // every bit pattern kept
            out_.insert(out_.end(), bytes, bytes + sizeof bytes);
        } else if constexpr (std::is_same_v<T, std::string>) {
            put_u64(value.size());
            out_.insert(out_.end(), value.begin(), value.end());
        } else if constexpr (std::is_same_v<T, std::vector<std::int16_t>>) {
            put_samples(value);
        } else if constexpr (is_vector<T>) {
            put_u64(value.size());
            for (const auto& element : value) put(element);
        } else if constexpr (std::is_same_v<T, std::array<bool, 16>>) {
            for (bool b : value) put(b);  // fixed length: no count
        } else if constexpr (std::is_same_v<T, Signal>) {
            put_u64(value.variant_index());
            std::visit([this](const auto& params) { put(params); }, value.payload);
        } else {
            static_assert(DeclaredRecord<T>, "no wire rule for this type");
            for_each_field(value, [this](std::string_view, const auto& f) { put(f); });
        }
    }

private:
    void put_u64(std::uint64_t v) {
        std::uint8_t bytes[MAX_VARINT];
        std::uint8_t* end = put_varint(bytes, v);
        out_.insert(out_.end(), bytes, end);
    }

    // A waveform may hold millions of levels: grow the buffer once to the
    // worst case, write in place, then trim.
    void put_samples(const std::vector<std::int16_t>& samples) {
        const std::size_t start = out_.size();
        out_.resize(start + MAX_VARINT + samples.size() * MAX_SAMPLE_VARINT);
        std::uint8_t* p = out_.data() + start;
        p = put_varint(p, samples.size());
        for (const std::int16_t s : samples) p = put_varint(p, zigzag(s));
        out_.resize(static_cast<std::size_t>(p - out_.data()));
    }

    std::vector<std::uint8_t> out_;
};

}  // namespace

std::vector<std::uint8_t> encode(const Settings& settings) {
    Encoder encoder;
    encoder.put(settings);
    return std::move(encoder).take();
}

}  // namespace protocols
