#include "protocols/decode.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "protocols/field_path.hpp"
#include "protocols/huge_pages.hpp"
#include "level_varints.hpp"
#include "protocols/utf8.hpp"
#include "protocols/wire.hpp"

namespace protocols {
namespace {

static_assert(std::endian::native == std::endian::little, "the file stores little-endian doubles");

using Kind = DecodeError::Kind;

// The longest run of bytes the decoder needs at once: a varint.
constexpr std::size_t MAX_VARINT = 10;
// Bytes kept before the read position when the buffer is refilled, for the
// level decoder, which looks back at them.
constexpr std::size_t HISTORY = LEVEL_LOOK_BACK;
static_assert(DECODE_BUFFER >= HISTORY + 4 * MIN_LEVEL_RUN_BYTES);
// Arrays grow as their elements arrive, never past GROWTH times what has
// arrived, so that a count that lies costs little; the first step holds up to
// FIRST_ELEMENTS (FIRST_LEVELS for levels and text).
constexpr std::size_t FIRST_ELEMENTS = 1024;
constexpr std::size_t FIRST_LEVELS = 256 * 1024;
constexpr std::size_t GROWTH = 16;
static_assert(FIRST_ELEMENTS % GROWTH == 0 && FIRST_LEVELS % GROWTH == 0);
static_assert(FIRST_LEVELS >= DECODE_BUFFER, "a buffer's worth of levels fits the first step");

// The name of the last field, which trailing bytes follow.
constexpr std::string_view LAST_FIELD =
    std::get<std::tuple_size_v<decltype(Settings::fields())> - 1>(Settings::fields()).name;

struct Failure {
    DecodeError error;
};

class Decoder {
public:
    explicit Decoder(ByteSource& source)
        : source_(source),
          buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(DECODE_BUFFER)),
          p_(buffer_.get()),
          end_(buffer_.get()) {}

    template <class T>
    void get(T& value) {
        constexpr WireKind kind = wire_kind<T>;
        if constexpr (kind == WireKind::Bool) {
            need(1);
            const std::uint8_t b = *p_++;
            if (b > 1) fail(Kind::BadBoolean, offset() - 1, "boolean byte " + hex(b) + " (expected 00 or 01)");
            value = b == 1;
        } else if constexpr (kind == WireKind::Unsigned) {
            value = varint();
        } else if constexpr (kind == WireKind::Float) {
            need(8);
            std::memcpy(&value, p_, 8);  // every bit pattern kept
            p_ += 8;
        } else if constexpr (kind == WireKind::Text) {
            get_text(value);
        } else if constexpr (kind == WireKind::Levels) {
            get_levels(value);
        } else if constexpr (kind == WireKind::Array) {
            get_array(value);
        } else if constexpr (kind == WireKind::FixedArray) {
            for (std::size_t i = 0; i < value.size(); ++i) {
                Part part(path_, i);
                get(value[i]);
            }
        } else if constexpr (kind == WireKind::Variant) {
            constexpr std::size_t alternatives = std::variant_size_v<typename T::Payload>;
            const std::uint64_t at = offset();
            const std::uint64_t index = varint();
            if (index >= alternatives) {
                fail(Kind::BadVariant, at,
                     "signal variant " + std::to_string(index) + " (expected 0 to " +
                         std::to_string(alternatives - 1) + ")");
            }
            get_payload(value.payload, index, std::make_index_sequence<alternatives>());
        } else {
            static_assert(kind == WireKind::Record);
            for_each_field(value, [this](std::string_view name, auto& field) {
                Part part(path_, name);
                get(field);
            });
        }
    }

    // After the last field: the data must end here. A source that cannot
    // tell its size is read on for at most TRAILING_PROBE bytes to say how
    // many follow.
    void finish() {
        const std::uint64_t at = offset();
        std::uint64_t extra = 0;
        bool more = false;
        if (const auto known = remaining(); known && source_.size_unchanged()) {
            extra = *known;
        } else {
            while (fill(1) > 0 && !more) {
                extra += available();
                p_ = end_;
                more = extra > TRAILING_PROBE;
            }
        }
        if (extra == 0) return;
        path_.clear();
        fail(Kind::TrailingData, at,
             std::string(more ? "more than " : "") + std::to_string(more ? TRAILING_PROBE : extra) +
                 (extra == 1 ? " byte" : " bytes") + " after the last field, " + std::string(LAST_FIELD) + ",",
             extra);
    }

private:
    using Part = FieldPath::Step;

    static std::string hex(std::uint8_t b) {
        constexpr char digits[] = "0123456789abcdef";
        return {digits[b >> 4], digits[b & 15]};
    }

