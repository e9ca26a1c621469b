// Two functions that the static C++ runtime of a binary wheel takes from the
// newest glibc, defined in each binary so that it runs on glibc 2.34: the
// runtime binds to these when it is linked in, and they are not exported.
// Both fall back on what glibc 2.34 has.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

extern "C" {

// glibc 2.2.5's strtoul, exported for compatibility though no header declares it.
unsigned long __strtoul_internal(const char* text, char** end, int base, int group);

// C23's strtoul (glibc 2.38), which also reads a "0b" prefix. The runtime
// reads only decimal settings with it (GLIBCXX_TUNABLES).
unsigned long __isoc23_strtoul(const char* text, char** end, int base) noexcept {
    return __strtoul_internal(text, end, base, 0);
}

// glibc 2.36's source of random numbers, the default of std::random_device,
// which the runtime carries but nothing here constructs.
std::uint32_t arc4random() noexcept {
    std::uint32_t value;
    if (::getentropy(&value, sizeof value) != 0) std::abort();
    return value;
}

}  // extern "C"
