// A value of a protocol, shown on demand: in the text form on one line
// (waveforms summed up), or as JSON (levels in full). It points into the
// record it was taken from, which must outlive it. A difference shows its
// two sides so, and a refusal the value in its way.
#pragma once

#include <string>

namespace protocols {

class Shown {
public:
    Shown() = default;
    template <class T>
    static Shown of(const T& value);  // made in the library (src/shown_of.hpp)

    explicit operator bool() const noexcept { return value_ != nullptr; }
    std::string text() const { return text_(value_); }
    std::string json() const { return json_(value_); }

private:
    const void* value_ = nullptr;
    std::string (*text_)(const void*) = nullptr;
    std::string (*json_)(const void*) = nullptr;
};

}  // namespace protocols
