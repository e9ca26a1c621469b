// Source selection: where each coil's amplitude and each channel's modulation come from.
#include "member_args.hpp"
#include "methods.hpp"

namespace pydrel {

using namespace bind;

namespace {

using protocols::SignalSourceSelection;

constexpr Params<3> SET_AMPLITUDE_SOURCE{"Protocol.set_amplitude_source()", {"coil", "index", "external"}, 2};
constexpr Params<3> SET_MODULATION_SOURCE{
    "Protocol.set_modulation_source()", {"channel", "index", "external"}, 2};

SignalSourceSelection selection(Args& a) {
    const std::uint64_t index = index_argument(a, 1);
    const bool external = external_argument(a, 2, false);
    // The index of the source not selected is reset to 0.
    return external ? SignalSourceSelection::external_input(index) : SignalSourceSelection::internal_signal(index);
}

SignalSourceSelection& amplitude_source(protocols::Settings& s, std::uint8_t coil) {
    protocols::ChannelSettings& channel = coil < 2 ? s.channel_a_settings : s.channel_b_settings;
    return coil % 2 == 0 ? channel.amplitude1_source : channel.amplitude2_source;
}

}  // namespace

PyObject* set_amplitude_source(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return protocol_method<SET_AMPLITUDE_SOURCE>(self, args, nargs, kwnames, [](auto& s, Args& a) {
        const std::uint8_t coil = coil_argument(a, 0);
        amplitude_source(s, coil) = selection(a);
        return none();
    });
}

PyObject* set_modulation_source(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return protocol_method<SET_MODULATION_SOURCE>(self, args, nargs, kwnames, [](auto& s, Args& a) {
        const std::uint8_t channel = channel_argument(a, 0);
        (channel == 1 ? s.channel_b_settings : s.channel_a_settings).modulation_source = selection(a);
        return none();
    });
}

}  // namespace pydrel
