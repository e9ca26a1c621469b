#include "protocols/settings.hpp"

#include <cstdlib>
#include <cstring>

#include "protocols/utf8.hpp"

namespace protocols {
namespace {

bool target_machine_marked() {
    const char* value = std::getenv(TARGET_MACHINE_VARIABLE);
    return value != nullptr && utf8::is_valid(std::string_view(value, std::strlen(value)));
}

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
    s.signals.push_back(Signal{ConstantSignalParams{0.0}});
    return s;
}

}  // namespace protocols
