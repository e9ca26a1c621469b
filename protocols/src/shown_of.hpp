// How a Shown shows a value of type T; included where values are shown.
#pragma once

#include <string>

#include "protocols/shown.hpp"
#include "text_writer.hpp"

namespace protocols {

template <class T>
Shown Shown::of(const T& value) {
    Shown s;
    s.value_ = &value;
    s.text_ = [](const void* v) {
        std::string out;
        text::Appender a(out);
        text::Writer<text::Appender>(a, text::Layout::OneLine, text::Waveforms::Summary).value(*static_cast<const T*>(v));
        return out;
    };
    s.json_ = [](const void* v) {
        std::string out;
        text::Appender a(out);
        text::JsonWriter<text::Appender>(a).value(*static_cast<const T*>(v));
        return out;
    };
    return s;
}

}  // namespace protocols
