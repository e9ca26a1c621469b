// A minimal logging facade. The maximum level starts at Off and the installed
// logger discards everything; a host application may install its own.
#pragma once

#include <cstdint>
#include <string_view>

namespace protocols::log {

enum class Level : std::uint8_t { Error = 1, Warn, Info, Debug, Trace };
enum class LevelFilter : std::uint8_t { Off = 0, Error, Warn, Info, Debug, Trace };

struct Metadata {
    Level level;
    std::string_view target;
};

struct Record {
    Metadata metadata;
    std::string_view message;
    std::string_view module_path;
    std::string_view file;
    std::uint32_t line;
};

class Logger {
public:
    virtual ~Logger() = default;
    virtual bool enabled(const Metadata& metadata) const = 0;
    virtual void log(const Record& record) = 0;
    virtual void flush() = 0;
};

LevelFilter max_level() noexcept;
void set_max_level(LevelFilter level) noexcept;

// The logger in use; never null. set_logger(nullptr) restores the discarding one.
Logger& logger() noexcept;
void set_logger(Logger* logger) noexcept;

// Whether a record at `level` would be formed at all under the maximum level.
inline bool level_enabled(Level level) noexcept {
    return static_cast<std::uint8_t>(level) <= static_cast<std::uint8_t>(max_level());
}

}  // namespace protocols::log
