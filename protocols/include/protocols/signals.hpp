// The signal table's entries.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <tuple>
#include <variant>
#include <vector>

#include "protocols/fields.hpp"

namespace protocols {

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
    std::vector<std::int16_t> samples;

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
