// Where a walk of a record stands, named as the text form names fields:
// "signals[2].amplitude", "channel_b_settings.modulation_source.external".
// The walkers that report a field (the decoder, the JSON reader, the drel
// package's rule for hand-built records) step in and out as they go, and
// spell the path out only for a message.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace protocols {

class FieldPath {
public:
    // A step into a field or an element, undone when it goes out of scope.
    class Step {
    public:
        Step(FieldPath& path, std::string_view name) : path_(path) { path_.steps_.push_back({name, 0}); }
        Step(FieldPath& path, std::size_t index) : path_(path) { path_.steps_.push_back({{}, index}); }
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;
        ~Step() { path_.steps_.pop_back(); }

    private:
        FieldPath& path_;
    };

    bool empty() const noexcept { return steps_.empty(); }
    void clear() noexcept { steps_.clear(); }

    // "signals[2].amplitude"; "" at the top.
    std::string text() const {
        std::string out;
        for (const auto& [name, index] : steps_) {
            if (name.empty()) {
                out += '[' + std::to_string(index) + ']';
            } else {
                if (!out.empty()) out += '.';
                out += name;
            }
        }
        return out;
    }
    // The same for a message, "the protocol" at the top.
    std::string where() const { return empty() ? "the protocol" : text(); }

private:
    struct Entry {
        std::string_view name;  // empty for an element
        std::size_t index;
    };
    std::vector<Entry> steps_;
};

}  // namespace protocols
