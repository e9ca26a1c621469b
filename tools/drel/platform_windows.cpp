// drel on Windows: the platform layer (platform.hpp). Names are UTF-8 in
// drel and UTF-16 where the system takes them; the standard streams carry
// bytes untranslated; a file is replaced whole by a flushed temporary file
// that MoveFileExW puts in its place. The texts of the system's errors are
// Windows' own.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <utility>

#include "platform.hpp"

namespace drel::platform {
namespace {

std::wstring wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0, nullptr,
                                        nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// Windows' description of an error of its own (GetLastError()), on one line.
std::string system_text(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (n == 0 || text == nullptr) return "Windows error " + std::to_string(code);
    std::wstring words(text, n);
    ::LocalFree(text);
    while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' ')) words.pop_back();
    return narrow(words);
}

void write_handle(HANDLE h, const char* data, std::size_t n) {
    while (n > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n, 1 << 30));
        DWORD done = 0;
        if (!::WriteFile(h, data, chunk, &done, nullptr)) {
            throw std::system_error(static_cast<int>(::GetLastError()), std::system_category());
        }
        if (done == 0) throw std::system_error(EIO, std::generic_category());
        data += done;
        n -= done;
    }
}

class HandleSink final : public protocols::ByteSink {
public:
    explicit HandleSink(HANDLE h) noexcept : h_(h) {}
    void write(std::span<const std::uint8_t> bytes) override {
        write_handle(h_, reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

private:
    HANDLE h_;
};

// Why a write failed: the system's own words for its errors, the C
// library's for the rest.
std::string failure_text(const std::system_error& e) {
    if (e.code().category() == std::system_category()) return system_text(static_cast<DWORD>(e.code().value()));
    return error_text(e.code().value());
}

// The file that writing to `name` writes: where an existing file's links
// and junctions lead, as opening it follows them; else `name` itself.
std::wstring final_path(const std::wstring& name) {
    const HANDLE h = ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return name;
    std::wstring path(MAX_PATH, L'\0');
    DWORD n = ::GetFinalPathNameByHandleW(h, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
    if (n >= path.size()) {
        path.resize(n + 1);
        n = ::GetFinalPathNameByHandleW(h, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
    }
    ::CloseHandle(h);
    if (n == 0 || n >= path.size()) return name;
    path.resize(n);
    return path;
}

}  // namespace

std::vector<std::string> arguments(int, char**) {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    std::vector<std::string> out;
    for (int i = 1; argv != nullptr && i < argc; ++i) out.push_back(narrow(argv[i]));
    ::LocalFree(argv);
    return out;
}

void set_up_streams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    ::SetConsoleOutputCP(CP_UTF8);
}

void write_standard_output(const char* data, std::size_t n) {
    write_handle(::GetStdHandle(STD_OUTPUT_HANDLE), data, n);
}

bool standard_output_is_terminal() noexcept { return _isatty(_fileno(stdout)) != 0; }

Opened open_for_reading(const std::string& name) {
    using Ownership = protocols::FileSource::Ownership;
    if (name == "-") return {std::make_unique<protocols::FileSource>(_fileno(stdin), Ownership::Borrowed), {}};
    const HANDLE h = ::CreateFileW(wide(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {nullptr, system_text(::GetLastError())};
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(h);
        return {nullptr, error_text(errno)};
    }
    return {std::make_unique<protocols::FileSource>(fd, Ownership::Owned), {}};
}

std::optional<std::string> write_file(const std::string& name, std::string_view content) {
    const HANDLE h = ::CreateFileW(wide(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return system_text(::GetLastError());
    try {
        write_handle(h, content.data(), content.size());
    } catch (const std::system_error& e) {
        ::CloseHandle(h);
        return failure_text(e);
    }
    if (!::CloseHandle(h)) return system_text(::GetLastError());
    return std::nullopt;
}

std::optional<std::string> write_atomically(const std::string& name,
                                            const std::function<void(protocols::ByteSink&)>& fill) {
    const std::wstring target = final_path(wide(name));
    const std::size_t slash = target.find_last_of(L"\\/");
    const std::wstring directory = slash == std::wstring::npos ? L"" : target.substr(0, slash + 1);
    // A short name of its own in the target's directory, new each try.
    HANDLE h = INVALID_HANDLE_VALUE;
    std::wstring temporary;
    for (unsigned attempt = 0; h == INVALID_HANDLE_VALUE; ++attempt) {
        const unsigned long long tag = (static_cast<unsigned long long>(::GetCurrentProcessId()) << 32) ^
                                       ::GetTickCount64() ^ (static_cast<unsigned long long>(attempt) * 0x9e3779b97f4a7c15u);
        wchar_t suffix[24];
        std::swprintf(suffix, 24, L".drel-%06llx", tag & 0xffffff);
        temporary = directory + suffix;
        h = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && (::GetLastError() != ERROR_FILE_EXISTS || attempt == 100)) {
            return system_text(::GetLastError());
        }
    }
    const auto failed = [&](const std::string& why) -> std::optional<std::string> {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
        ::DeleteFileW(temporary.c_str());
        return why;
    };
    try {
        HandleSink sink(h);
        fill(sink);
    } catch (const std::system_error& e) {
        return failed(failure_text(e));
    }
    // On the disk before it takes the place of the old file, so that a crash
    // leaves one or the other whole.
    if (!::FlushFileBuffers(h)) return failed(system_text(::GetLastError()));
    const HANDLE written = std::exchange(h, INVALID_HANDLE_VALUE);
    if (!::CloseHandle(written)) return failed(system_text(::GetLastError()));
    if (!::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return failed(system_text(::GetLastError()));
    }
    return std::nullopt;
}

std::string error_text(int code) { return std::strerror(code); }

std::string last_component(const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); }

}  // namespace drel::platform
