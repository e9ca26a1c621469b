// Session parameters: duration, intensity, channels, sample count and rate.
#include "session.hpp"

#include "bind/panic.hpp"
#include "hints.hpp"
#include "member_args.hpp"
#include "methods.hpp"
#include "protocols/config.hpp"

#include <optional>

namespace pydrel {

using namespace bind;

namespace {

namespace config = protocols::config;

constexpr Params<1> SET_STIMULATION_INTENSITY{"Protocol.set_stimulation_intensity()", {"intensity"}, 1};
constexpr Params<1> SET_SESSION_DURATION{"Protocol.set_session_duration()", {"duration"}, 1};
constexpr Params<1> ENABLE_CHANNEL{"Protocol.enable_channel()", {"channel"}, 1};

// A setter of one float field: the value is stored unless the field's rule
// refuses it, which fails that rule's check, with the field's hint.
template <const auto& PARAMS, double protocols::Settings::*FIELD, auto REFUSAL, auto HINT>
PyObject* set_checked(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return protocol_method<PARAMS>(self, args, nargs, kwnames, [](auto& s, Args& a) {
        const double value = a.f64(0);
        if (const auto refused = REFUSAL(value)) panic_noted(std::string(*refused), HINT(value));
        s.*FIELD = value;
        return none();
    });
}

}  // namespace

std::uint64_t required_sample_count(const protocols::Settings& settings) {
    const std::optional<std::uint64_t> count = protocols::sample_count(settings.session_duration);
    require(count.has_value(), config::SESSION_HAS_SAMPLES);
    return *count;
}

PyObject* set_stimulation_intensity(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return set_checked<SET_STIMULATION_INTENSITY, &protocols::Settings::intensity, config::intensity_refusal,
                        hints::intensity>(
        self, args, nargs, kwnames);
}

PyObject* set_session_duration(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return set_checked<SET_SESSION_DURATION, &protocols::Settings::session_duration, config::session_duration_refusal,
                        hints::duration>(
        self, args, nargs, kwnames);
}

PyObject* enable_channel(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return protocol_method<ENABLE_CHANNEL>(self, args, nargs, kwnames, [](auto& s, Args& a) {
        const bool channel_b = channel_argument(a, 0) == 1;
        (channel_b ? s.channel_b_settings : s.channel_a_settings).enabled = true;
        return none();
    });
}

PyObject* get_num_samples(PyObject* self, PyObject*) {
    return entry([&] {
        ProtocolObject& p = ProtocolObject::from(self);
        ExclusiveBorrow borrow(p.borrow);  // exclusive like the methods that change the session
        return Ref::checked(PyLong_FromUnsignedLongLong(required_sample_count(p.settings)));
    });
}

PyObject* get_sampling_rate(PyObject* self, PyObject*) {
    return entry([&] {
        ProtocolObject& p = ProtocolObject::from(self);
        SharedBorrow borrow(p.borrow);
        return Ref::checked(PyFloat_FromDouble(config::SAMPLING_RATE));
    });
}

}  // namespace pydrel
