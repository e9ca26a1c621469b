#include "os_error.hpp"

#include <cerrno>
#include <cstring>
#include <utility>

#include "protocols/text_form.hpp"
#include "protocols/utf8.hpp"

namespace pydrel {
namespace {

constexpr std::pair<int, std::string_view> KINDS[] = {
    {ENOENT, "NotFound"},
    {EPERM, "PermissionDenied"},
    {EACCES, "PermissionDenied"},
    {EINTR, "Interrupted"},
    {E2BIG, "ArgumentListTooLong"},
    {EAGAIN, "WouldBlock"},
    {ENOMEM, "OutOfMemory"},
    {EBUSY, "ResourceBusy"},
    {EEXIST, "AlreadyExists"},
    {EXDEV, "CrossesDevices"},
    {ENOTDIR, "NotADirectory"},
    {EISDIR, "IsADirectory"},
    {EINVAL, "InvalidInput"},
    {ETXTBSY, "ExecutableFileBusy"},
    {EFBIG, "FileTooLarge"},
    {ENOSPC, "StorageFull"},
    {ESPIPE, "NotSeekable"},
    {EROFS, "ReadOnlyFilesystem"},
    {EMLINK, "TooManyLinks"},
    {EPIPE, "BrokenPipe"},
    {EDEADLK, "Deadlock"},
    {ENAMETOOLONG, "InvalidFilename"},
    {ENOSYS, "Unsupported"},
    {EOPNOTSUPP, "Unsupported"},
    {ENOTEMPTY, "DirectoryNotEmpty"},
    {ELOOP, "FilesystemLoop"},
    {EADDRINUSE, "AddrInUse"},
    {EADDRNOTAVAIL, "AddrNotAvailable"},
    {ENETDOWN, "NetworkDown"},
    {ENETUNREACH, "NetworkUnreachable"},
    {ECONNABORTED, "ConnectionAborted"},
    {ECONNRESET, "ConnectionReset"},
    {ENOTCONN, "NotConnected"},
    {ETIMEDOUT, "TimedOut"},
    {ECONNREFUSED, "ConnectionRefused"},
    {EHOSTUNREACH, "HostUnreachable"},
    {EINPROGRESS, "InProgress"},
    {ESTALE, "StaleNetworkFileHandle"},
    {EDQUOT, "QuotaExceeded"},
};

std::string describe(int code) {
    char buf[256];
    // The GNU strerror_r returns the text, in buf or in static storage.
    const char* text = ::strerror_r(code, buf, sizeof buf);
    return protocols::utf8::decode_lossy(text);
}

}  // namespace

std::string_view error_kind_name(int code) noexcept {
    for (const auto& [number, name] : KINDS) {
        if (number == code) return name;
    }
    return "Uncategorized";
}

std::string render_os_error(int code) {
    const std::string message = describe(code);
    return protocols::text::one_line_record("Os", [&](auto& f) {
        f.field("code", code);
        f.field("kind", protocols::text::Bare{error_kind_name(code)});
        f.field("message", message);
    });
}

std::string render_simple_error(std::string_view kind, std::string_view message) {
    return protocols::text::one_line_record("Error", [&](auto& f) {
        f.field("kind", protocols::text::Bare{kind});
        f.field("message", message);
    });
}

}  // namespace pydrel
