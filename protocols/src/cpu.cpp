#include "protocols/cpu.hpp"

#include <cstdlib>

namespace protocols::cpu {
namespace {

Level detect() noexcept {
#if defined(__x86_64__)
    // CPUID, and XGETBV for the system's saving of the wide registers; on
    // Linux and on Windows alike. This runs while the binary loads, before
    // any constructor of the runtime's.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("x86-64-v4")) return Level::Avx512;
    if (__builtin_cpu_supports("x86-64-v3")) return Level::Avx2;
    return Level::Baseline;
#elif defined(__aarch64__)
    return Level::Neon;  // part of every aarch64 CPU, and of the ABI
#else
    return Level::Baseline;
#endif
}

char upper(char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

struct State {
    Level supported;
    Choice choice;
};

State read_environment() {
    const Level top = detect();
    const char* value = std::getenv("PYDREL_DISABLE_CPU_FEATURES");
    return {top, choose(top, value != nullptr ? value : "")};
}

const State state = read_environment();

}  // namespace

#if defined(__aarch64__)
std::string_view name(Level level) noexcept { return level == Level::Baseline ? "baseline" : "NEON"; }

std::string_view feature(Level level) noexcept { return level == Level::Baseline ? "" : "NEON"; }
#else
std::string_view name(Level level) noexcept {
    switch (level) {
        case Level::Baseline: return "baseline";
        case Level::Avx2: return "AVX2";
        case Level::Avx512: break;
    }
    return "AVX-512";
}

std::string_view feature(Level level) noexcept {
    switch (level) {
        case Level::Baseline: return "";
        case Level::Avx2: return "AVX2";
        case Level::Avx512: break;
    }
    return "AVX512F";
}
#endif

Choice choose(Level top, std::string_view disabled) {
    Level level = top;
    std::size_t i = 0;
    while (i < disabled.size()) {
        const std::size_t end = disabled.find_first_of(" ,\t", i);
        const std::string_view word = disabled.substr(i, end == std::string_view::npos ? end : end - i);
        i = end == std::string_view::npos ? disabled.size() : end + 1;
        if (word.empty()) continue;
        std::string name;
        for (const char c : word) name += upper(c);
        const Level* off = nullptr;
        for (const Level& l : LEVELS) {
            if (l != Level::Baseline && feature(l) == name) off = &l;
        }
        if (off == nullptr) {
            std::string known;
            for (const Level& l : LEVELS) {
                if (l == Level::Baseline) continue;
                known += known.empty() ? "" : " and ";
                known += feature(l);
            }
            return {top, "PYDREL_DISABLE_CPU_FEATURES names '" + std::string(word) +
                             "', which is no CPU feature of pydrel's: " +
                             (LEVEL_COUNT > 2 ? "they are " : "it is ") + known};
        }
        // A level needs the ones below it.
        if (index(level) >= index(*off)) level = LEVELS[index(*off) - 1];
    }
    return {level, std::nullopt};
}

Level supported() noexcept { return state.supported; }

bool compresses() noexcept {
#if defined(__x86_64__)
    return state.supported == Level::Avx512 && __builtin_cpu_supports("avx512vbmi2");
#else
    return false;
#endif
}

Level level() noexcept { return state.choice.level; }

const std::optional<std::string>& environment_error() noexcept { return state.choice.error; }

}  // namespace protocols::cpu
