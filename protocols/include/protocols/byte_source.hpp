// Where a stream of bytes comes from: a protocol file in memory, on disk or
// in a pipe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace protocols {

class ByteSource {
public:
    // Reads at most into.size() (> 0) bytes into `into`; 0 at the end of the
    // data. May throw, for a failed read.
    virtual std::size_t read(std::span<std::uint8_t> into) = 0;

    // How many bytes read() will still return, when the source knows.
    virtual std::optional<std::uint64_t> remaining() const { return std::nullopt; }

    // Whether what remaining() says still holds: asked before a verdict that
    // rests on it. A source whose size changed answers false and knows no
    // size from then on.
    virtual bool size_unchanged() { return true; }

protected:
    ~ByteSource() = default;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) noexcept : rest_(bytes) {}
    std::size_t read(std::span<std::uint8_t> into) override;
    std::optional<std::uint64_t> remaining() const override { return rest_.size(); }

private:
    std::span<const std::uint8_t> rest_;
};

// An open file descriptor, which it closes at the end when it owns it. A
// regular file's size tells what remains; a pipe's does not, and neither does
// the size of a file that grows while it is read or that reports none (the
// files of /proc say 0): those are read as pipes are. A failed read throws
// std::system_error with its error number.
class FileSource : public ByteSource {
public:
    enum class Ownership { Borrowed, Owned };
    FileSource(int fd, Ownership ownership);
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    ~FileSource();
    std::size_t read(std::span<std::uint8_t> into) override;
    std::optional<std::uint64_t> remaining() const override;
    bool size_unchanged() override;

protected:
    // Called when a read was interrupted by a signal, before it is repeated;
    // may throw to give up instead.
    virtual void interrupted() {}

private:
    int fd_;
    Ownership ownership_;
    std::optional<std::uint64_t> size_;  // of a regular file, from where it was when opened
    std::uint64_t start_ = 0;            // where that was
    std::uint64_t position_ = 0;
};

}  // namespace protocols
