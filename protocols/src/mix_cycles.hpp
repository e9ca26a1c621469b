// Mixes that name one another in a cycle, for the checks and the routing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "protocols/signals.hpp"

namespace protocols {

// Mixes that name each other in a cycle. Each group of mixes that reach one
// another (a strongly connected component, found with Tarjan's algorithm on
// a stack of its own, as a file may chain a million mixes) is reported once,
// at its lowest signal, with the shortest cycle through that signal. Time and
// memory are linear in the table: four bytes a signal for each of two
// arrays, reused from the search for the cycles' paths.
class MixCycles {
public:
    // Runs the search over the table.
    explicit MixCycles(const std::vector<Signal>& signals);

    // Whether signal i is a mix in a cycle of mixes (that name one another;
    // a mix that names itself alone is not).
    bool cyclic(std::size_t i) const { return i < cyclic_.size() && cyclic_[i]; }

    // Calls found(v, "v -> w -> ... -> v") for each cycle, at its lowest
    // signal v, in index order, with the shortest cycle through v.
    template <class Found>
    void each(Found&& found) {
        // From here low_[v] names the lowest signal of v's component, and
        // index_ serves the path search as each signal's parent.
        std::fill(index_.begin(), index_.end(), NONE);
        for (std::size_t v = 0; v < cyclic_.size(); ++v) {
            if (cyclic_[v] && low_[v] == v) {
                found(static_cast<std::uint32_t>(v), shortest_cycle(static_cast<std::uint32_t>(v)));
            }
        }
    }

private:
    static constexpr std::uint32_t NONE = UINT32_MAX;

    const MixedSignalParams* mix(std::size_t i) const { return std::get_if<MixedSignalParams>(&signals_[i].payload); }

    // The mix that mix i names in its field k, or NONE: self-references are
    // reported on their own, and only mixes can be part of a cycle.
    std::uint32_t edge(std::size_t i, unsigned k) const {
        const MixedSignalParams* m = mix(i);
        if (m == nullptr) return NONE;
        const std::uint64_t next = k == 0 ? m->a_idx : m->b_idx;
        return next < n_ && next != i && mix(next) != nullptr ? static_cast<std::uint32_t>(next) : NONE;
    }

    void components_from(std::uint32_t root);
    void visit(std::uint32_t v);
    void pop_component(std::uint32_t v);
    std::string shortest_cycle(std::uint32_t start);

    const std::vector<Signal>& signals_;
    const std::size_t n_;
    std::vector<std::uint32_t> index_, low_, open_, queue_;
    std::vector<bool> on_stack_, cyclic_;
    std::uint32_t counter_ = 0;
};

}  // namespace protocols
