#include "mix_cycles.hpp"

#include <algorithm>
#include <stdexcept>
#include <variant>

namespace protocols {

MixCycles::MixCycles(const std::vector<Signal>& signals) : signals_(signals), n_(signals.size()) {
    bool any = false;  // a mix that names another: tables without one need no arrays
    for (std::size_t i = 0; i < n_ && !any; ++i) any = edge(i, 0) != NONE || edge(i, 1) != NONE;
    if (!any) return;
    if (n_ >= NONE) throw std::length_error("more signals than the search for mix cycles can number");
    index_.assign(n_, NONE);
    low_.assign(n_, 0);
    on_stack_.assign(n_, false);
    cyclic_.assign(n_, false);
    for (std::size_t root = 0; root < n_; ++root) {
        if (mix(root) != nullptr && index_[root] == NONE) components_from(static_cast<std::uint32_t>(root));
    }
}

void MixCycles::components_from(std::uint32_t root) {
    struct Frame {
        std::uint32_t signal;
        std::uint32_t edge;
    };
    std::vector<Frame> calls{{root, 0}};
    visit(root);
    while (!calls.empty()) {
        Frame& top = calls.back();
        const std::uint32_t v = top.signal;
        if (top.edge < 2) {
            const std::uint32_t w = edge(v, top.edge++);
            if (w == NONE) continue;
            if (index_[w] == NONE) {
                visit(w);
                calls.push_back({w, 0});
            } else if (on_stack_[w]) {
                low_[v] = std::min(low_[v], index_[w]);
            }
            continue;
        }
        calls.pop_back();
        if (!calls.empty()) low_[calls.back().signal] = std::min(low_[calls.back().signal], low_[v]);
        if (low_[v] == index_[v]) pop_component(v);
    }
}

void MixCycles::visit(std::uint32_t v) {
    index_[v] = low_[v] = counter_++;
    open_.push_back(v);
    on_stack_[v] = true;
}

// v is the root of a component: pop it, and mark its members with its
// lowest signal (their low values are not read again).
void MixCycles::pop_component(std::uint32_t v) {
    const auto top = std::find(open_.rbegin(), open_.rend(), v).base() - 1;
    const std::uint32_t lowest = *std::min_element(top, open_.end());
    const bool cyclic = open_.end() - top > 1;
    for (auto w = top; w != open_.end(); ++w) {
        on_stack_[*w] = false;
        low_[*w] = lowest;
        cyclic_[*w] = cyclic;
    }
    open_.erase(top, open_.end());
}

// "1 -> 2 -> 3 -> 1": the shortest cycle from `start` back to it, found
// breadth first within its component; long ones are shortened in the
// middle. Components are disjoint, so parents need no resetting.
std::string MixCycles::shortest_cycle(std::uint32_t start) {
    queue_.assign(1, start);
    std::uint32_t last = NONE;  // the signal whose edge leads back to start
    for (std::size_t head = 0; head < queue_.size() && last == NONE; ++head) {
        const std::uint32_t v = queue_[head];
        for (unsigned k = 0; k < 2; ++k) {
            const std::uint32_t w = edge(v, k);
            if (w == NONE || low_[w] != start) continue;
            if (w == start) {
                last = v;
                break;
            }
            if (index_[w] == NONE) {
                index_[w] = v;
                queue_.push_back(w);
            }
        }
    }
    std::vector<std::uint32_t>& cycle = queue_;  // done with the queue
    cycle.clear();
    for (std::uint32_t v = last; v != start; v = index_[v]) cycle.push_back(v);
    cycle.push_back(start);
    std::reverse(cycle.begin(), cycle.end());
    constexpr std::size_t SHOWN = 8;
    std::string path;
    for (std::size_t k = 0; k < cycle.size(); ++k) {
        if (k == SHOWN && cycle.size() > SHOWN + 1) {
            path += "... -> ";
            k = cycle.size() - 1;
        }
        path += std::to_string(cycle[k]) + " -> ";
    }
    return path + std::to_string(start);
}

}  // namespace protocols
