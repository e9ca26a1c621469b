// Where a stream of bytes goes: the file encoding, or a protocol's text.
#pragma once

#include <cstdint>
#include <span>

namespace protocols {

// Takes the output in consecutive pieces. write() may throw; the producer
// then stops and the exception propagates.
class ByteSink {
public:
    virtual void write(std::span<const std::uint8_t> bytes) = 0;

protected:
    ~ByteSink() = default;
};

}  // namespace protocols
