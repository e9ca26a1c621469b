// Signal methods: each appends one entry to the signal table and returns its index.
#include <algorithm>
#include <iterator>
#include <vector>

#include "bind/notes.hpp"
#include "bind/panic.hpp"
#include "hints.hpp"
#include "protocols/hints.hpp"
#include "member_args.hpp"
#include "methods.hpp"
#include "protocols/composable.hpp"
#include "protocols/huge_pages.hpp"
#include "session.hpp"
#include "waveform.hpp"

namespace pydrel {

using namespace bind;

namespace {

using protocols::Signal;

constexpr Params<1> ADD_CONSTANT_SIGNAL{"Protocol.add_constant_signal()", {"value"}, 1};
constexpr Params<4> ADD_SINE_SIGNAL{
    "Protocol.add_sine_signal()", {"amplitude", "frequency", "phase", "depth"}, 2};
constexpr Params<3> ADD_RAMP_SIGNAL{"Protocol.add_ramp_signal()", {"peak", "up_duration", "down_duration"}, 3};
constexpr Params<2> ADD_MIXED_SIGNAL{"Protocol.add_mixed_signal()", {"a_idx", "b_idx"}, 2};
constexpr Params<1> ADD_ARBITRARY_SIGNAL{"Protocol.add_arbitrary_signal()", {"samples"}, 1};

// Appends and returns the new entry's index. The index object is made first,
// so that a failure leaves the table as it was. A table that outgrows its
// memory doubles, into memory that asks for huge pages once it is large: a
// million entries fill 40 MB of new memory, and a page fault every 2 MiB
// costs far less than one every 4 KiB.
Ref append(protocols::Settings& s, Signal signal) {
    Ref index = Ref::checked(PyLong_FromSize_t(s.signals.size()));
    std::vector<Signal>& table = s.signals;
    if (table.size() == table.capacity()) {
        // Advised before the entries move in, which is when its pages fault.
        std::vector<Signal> bigger;
        bigger.reserve(std::max<std::size_t>(16, 2 * table.capacity()));
        protocols::prefer_huge_pages(bigger.data(), bigger.capacity() * sizeof(Signal));
        bigger.insert(bigger.end(), std::make_move_iterator(table.begin()), std::make_move_iterator(table.end()));
        table.swap(bigger);
    }
    table.push_back(std::move(signal));
    return index;
}

}  // namespace

PyObject* add_constant_signal(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return protocol_method<ADD_CONSTANT_SIGNAL>(self, args, nargs, kwnames, [](auto& s, Args& a) {
        return append(s, Signal{protocols::ConstantSignalParams{a.f64(0)}});
    });
}

PyObject* add_sine_signal(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return protocol_method<ADD_SINE_SIGNAL>(self, args, nargs, kwnames, [](auto& s, Args& a) {
        const double amplitude = a.f64(0);
        const double frequency = a.f64(1);
        const double phase = a.f64_or(2, protocols::SINE_PHASE_DEFAULT);
        const double depth = a.f64_or(3, protocols::SINE_DEPTH_DEFAULT);
        return append(s, Signal{protocols::SineSignalParams{amplitude, frequency, phase, depth}});
    });
}

PyObject* add_ramp_signal(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return protocol_method<ADD_RAMP_SIGNAL>(self, args, nargs, kwnames, [](auto& s, Args& a) {
        const double peak = a.f64(0);
        const double up = a.f64(1);
        const double down = a.f64(2);
        return append(s, Signal{protocols::RampSignalParams{peak, up, down}});
    });
}

PyObject* add_mixed_signal(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return protocol_method<ADD_MIXED_SIGNAL>(self, args, nargs, kwnames, [](auto& s, Args& a) {
        const std::uint64_t a_idx = index_argument(a, 0);
        const std::uint64_t b_idx = index_argument(a, 1);
        return append(s, Signal{protocols::MixedSignalParams{a_idx, b_idx}});
    });
}

PyObject* add_arbitrary_signal(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return protocol_method<ADD_ARBITRARY_SIGNAL>(self, args, nargs, kwnames, [](auto& s, Args& a) {
        const Waveform waveform = noted([&] { return a.convert(0, Waveform::accept); }, [&](PyObject* error) {
            return is_exactly(error, PyExc_TypeError) ? hints::samples_argument(a.object(0)) : std::string();
        });
        // The count check runs before any sample is looked at.
        const std::uint64_t expected = required_sample_count(s);
        require_noted(waveform.size() == expected, "assertion failed: samples.len() == self.get_num_samples()",
                      [&] { return protocols::hints::sample_count(waveform.size(), expected, s.session_duration); });
        return append(s, Signal{protocols::ArbitrarySignalParams{waveform.levels()}});
    });
}

}  // namespace pydrel
