#include "protocols/settings.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "protocols/config.hpp"
#include "protocols/numeric.hpp"
#include "protocols/utf8.hpp"

namespace protocols {
namespace {

bool target_machine_marked() {
    const char* value = std::getenv(TARGET_MACHINE_VARIABLE);
    return value != nullptr && utf8::is_valid(std::string_view(value, std::strlen(value)));
}

// The one entry of the factory default's signal table.
Signal default_signal() { return Signal{ConstantSignalParams{0.0}}; }

}  // namespace

Settings Settings::factory_default() {
    const bool on_target = target_machine_marked();
    ChannelSettings channel_a;
    channel_a.enabled = true;
    Settings s{
        .running_on_target_machine = on_target,
        .machine_config = MachineConfig::factory_default(),
        .intensity = 0.0,
        .session_duration = 60.0,
        .signals = {},
        .channel_a_settings = channel_a,
        .channel_b_settings = ChannelSettings{},
        .monitor_trace_visible = {},
        .monitor_subsampling_factor = 1,
    };
    s.signals.reserve(1);
    s.signals.push_back(default_signal());
    return s;
}

Settings new_protocol() {
    Settings s = Settings::factory_default();
    s.signals = {};
    return s;
}

void fill_empty_signal_table(Settings& settings) {
    if (settings.signals.empty()) settings.signals.push_back(default_signal());
}

std::optional<std::uint64_t> sample_count(double duration) noexcept {
    if (!(duration > 0.0)) return std::nullopt;
    return saturate_to_u64(std::ceil(duration * config::SAMPLING_RATE));
}

}  // namespace protocols
