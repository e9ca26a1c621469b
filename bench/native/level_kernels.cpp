// For counting instructions: runs one vectorised loop once, at the level
// this run chose (PYDREL_DISABLE_CPU_FEATURES), on n levels or fractions
// made from a fixed seed, and nothing else that grows with n. Run under an
// instruction counter with n and with 0, the difference is the loop's own.
//
//     level_kernels encode|decode|convert|envelope N
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string_view>
#include <vector>

#include "level_varints.hpp"
#include "protocols/waveform.hpp"
#include "scans.hpp"

namespace {

std::vector<std::int16_t> levels(std::size_t n) {
    std::mt19937 random(7);
    std::vector<std::int16_t> out(n);
    for (auto& l : out) l = static_cast<std::int16_t>(random() % 32768);  // what a waveform holds, 1 to 3 bytes
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::string_view kernel = argv[1];
    const auto n = static_cast<std::size_t>(std::strtoull(argv[2], nullptr, 10));
    const std::vector<std::int16_t> in = levels(n);
    volatile long sink = 0;  // what each loop makes is used
    if (kernel == "encode" || kernel == "decode") {
        std::vector<std::uint8_t> bytes(16 + 3 * n + protocols::LEVEL_VARINT_SLACK, 0);
        std::uint8_t* const end = protocols::put_level_varints(bytes.data() + 16, in.data(), n);
        sink = end - bytes.data();
        if (kernel == "decode") {
            std::vector<std::int16_t> out(n + 32);
            sink = static_cast<long>(protocols::get_level_varints(bytes.data() + 16, end, out.data(), n).levels);
        }
    } else if (kernel == "convert") {
        std::vector<double> fractions(n);
        for (std::size_t i = 0; i < n; ++i) fractions[i] = in[i] / 32767.0;
        std::vector<std::int16_t> out(n);
        sink = protocols::levels_from_fractions(fractions.data(), 1, n, out.data());
    } else if (kernel == "envelope") {
        sink = n == 0 ? 0 : protocols::level_range(in.data(), n).max;
    } else {
        return 2;
    }
    std::printf("%ld\n", static_cast<long>(sink));
    return 0;
}
