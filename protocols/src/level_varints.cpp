// Vector code (the convention is in the top-level CMakeLists.txt): the SSSE3
// version of put_levels is chosen at load time by its `target` overloads.
#include "level_varints.hpp"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace protocols {
namespace {

// One level: the three possible bytes are built without branches and written
// with one four-byte store; the pointer then advances by the 1 to 3 that count.
inline std::uint8_t* put_one(std::uint8_t* p, std::int16_t level) noexcept {
    const auto bits = static_cast<std::uint16_t>(level);
    const std::uint32_t z = static_cast<std::uint16_t>((bits << 1) ^ static_cast<std::uint16_t>(level >> 15));
    const std::uint32_t two = z >= 0x80;
    const std::uint32_t three = z >= 0x4000;
    const std::uint32_t word = (z & 0x7f) | two << 7 | (z >> 7 & 0x7f) << 8 | three << 15 | (z >> 14) << 16;
    std::memcpy(p, &word, sizeof word);
    return p + 1 + two + three;
}

[[gnu::target("default")]]
std::uint8_t* put_levels(std::uint8_t* p, const std::int16_t* levels, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) p = put_one(p, levels[i]);
    return p;
}

#if defined(__x86_64__)

// Eight levels at a time. Each level becomes a 32-bit lane holding its three
// varint bytes; a byte shuffle then packs the 1 to 3 bytes of four lanes
// together. The shuffle is chosen by which lanes need a second and a third
// byte: four bits each, so 256 shuffles.
struct Packing {
    std::array<std::array<std::uint8_t, 16>, 256> shuffle;
    std::array<std::uint8_t, 256> length;
};

constexpr Packing make_packing() {
    Packing t{};
    for (unsigned index = 0; index < 256; ++index) {
        unsigned out = 0;
        for (unsigned lane = 0; lane < 4; ++lane) {
            const unsigned bytes = 1 + (index >> lane & 1) + (index >> (lane + 4) & 1);
            for (unsigned b = 0; b < bytes; ++b) t.shuffle[index][out++] = static_cast<std::uint8_t>(4 * lane + b);
        }
        for (unsigned rest = out; rest < 16; ++rest) t.shuffle[index][rest] = 0x80;  // zero
        t.length[index] = static_cast<std::uint8_t>(out);
    }
    return t;
}

constexpr Packing PACKING = make_packing();

[[gnu::target("ssse3")]]
inline std::uint8_t* put_four(std::uint8_t* p, __m128i lanes, unsigned index) noexcept {
    const __m128i shuffle = _mm_loadu_si128(reinterpret_cast<const __m128i*>(PACKING.shuffle[index].data()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi8(lanes, shuffle));
    return p + PACKING.length[index];
}

[[gnu::target("ssse3")]]
std::uint8_t* put_levels(std::uint8_t* p, const std::int16_t* levels, std::size_t n) noexcept {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low7 = _mm_set1_epi16(0x7f);
    const __m128i top = _mm_set1_epi16(0x80);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(levels + i));
        const __m128i z = _mm_xor_si128(_mm_slli_epi16(x, 1), _mm_srai_epi16(x, 15));
        // All ones in the lanes whose value needs a second (z >= 2^7) or a third (z >= 2^14) byte.
        const __m128i two = _mm_xor_si128(_mm_cmpeq_epi16(_mm_srli_epi16(z, 7), zero), _mm_set1_epi16(-1));
        const __m128i three = _mm_xor_si128(_mm_cmpeq_epi16(_mm_srli_epi16(z, 14), zero), _mm_set1_epi16(-1));
        const __m128i byte0 = _mm_or_si128(_mm_and_si128(z, low7), _mm_and_si128(two, top));
        const __m128i byte1 = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(z, 7), low7), _mm_and_si128(three, top));
        const __m128i low = _mm_or_si128(byte0, _mm_slli_epi16(byte1, 8));
        const __m128i high = _mm_srli_epi16(z, 14);  // byte 2
        const auto needs_two = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(two, zero)));
        const auto needs_three = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(three, zero)));
        p = put_four(p, _mm_unpacklo_epi16(low, high), (needs_two & 0xf) | (needs_three & 0xf) << 4);
        p = put_four(p, _mm_unpackhi_epi16(low, high), needs_two >> 4 | (needs_three >> 4) << 4);
    }
    for (; i < n; ++i) p = put_one(p, levels[i]);
    return p;
}

#endif

}  // namespace

std::uint8_t* put_level_varints(std::uint8_t* out, const std::int16_t* levels, std::size_t n) noexcept {
    return put_levels(out, levels, n);
}

}  // namespace protocols
