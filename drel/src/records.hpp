// The Python classes of the records, and the two walkers between them and
// the protocol library's records. Both walk the one field declaration of each
// record and dispatch on its wire kind, as the encoder and the decoder do.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <memory>
#include <string_view>
#include <tuple>
#include <vector>

#include "bind/ref.hpp"
#include "protocols/settings.hpp"

namespace drel {

// Every record of a protocol, in a fixed order.
using Records = std::tuple<protocols::Settings, protocols::MachineConfig, protocols::Coil, protocols::LCSetting,
                           protocols::ChannelSettings, protocols::SignalSourceSelection,
                           protocols::ConstantSignalParams, protocols::SineSignalParams, protocols::RampSignalParams,
                           protocols::MixedSignalParams, protocols::ArbitrarySignalParams>;
inline constexpr std::size_t RECORD_COUNT = std::tuple_size_v<Records>;

// A record's Python class, and where its instances keep each field.
struct RecordClass {
    bind::Ref type;                   // a frozen dataclass with slots
    std::vector<Py_ssize_t> offsets;  // of the fields' slots, in declaration order
};

struct Classes {
    std::array<RecordClass, RECORD_COUNT> records;
    bind::Ref decode_error;    // drel.DecodeError
    bind::Ref json_error;      // drel.JSONError
    bind::Ref not_composable;  // drel.NotComposable
};

// The classes as the package bound them. Each call keeps the set it started
// with, so that binding anew from Python code that runs meanwhile (a
// finaliser, say) cannot pull them away under it.
using BoundClasses = std::shared_ptr<const Classes>;

// Takes the classes by their Python names ("Settings", "Sine", ...) and
// checks that each declares the fields of its record, in their order, as
// slots of its own.
BoundClasses bind_classes(PyObject* by_name, PyObject* decode_error, PyObject* json_error, PyObject* not_composable);

// The Python form of a protocol. The levels of its waveforms move into the
// read-only arrays that it holds.
bind::Ref to_python(const Classes& classes, protocols::Settings&& settings);
// The Python form of one signal.
bind::Ref to_python(const Classes& classes, protocols::Signal&& signal);

// The protocol a drel.Settings holds, loaded or made by hand: the one rule
// for hand-built records. TypeError, ValueError or OverflowError naming the
// field by its path ("signals[2].amplitude") for what no protocol can hold.
protocols::Settings from_python(const Classes& classes, PyObject* settings);

// A copy of a drel.Settings made by that rule: every value of its exact type,
// every sequence a tuple, every waveform a read-only int16 array (the same
// one where it was such already).
bind::Ref validated(const Classes& classes, PyObject* settings);

}  // namespace drel
