#include "protocols/decode.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "protocols/utf8.hpp"
#include "protocols/wire.hpp"

namespace protocols {
namespace {

static_assert(std::endian::native == std::endian::little, "the file stores little-endian doubles");

struct Failure {
    DecodeError error;
};

class Decoder {
public:
    explicit Decoder(std::span<const std::uint8_t> bytes)
        : begin_(bytes.data()), p_(bytes.data()), end_(bytes.data() + bytes.size()) {}

    template <class T>
    void get(T& value) {
        constexpr WireKind kind = wire_kind<T>;
        if constexpr (kind == WireKind::Bool) {
            const std::uint8_t b = byte();
            if (b > 1) fail(p_ - 1, "boolean byte " + hex(b) + " (expected 00 or 01)");
            value = b == 1;
        } else if constexpr (kind == WireKind::Unsigned) {
            value = varint();
        } else if constexpr (kind == WireKind::Float) {
            need(8);
            std::memcpy(&value, p_, 8);  // every bit pattern kept
            p_ += 8;
        } else if constexpr (kind == WireKind::Text) {
            const std::uint8_t* at = p_;
            const std::size_t n = count(1);
            value.assign(reinterpret_cast<const char*>(p_), n);
            if (!utf8::is_valid(value)) fail(at, "text that is not valid UTF-8");
            p_ += n;
        } else if constexpr (kind == WireKind::Levels) {
            get_levels(value);
        } else if constexpr (kind == WireKind::Array) {
            const std::size_t n = count(min_wire_size<typename T::value_type>());
            value.clear();
            value.reserve(n);
            for (std::size_t i = 0; i < n; ++i) {
                value.emplace_back();
                Part part(*this, i);
                get(value.back());
            }
        } else if constexpr (kind == WireKind::FixedArray) {
            for (std::size_t i = 0; i < value.size(); ++i) {
                Part part(*this, i);
                get(value[i]);
            }
        } else if constexpr (kind == WireKind::Variant) {
            constexpr std::size_t alternatives = std::variant_size_v<typename T::Payload>;
            const std::uint8_t* at = p_;
            const std::uint64_t index = varint();
            if (index >= alternatives) {
                fail(at, "signal variant " + std::to_string(index) + " (expected 0 to " +
                             std::to_string(alternatives - 1) + ")");
            }
            get_payload(value.payload, index, std::make_index_sequence<alternatives>());
        } else {
            static_assert(kind == WireKind::Record);
            for_each_field(value, [this](std::string_view name, auto& field) {
                Part part(*this, name);
                get(field);
            });
        }
    }

    void finish() const {
        if (p_ == end_) return;
        const std::size_t n = remaining();
        fail(p_, std::to_string(n) + (n == 1 ? " byte" : " bytes") + " after the last field, monitor_subsampling_factor,",
             false);
    }

private:
    // One step of the path of the field being read: a name or an index.
    struct Step {
        std::string_view name;
        std::size_t index;
    };
    class Part {
    public:
        Part(Decoder& d, std::string_view name) : d_(d) { d_.path_.push_back({name, 0}); }
        Part(Decoder& d, std::size_t index) : d_(d) { d_.path_.push_back({{}, index}); }
        Part(const Part&) = delete;
        Part& operator=(const Part&) = delete;
        ~Part() { d_.path_.pop_back(); }

    private:
        Decoder& d_;
    };

    static std::string hex(std::uint8_t b) {
        constexpr char digits[] = "0123456789abcdef";
        return {digits[b >> 4], digits[b & 15]};
    }

    std::string path() const {
        std::string out;
        for (const Step& s : path_) {
            if (s.name.empty()) {
                out += '[' + std::to_string(s.index) + ']';
            } else {
                if (!out.empty()) out += '.';
                out += s.name;
            }
        }
        return out;
    }

    [[noreturn]] void fail(const std::uint8_t* at, const std::string& problem, bool in_field = true) const {
        const auto offset = static_cast<std::size_t>(at - begin_);
        std::string message = problem + " at byte " + std::to_string(offset);
        if (in_field) message += " in " + path();
        throw Failure{{offset, std::move(message)}};
    }

    std::size_t remaining() const noexcept { return static_cast<std::size_t>(end_ - p_); }

    void need(std::size_t n) const {
        if (remaining() < n) fail(end_, "unexpected end of data");
    }

    std::uint8_t byte() {
        need(1);
        return *p_++;
    }

    // LEB128 in its shortest form, at most ten bytes, below 2^64.
    std::uint64_t varint() {
        const std::uint8_t* const at = p_;
        std::uint64_t value = 0;
        for (unsigned i = 0;; ++i) {
            const std::uint8_t b = byte();
            if (i == 9 && b > 1) fail(at, b & 0x80 ? "varint longer than 10 bytes" : "varint beyond 64 bits");
            value |= static_cast<std::uint64_t>(b & 0x7f) << (7 * i);
            if ((b & 0x80) == 0) {
                if (b == 0 && i > 0) fail(at, "varint not in its shortest form");
                return value;
            }
        }
    }

    // An element count, checked against what the rest of the data can hold.
    std::size_t count(std::size_t min_element_size) {
        const std::uint8_t* at = p_;
        const std::uint64_t n = varint();
        if (n > remaining() / min_element_size) {
            fail(at, "count " + std::to_string(n) + " larger than the " + std::to_string(remaining()) +
                         " bytes that remain can hold");
        }
        return static_cast<std::size_t>(n);
    }

    void get_levels(std::vector<std::int16_t>& levels) {
        const std::size_t n = count(1);
        levels.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t* const at = p_;
            std::uint32_t z = 0;
            for (unsigned k = 0;; ++k) {
                const std::uint8_t b = byte();
                if (k == 2 && b > 3) fail_at_level(at, "level beyond 16 bits", i);
                z |= static_cast<std::uint32_t>(b & 0x7f) << (7 * k);
                if ((b & 0x80) == 0) {
                    if (b == 0 && k > 0) fail_at_level(at, "level not in its shortest form", i);
                    break;
                }
            }
            levels[i] = static_cast<std::int16_t>((z >> 1) ^ (0u - (z & 1)));
        }
    }

    [[noreturn]] void fail_at_level(const std::uint8_t* at, const std::string& problem, std::size_t level) {
        Part part(*this, level);
        fail(at, problem);
    }

    template <class Payload, std::size_t... I>
    void get_payload(Payload& payload, std::uint64_t index, std::index_sequence<I...>) {
        ((index == I ? (get(payload.template emplace<I>()), true) : false) || ...);
    }

    const std::uint8_t* const begin_;
    const std::uint8_t* p_;
    const std::uint8_t* const end_;
    std::vector<Step> path_;
};

}  // namespace

Result<Settings, DecodeError> decode(std::span<const std::uint8_t> bytes) {
    try {
        Decoder decoder(bytes);
        Settings settings{};
        decoder.get(settings);
        decoder.finish();
        return settings;
    } catch (const Failure& f) {
        return f.error;
    }
}

}  // namespace protocols
