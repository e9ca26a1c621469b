#include "protocols/byte_source.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace protocols {

std::size_t MemorySource::read(std::span<std::uint8_t> into) {
    const std::size_t n = std::min(into.size(), rest_.size());
    if (n == 0) return 0;  // an empty span may have no memory, and memcpy wants some
    std::memcpy(into.data(), rest_.data(), n);
    rest_ = rest_.subspan(n);
    return n;
}

FileSource::FileSource(int fd, Ownership ownership) : fd_(fd), ownership_(ownership) {
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        // From where the descriptor stands, which for standard input need not be the start.
        const off_t at = ::lseek(fd, 0, SEEK_CUR);
        if (at >= 0 && at <= st.st_size) {
            start_ = static_cast<std::uint64_t>(at);
            size_ = static_cast<std::uint64_t>(st.st_size - at);
        }
    }
}

FileSource::~FileSource() {
    if (ownership_ == Ownership::Owned) ::close(fd_);
}

std::size_t FileSource::read(std::span<std::uint8_t> into) {
    for (;;) {
        const ssize_t n = ::read(fd_, into.data(), into.size());
        if (n >= 0) {
            position_ += static_cast<std::uint64_t>(n);
            if (size_ && position_ > *size_) size_.reset();  // it grew
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) throw std::system_error(errno, std::generic_category());
        interrupted();
    }
}

std::optional<std::uint64_t> FileSource::remaining() const {
    if (!size_) return std::nullopt;
    return *size_ - std::min(*size_, position_);
}

bool FileSource::size_unchanged() {
    if (!size_) return true;
    struct stat st;
    if (::fstat(fd_, &st) == 0 && static_cast<std::uint64_t>(st.st_size) == start_ + *size_) return true;
    size_.reset();
    return false;
}

}  // namespace protocols
