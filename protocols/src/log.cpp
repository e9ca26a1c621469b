#include "protocols/log.hpp"

#include <atomic>

namespace protocols::log {
namespace {

class NopLogger final : public Logger {
public:
    bool enabled(const Metadata&) const override { return false; }
    void log(const Record&) override {}
    void flush() override {}
};

NopLogger nop_logger;
std::atomic<LevelFilter> current_max_level{LevelFilter::Off};
std::atomic<Logger*> current_logger{&nop_logger};

}  // namespace

LevelFilter max_level() noexcept { return current_max_level.load(std::memory_order_relaxed); }

void set_max_level(LevelFilter level) noexcept {
    current_max_level.store(level, std::memory_order_relaxed);
}

Logger& logger() noexcept { return *current_logger.load(std::memory_order_acquire); }

void set_logger(Logger* logger) noexcept {
    current_logger.store(logger ? logger : &nop_logger, std::memory_order_release);
}

}  // namespace protocols::log
