// Session parameters: duration, intensity, channels, sample count and rate.
#include <cmath>

#include "bind/panic.hpp"
#include "methods.hpp"
#include "protocols/config.hpp"
#include "protocols/numeric.hpp"

namespace pydrel {
namespace {

namespace config = protocols::config;

constexpr Params<1> SET_STIMULATION_INTENSITY{"Protocol.set_stimulation_intensity()", {"intensity"}, 1};
constexpr Params<1> SET_SESSION_DURATION{"Protocol.set_session_duration()", {"duration"}, 1};
constexpr Params<1> ENABLE_CHANNEL{"Protocol.enable_channel()", {"channel"}, 1};

}  // namespace

std::uint64_t num_samples(const protocols::Settings& settings) {
    check(settings.session_duration > 0.0, "assertion failed: self.settings.session_duration > 0.0");
    return protocols::saturate_to_u64(std::ceil(settings.session_duration * config::SAMPLING_RATE));
}

PyObject* set_stimulation_intensity(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return protocol_method<SET_STIMULATION_INTENSITY>(self, args, nargs, kwnames, [](auto& s, Args& a) {
        const double intensity = a.f64(0);
        check(intensity >= 0.0 && intensity <= 1.0, "assertion failed: intensity >= 0.0 && intensity <= 1.0");
        s.intensity = intensity;
        return none();
    });
}

PyObject* set_session_duration(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return protocol_method<SET_SESSION_DURATION>(self, args, nargs, kwnames, [](auto& s, Args& a) {
        const double duration = a.f64(0);
        check(duration <= config::MAX_SESSION_DURATION,
              "assertion failed: duration <= config::MAX_SESSION_DURATION");
        check(duration >= config::MIN_SESSION_DURATION, "assertion failed: duration >= 0.01");
        s.session_duration = duration;
        return none();
    });
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
        return Ref::checked(PyLong_FromUnsignedLongLong(num_samples(p.settings)));
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
