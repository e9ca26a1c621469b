// The signal table's entries.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "protocols/fields.hpp"

namespace protocols {

// Growing an array of levels leaves the new ones uninitialised. Each maker
// of levels (the conversion of fractions, the decoder, the copy of an array)
// grows the array and then writes every new level once; zeroing them first
// would be a second pass over memory that is written anyway. So Levels(n)
// and resize(n) hold indeterminate levels until written: say the value
// (Levels(n, 0)) where one is meant.
template <class T>
struct ForOverwrite : std::allocator<T> {
    using value_type = T;
    template <class U>
    struct rebind {
        using other = ForOverwrite<U>;
    };
    ForOverwrite() = default;
    template <class U>
    constexpr ForOverwrite(const ForOverwrite<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... A>
    void construct(U* p, A&&... a) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
    }
};
using Levels = std::vector<std::int16_t, ForOverwrite<std::int16_t>>;

struct ConstantSignalParams {
    double value;

    friend bool operator==(const ConstantSignalParams&, const ConstantSignalParams&) = default;
    static constexpr std::string_view record_name = "ConstantSignalParams";
    static constexpr auto fields() {
        return std::tuple{field("value", &ConstantSignalParams::value)};
    }
};

struct SineSignalParams {
    double amplitude;
    double frequency;
    double phase;
    double depth;

    friend bool operator==(const SineSignalParams&, const SineSignalParams&) = default;
    static constexpr std::string_view record_name = "SineSignalParams";
    static constexpr auto fields() {
        return std::tuple{
            field("amplitude", &SineSignalParams::amplitude),
            field("frequency", &SineSignalParams::frequency),
            field("phase", &SineSignalParams::phase),
            field("depth", &SineSignalParams::depth),
        };
    }
};

struct RampSignalParams {
    double peak;
    double up_duration;
    double down_duration;

    friend bool operator==(const RampSignalParams&, const RampSignalParams&) = default;
    static constexpr std::string_view record_name = "RampSignalParams";
    static constexpr auto fields() {
        return std::tuple{
            field("peak", &RampSignalParams::peak),
            field("up_duration", &RampSignalParams::up_duration),
            field("down_duration", &RampSignalParams::down_duration),
        };
    }
};

// Mixes two entries of the same table, named by index (not checked).
struct MixedSignalParams {
    std::uint64_t a_idx;
    std::uint64_t b_idx;

    friend bool operator==(const MixedSignalParams&, const MixedSignalParams&) = default;
    static constexpr std::string_view record_name = "MixedSignalParams";
    static constexpr auto fields() {
        return std::tuple{
            field("a_idx", &MixedSignalParams::a_idx),
            field("b_idx", &MixedSignalParams::b_idx),
        };
    }
};

// One level per sample of the session, 0 to 32767 (full scale).
struct ArbitrarySignalParams {
    Levels samples;

    friend bool operator==(const ArbitrarySignalParams&, const ArbitrarySignalParams&) = default;
    static constexpr std::string_view record_name = "ArbitrarySignalParams";
    static constexpr auto fields() {
        return std::tuple{field("samples", &ArbitrarySignalParams::samples)};
    }
};

// The variants in their fixed order: the position of a payload type in this
// variant is the index written to the file, and must never change.
struct Signal {
    using Payload = std::variant<ConstantSignalParams, SineSignalParams, RampSignalParams,
                                 MixedSignalParams, ArbitrarySignalParams>;
    Payload payload;

    static constexpr std::array<std::string_view, 5> variant_names = {
        "Constant", "Sine", "Ramp", "MixedSignal", "Arbitrary",
    };
    static_assert(variant_names.size() == std::variant_size_v<Payload>);

    std::size_t variant_index() const noexcept { return payload.index(); }
    std::string_view variant_name() const noexcept { return variant_names[payload.index()]; }

    friend bool operator==(const Signal&, const Signal&) = default;
};

}  // namespace protocols
