// Where a walk of a record stands, named as the text form names fields:
// "signals[2].Sine.amplitude", "channel_b_settings.modulation_source.external".
// The walkers that report a field (the decoder, the JSON reader, the drel
// package's rule for hand-built records) step in and out as they go, and
// spell the path out only for a message. A signal's kind is a step of its
// own: JSON and the decoder name it ("signals[2].Sine.amplitude"), the drel
// package's records and drel diff do not ("signals[2].amplitude").
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace protocols {

class FieldPath {
public:
    struct Entry {
        std::string_view name;  // empty for an element
        std::size_t index = 0;
        bool kind = false;  // a variant's alternative ("Sine")
    };
    struct Kind {
        std::string_view name;
    };

    // A step into a field, an element or an alternative, undone when it goes
    // out of scope.
    class Step {
    public:
        Step(FieldPath& path, std::string_view name) : path_(path) { path_.steps_.push_back({name, 0, false}); }
        Step(FieldPath& path, std::size_t index) : path_(path) { path_.steps_.push_back({{}, index, false}); }
        Step(FieldPath& path, Kind kind) : path_(path) { path_.steps_.push_back({kind.name, 0, true}); }
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;
        ~Step() { path_.steps_.pop_back(); }

    private:
        FieldPath& path_;
    };

    // For paths built whole, as a refusal names its field.
    FieldPath& field(std::string_view name) { return steps_.push_back({name, 0, false}), *this; }
    FieldPath& element(std::size_t index) { return steps_.push_back({{}, index, false}), *this; }
    FieldPath& kind(std::string_view name) { return steps_.push_back({name, 0, true}), *this; }

    bool empty() const noexcept { return steps_.empty(); }
    void clear() noexcept { steps_.clear(); }
    std::span<const Entry> steps() const noexcept { return steps_; }

    enum class Kinds { Named, Left };

    // "signals[2].Sine.amplitude" ("signals[2].amplitude" with the kinds
    // left out); "" at the top.
    std::string text(Kinds kinds = Kinds::Named) const {
        std::string out;
        for (const Entry& e : steps_) {
            if (e.kind && kinds == Kinds::Left) continue;
            if (e.name.empty()) {
                out += '[' + std::to_string(e.index) + ']';
            } else {
                if (!out.empty()) out += '.';
                out += e.name;
            }
        }
        return out;
    }
    // The same for a message, "the protocol" at the top.
    std::string where(Kinds kinds = Kinds::Named) const { return empty() ? "the protocol" : text(kinds); }

private:
    std::vector<Entry> steps_;
};

}  // namespace protocols