    [[noreturn]] void fail(Kind kind, std::uint64_t at, const std::string& problem, std::uint64_t trailing = 0) const {
        std::string where = path_.text();
        const DecodeError::Verdict verdict = verdict_of(kind, where, at, trailing);
        std::string message = std::string(verdict_text(verdict)) + ": " + problem + " at byte " + std::to_string(at);
        if (!where.empty()) message += " in " + where;
        throw Failure{DecodeError{kind, verdict, at, std::move(where), std::move(message)}};
    }

    // The stream offset of the read position.
    std::uint64_t offset() const noexcept { return base_ + static_cast<std::uint64_t>(p_ - buffer_.get()); }
    std::size_t available() const noexcept { return static_cast<std::size_t>(end_ - p_); }

    // What remains of the data from the read position, when the source knows.
    std::optional<std::uint64_t> remaining() const {
        const auto rest = source_.remaining();
        if (!rest) return std::nullopt;
        return *rest + available();
    }

    // Makes at least n bytes available from the read position, or all that
    // remain when the data ends first; returns how many are.
    std::size_t fill(std::size_t n) {
        if (available() >= n) return available();
        // Keep the bytes not read yet and a few before them.
        const std::size_t keep = std::min<std::size_t>(HISTORY, static_cast<std::size_t>(p_ - buffer_.get()));
        const std::uint8_t* const from = p_ - keep;
        const std::size_t moved = static_cast<std::size_t>(end_ - from);
        base_ += static_cast<std::uint64_t>(from - buffer_.get());
        std::memmove(buffer_.get(), from, moved);
        p_ = buffer_.get() + keep;
        end_ = buffer_.get() + moved;
        std::uint8_t* const limit = buffer_.get() + DECODE_BUFFER;
        while (available() < n && end_ < limit) {
            const std::size_t got = source_.read({end_, static_cast<std::size_t>(limit - end_)});
            if (got == 0) break;
            end_ += got;
        }
        return available();
    }

    void need(std::size_t n) {
        if (fill(n) < n) fail(Kind::EndOfData, offset() + available(), "unexpected end of data");
    }

    // LEB128 in its shortest form, at most ten bytes, below 2^64.
    std::uint64_t varint() {
        const std::uint64_t at = offset();
        fill(MAX_VARINT);
        std::uint64_t value = 0;
        for (unsigned i = 0;; ++i) {
            need(1);
            const std::uint8_t b = *p_++;
            if (i == 9 && b > 1) {
                if (b & 0x80) fail(Kind::VarintTooLong, at, "varint longer than 10 bytes");
                fail(Kind::VarintTooLarge, at, "varint beyond 64 bits");
            }
            value |= static_cast<std::uint64_t>(b & 0x7f) << (7 * i);
            if ((b & 0x80) == 0) {
                if (b == 0 && i > 0) fail(Kind::VarintNotShortest, at, "varint not in its shortest form");
                return value;
            }
        }
    }

    // An element count. Where the source knows what remains, it is checked
    // against what that can hold.
    std::size_t count(std::size_t min_element_size) {
        const std::uint64_t at = offset();
        const std::uint64_t n = varint();
        // A file that grew since it was opened is read on by the pipe's rules.
        if (const auto rest = remaining(); rest && n > *rest / min_element_size && source_.size_unchanged()) {
            fail(Kind::CountTooLarge, at,
                 "count " + std::to_string(n) + " larger than the " + std::to_string(*rest) +
                     " bytes that remain can hold");
        }
        if (n > SIZE_MAX) fail(Kind::CountTooLarge, at, "count " + std::to_string(n) + " larger than memory");
        return static_cast<std::size_t>(n);
    }

    // Makes room for `more` elements after those of `v`, an array of n in
    // all. The capacities step up by GROWTH on a ladder planned back from n
    // (n / GROWTH^k, rounded up), so that a valid array ends with one step
    // from n / GROWTH to n: one allocation at the final size, and a peak of
    // 1 / GROWTH more while the last step copies.
    template <class V>
    static void make_room(V& v, std::size_t n, std::size_t first, std::size_t more = 1) {
        if (v.capacity() - v.size() >= more) return;
        const std::size_t allowed = GROWTH * std::max(v.size(), first / GROWTH);
        std::size_t next = n;
        while (next > allowed) next = next / GROWTH + (next % GROWTH != 0);
        next = std::max(next, v.size() + more);
        v.reserve(next);
        prefer_huge_pages(v.data(), v.capacity() * sizeof(typename V::value_type));
    }

    template <class V>
    void get_array(V& value) {
        const std::size_t n = count(min_wire_size<typename V::value_type>());
        value.clear();
        for (std::size_t i = 0; i < n; ++i) {
            make_room(value, n, FIRST_ELEMENTS);
            value.emplace_back();
            Part part(path_, i);
            get(value.back());
        }
    }

    void get_text(std::string& value) {
        const std::uint64_t at = offset();
        std::size_t left = count(1);
        value.clear();
        while (left > 0) {
            need(1);
            const std::size_t take = std::min(left, available());
            make_room(value, left + value.size(), FIRST_LEVELS, take);
            value.append(reinterpret_cast<const char*>(p_), take);
            p_ += take;
            left -= take;
        }
        if (!utf8::is_valid(value)) fail(Kind::TextNotUtf8, at, "text that is not valid UTF-8");
    }

    // Levels are decoded a buffer at a time, in bulk, straight into the
    // array: it grows (uninitialised) by what the buffer's bytes can hold,
    // and is cut back to what was decoded, so every level is written once.
    void get_levels(Levels& levels) {
        const std::size_t n = count(1);
        levels.clear();
        while (levels.size() < n) {
            const std::size_t done = levels.size();
            fill(MIN_LEVEL_RUN_BYTES);
            // A level takes a byte at least, and the one that may stand
            // across the end of the buffer is read on its own.
            const std::size_t run = std::min(n - done, std::max<std::size_t>(available(), 1));
            // Room for these and the one that may be read on its own, within n.
            make_room(levels, n, FIRST_LEVELS, std::min(run + 1, n - done));
            levels.resize(done + run);
            const LevelRun r = get_level_varints(p_, end_, levels.data() + done, run);
            levels.resize(done + r.levels);
            p_ = r.end;
            // A level that breaks the rules or may stand across the end of
            // the buffer: on its own, with the exact failure.
            if (r.levels == 0 || r.failed) get_one_level(levels);
        }
    }

    void get_one_level(Levels& levels) {
        Part part(path_, levels.size());
        const std::uint64_t at = offset();
        std::uint32_t z = 0;
        for (unsigned k = 0;; ++k) {
            need(1);
            const std::uint8_t b = *p_++;
            if (k == 2 && b > 3) fail(Kind::LevelTooLarge, at, "level beyond 16 bits");
            z |= static_cast<std::uint32_t>(b & 0x7f) << (7 * k);
            if ((b & 0x80) == 0) {
                if (b == 0 && k > 0) fail(Kind::LevelNotShortest, at, "level not in its shortest form");
                break;
            }
        }
        levels.push_back(static_cast<std::int16_t>((z >> 1) ^ (0u - (z & 1))));
    }

    template <class Payload, std::size_t... I>
    void get_payload(Payload& payload, std::uint64_t index, std::index_sequence<I...>) {
        (void)((index == I ? (get(payload.template emplace<I>()), true) : false) || ...);
    }

    ByteSource& source_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    const std::uint8_t* p_;
    std::uint8_t* end_;
    std::uint64_t base_ = 0;  // the stream offset of buffer_[0]
    FieldPath path_;
};

}  // namespace

DecodeError::Verdict verdict_of(DecodeError::Kind kind, std::string_view path, std::uint64_t decoded,
                                std::uint64_t trailing) noexcept {
    using Verdict = DecodeError::Verdict;
    // The fields that every protocol file begins with.
    constexpr std::string_view first = std::get<0>(Settings::fields()).name;
    constexpr std::string_view machine = std::get<1>(Settings::fields()).name;
    const auto starts = [&](std::string_view field) {
        return path.starts_with(field) && (path.size() == field.size() || path[field.size()] == '.' ||
                                           path[field.size()] == '[');
    };
    const bool beginning = starts(first) || starts(machine);
    switch (kind) {
        case Kind::EndOfData: return decoded == 0 ? Verdict::NotProtocol : Verdict::Truncated;
        case Kind::CountTooLarge: return beginning ? Verdict::NotProtocol : Verdict::Truncated;
        case Kind::TrailingData: return trailing > decoded ? Verdict::NotProtocol : Verdict::Damaged;
        default: return beginning ? Verdict::NotProtocol : Verdict::Damaged;
    }
}

std::string_view verdict_text(DecodeError::Verdict verdict) noexcept {
    switch (verdict) {
        case DecodeError::Verdict::NotProtocol: return "not a protocol file";
        case DecodeError::Verdict::Truncated: return "the protocol file ends early, probably truncated";
        case DecodeError::Verdict::Damaged: break;
    }
    return "a damaged protocol file";
}

Result<Settings, DecodeError> decode(ByteSource& source) {
    try {
        Decoder decoder(source);
        Settings settings{};
        decoder.get(settings);
        decoder.finish();
        return settings;
    } catch (Failure& f) {
        return std::move(f.error);
    }
}

Result<Settings, DecodeError> decode(std::span<const std::uint8_t> bytes) {
    MemorySource source(bytes);
    return decode(source);
}

}  // namespace protocols
