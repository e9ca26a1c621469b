// Vector code (the convention is in the top-level CMakeLists.txt): the
// encoder and the decoder are written by hand for each level (SSSE3 and
// AVX2 or AVX-512 on x86-64, NEON on aarch64), and the level the binary
// chose picks the version.
#include "level_varints.hpp"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
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

std::uint8_t* put_levels_baseline(std::uint8_t* p, const std::int16_t* levels, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) p = put_one(p, levels[i]);
    return p;
}

#if defined(__x86_64__) || defined(__aarch64__)

// Eight levels at a time. Each level becomes a 32-bit lane holding its three
// varint bytes; a byte shuffle then packs the 1 to 3 bytes of four lanes
// together. The shuffle is chosen by which lanes need a second and a third
// byte: four bits each, so 256 shuffles. (A shuffle's 0x80 makes a zero, in
// SSSE3's shuffle and NEON's table lookup alike.)
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

#endif

#if defined(__x86_64__)

[[gnu::target("arch=x86-64-v3")]]
inline std::uint8_t* put_four(std::uint8_t* p, __m128i lanes, unsigned index) noexcept {
    const __m128i shuffle = _mm_loadu_si128(reinterpret_cast<const __m128i*>(PACKING.shuffle[index].data()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi8(lanes, shuffle));
    return p + PACKING.length[index];
}

// With SSSE3's byte shuffle, which every level above the baseline has.
[[gnu::target("arch=x86-64-v3")]]
std::uint8_t* put_levels_shuffled(std::uint8_t* p, const std::int16_t* levels, std::size_t n) noexcept {
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

#elif defined(__aarch64__)

// The shuffled encoder in NEON: the same lanes, packed by a table lookup.
inline std::uint8_t* put_four_neon(std::uint8_t* p, uint8x16_t lanes, unsigned index) noexcept {
    vst1q_u8(p, vqtbl1q_u8(lanes, vld1q_u8(PACKING.shuffle[index].data())));
    return p + PACKING.length[index];
}

// A bit for each of eight 16-bit lanes that are all ones.
inline unsigned lane_bits(uint16x8_t all_ones) noexcept {
    static constexpr std::uint16_t weights[8] = {1, 2, 4, 8, 16, 32, 64, 128};
    return vaddvq_u16(vandq_u16(all_ones, vld1q_u16(weights)));
}

std::uint8_t* put_levels_neon(std::uint8_t* p, const std::int16_t* levels, std::size_t n) noexcept {
    const uint16x8_t low7 = vdupq_n_u16(0x7f);
    const uint16x8_t top = vdupq_n_u16(0x80);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const int16x8_t x = vld1q_s16(levels + i);
        const uint16x8_t z = vreinterpretq_u16_s16(veorq_s16(vshlq_n_s16(x, 1), vshrq_n_s16(x, 15)));
        // All ones in the lanes whose value needs a second (z >= 2^7) or a third (z >= 2^14) byte.
        const uint16x8_t two = vcgeq_u16(z, vdupq_n_u16(0x80));
        const uint16x8_t three = vcgeq_u16(z, vdupq_n_u16(0x4000));
        const uint16x8_t byte0 = vorrq_u16(vandq_u16(z, low7), vandq_u16(two, top));
        const uint16x8_t byte1 = vorrq_u16(vandq_u16(vshrq_n_u16(z, 7), low7), vandq_u16(three, top));
        const uint16x8_t low = vorrq_u16(byte0, vshlq_n_u16(byte1, 8));
        const uint16x8_t high = vshrq_n_u16(z, 14);  // byte 2
        const unsigned needs_two = lane_bits(two), needs_three = lane_bits(three);
        p = put_four_neon(p, vreinterpretq_u8_u16(vzip1q_u16(low, high)), (needs_two & 0xf) | (needs_three & 0xf) << 4);
        p = put_four_neon(p, vreinterpretq_u8_u16(vzip2q_u16(low, high)), needs_two >> 4 | (needs_three >> 4) << 4);
    }
    for (; i < n; ++i) p = put_one(p, levels[i]);
    return p;
}

#endif

}  // namespace

// Reading levels back. Each level is read with one four-byte load, of
// which it uses one to three bytes.
LevelRun get_levels_one_by_one(const std::uint8_t* in, const std::uint8_t* end, std::int16_t* out,
                               std::size_t n) noexcept {
    const std::uint8_t* p = in;
    std::size_t i = 0;
    for (; i < n && end - p >= 4; ++i) {
        std::uint32_t w;
        std::memcpy(&w, p, sizeof w);
        const std::uint32_t second = w >> 7 & 1;            // a second byte follows
        const std::uint32_t third = second & (w >> 15 & 1);  // and a third
        const std::uint32_t b1 = w >> 8 & 0xff, b2 = w >> 16 & 0xff;
        // The last byte must not be zero (shortest form) and a third at most 3 (16 bits).
        const bool bad = (second & !third & (b1 == 0)) | (third & ((b2 == 0) | (b2 > 3)));
        if (bad) return {i, p, true};
        const std::uint32_t z = (w & 0x7f) | (second ? (b1 & 0x7f) << 7 : 0) | (third ? b2 << 14 : 0);
        out[i] = static_cast<std::int16_t>((z >> 1) ^ (0u - (z & 1)));
        p += 1 + second + third;
    }
    return {i, p, false};
}

#if defined(__x86_64__) || defined(__aarch64__)

namespace {

// Sixteen bytes at a time. A level ends at each byte below 0x80 and takes
// the one or two bytes before it when they are continuation bytes, so every
// byte position is decoded in parallel as if a level ended there, from the
// byte and the two before it; then the positions where levels do end are
// packed together, eight lanes at a time, with a byte shuffle chosen by
// which of the eight end one. The look-back reaches two bytes before `in`,
// where the count or the previous level ends.
constexpr std::array<std::array<std::uint8_t, 16>, 256> make_packing16() {
    std::array<std::array<std::uint8_t, 16>, 256> t{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        unsigned out = 0;
        for (unsigned lane = 0; lane < 8; ++lane) {
            if (mask >> lane & 1) {
                t[mask][out++] = static_cast<std::uint8_t>(2 * lane);
                t[mask][out++] = static_cast<std::uint8_t>(2 * lane + 1);
            }
        }
        for (; out < 16; ++out) t[mask][out] = 0x80;
    }
    return t;
}

alignas(16) constexpr std::array<std::array<std::uint8_t, 16>, 256> PACKING16 = make_packing16();

}  // namespace

#endif

#if defined(__x86_64__)

namespace {

// The level that would end at each of sixteen positions, decoded from the
// byte there and the two before it: one, two or three bytes long as the
// bytes before are continuation bytes (0x80 and above).
[[gnu::target("arch=x86-64-v3")]] inline __m256i levels_ending_at(const std::uint8_t* p) noexcept {
    const __m256i low7 = _mm256_set1_epi16(0x7f);
    const __m256i top = _mm256_set1_epi16(0x7f);
    const __m256i b0 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    const __m256i b1 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 1)));
    const __m256i b2 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 2)));
    const __m256i second = _mm256_cmpgt_epi16(b1, top);  // all ones: two bytes or more
    const __m256i third = _mm256_and_si256(second, _mm256_cmpgt_epi16(b2, top));
    const __m256i low1 = _mm256_and_si256(b1, low7);
    // Two bytes: the first's seven bits under the last's; three: the first's
    // under those two.
    const __m256i z2 = _mm256_or_si256(low1, _mm256_slli_epi16(b0, 7));
    const __m256i z3 = _mm256_or_si256(_mm256_and_si256(b2, low7), _mm256_slli_epi16(z2, 7));
    const __m256i z = _mm256_blendv_epi8(_mm256_blendv_epi8(b0, z2, second), z3, third);
    return _mm256_xor_si256(_mm256_srli_epi16(z, 1),
                            _mm256_sub_epi16(_mm256_setzero_si256(), _mm256_and_si256(z, _mm256_set1_epi16(1))));
}

// Stores the levels of the positions where `ends` (sixteen bits) has a
// level end, packed together; returns how many.
[[gnu::target("arch=x86-64-v3")]] inline std::size_t store_ends(__m256i levels, unsigned ends, std::int16_t* out) noexcept {
    const __m256i shuffle = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(PACKING16[ends & 0xff].data()))),
        _mm_load_si128(reinterpret_cast<const __m128i*>(PACKING16[ends >> 8].data())), 1);
    const __m256i packed = _mm256_shuffle_epi8(levels, shuffle);
    const auto low_count = static_cast<std::size_t>(_mm_popcnt_u32(ends & 0xff));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + low_count), _mm256_extracti128_si256(packed, 1));
    return low_count + static_cast<std::size_t>(_mm_popcnt_u32(ends >> 8));
}

}  // namespace

[[gnu::target("arch=x86-64-v3")]]
LevelRun get_levels_avx2(const std::uint8_t* in, const std::uint8_t* end, std::int16_t* out, std::size_t n) noexcept {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i three = _mm256_set1_epi8(3);
    const std::uint8_t* p = in;
    std::size_t done = 0;
    // Thirty-two bytes end at most thirty-two levels, all of them this
    // array's; they are checked at once and decoded in two halves.
    while (n - done >= 32 && end - p >= 32) {
        const __m256i cur = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i cont = _mm256_cmpgt_epi8(zero, cur);
        const __m256i cont1 = _mm256_cmpgt_epi8(zero, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p - 1)));
        const __m256i cont2 = _mm256_cmpgt_epi8(zero, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p - 2)));
        const __m256i ends_long = _mm256_andnot_si256(cont, cont1);
        const __m256i bad = _mm256_or_si256(
            _mm256_or_si256(_mm256_and_si256(ends_long, _mm256_cmpeq_epi8(cur, zero)),
                            _mm256_and_si256(_mm256_and_si256(ends_long, cont2), _mm256_cmpgt_epi8(cur, three))),
            _mm256_and_si256(_mm256_and_si256(cont, cont1), cont2));
        // Where a level ends after a continuation byte, the last byte must
        // not be 0 (shortest form), after two it must be at most 3 (16 bits),
        // and no level has three continuation bytes.
        if (!_mm256_testz_si256(bad, bad)) break;
        const auto ends = ~static_cast<unsigned>(_mm256_movemask_epi8(cur));
        done += store_ends(levels_ending_at(p), ends & 0xffff, out + done);
        done += store_ends(levels_ending_at(p + 16), ends >> 16, out + done);
        p += 32;
    }
    const __m128i zero16 = _mm_setzero_si128();
    const __m128i three16 = _mm_set1_epi8(3);
    while (n - done >= 16 && end - p >= 16) {
        const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i cont = _mm_cmpgt_epi8(zero16, cur);
        const __m128i cont1 = _mm_cmpgt_epi8(zero16, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 1)));
        const __m128i cont2 = _mm_cmpgt_epi8(zero16, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 2)));
        const __m128i ends_long = _mm_andnot_si128(cont, cont1);
        const __m128i bad = _mm_or_si128(
            _mm_or_si128(_mm_and_si128(ends_long, _mm_cmpeq_epi8(cur, zero16)),
                         _mm_and_si128(_mm_and_si128(ends_long, cont2), _mm_cmpgt_epi8(cur, three16))),
            _mm_and_si128(_mm_and_si128(cont, cont1), cont2));
        if (!_mm_testz_si128(bad, bad)) break;
        done += store_ends(levels_ending_at(p), static_cast<unsigned>(~_mm_movemask_epi8(cur)) & 0xffff, out + done);
        p += 16;
    }
    // Back to the end of the last level: past the last byte below 0x80.
    while (p != in && p[-1] >= 0x80) --p;
    return {done, p, false};
}

// Where AVX-512 can compress lanes, the levels that end among thirty-two
// positions are packed by one instruction instead of a table, and the
// checks are masks of bits.
[[gnu::target("avx512f,avx512bw,avx512vl,avx512vbmi2,popcnt")]]
LevelRun get_levels_avx512(const std::uint8_t* in, const std::uint8_t* end, std::int16_t* out,
                           std::size_t n) noexcept {
    const __m512i low7 = _mm512_set1_epi16(0x7f);
    const __m512i one = _mm512_set1_epi16(1);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i three = _mm256_set1_epi8(3);
    const std::uint8_t* p = in;
    std::size_t done = 0;
    while (n - done >= 32 && end - p >= 32) {
        const __m256i cur = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i prev1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p - 1));
        const __m256i prev2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p - 2));
        const __mmask32 cont = _mm256_movepi8_mask(cur);
        const __mmask32 cont1 = _mm256_movepi8_mask(prev1);
        const __mmask32 cont2 = _mm256_movepi8_mask(prev2);
        const __mmask32 ends_long = static_cast<__mmask32>(~cont & cont1);
        const __mmask32 bad = (ends_long & _mm256_cmpeq_epi8_mask(cur, zero)) |
                              (ends_long & cont2 & _mm256_cmpgt_epi8_mask(cur, three)) | (cont & cont1 & cont2);
        if (bad != 0) break;
        const __m512i b0 = _mm512_cvtepu8_epi16(cur);
        const __m512i low1 = _mm512_and_si512(_mm512_cvtepu8_epi16(prev1), low7);
        const __m512i low2 = _mm512_and_si512(_mm512_cvtepu8_epi16(prev2), low7);
        const __m512i z2 = _mm512_or_si512(low1, _mm512_slli_epi16(b0, 7));
        const __m512i z3 = _mm512_or_si512(_mm512_or_si512(low2, _mm512_slli_epi16(low1, 7)), _mm512_slli_epi16(b0, 14));
        const __m512i z = _mm512_mask_blend_epi16(cont1 & cont2, _mm512_mask_blend_epi16(cont1, b0, z2), z3);
        const __m512i level = _mm512_xor_si512(_mm512_srli_epi16(z, 1),
                                               _mm512_sub_epi16(_mm512_setzero_si512(), _mm512_and_si512(z, one)));
        const auto ends = static_cast<__mmask32>(~cont);
        _mm512_storeu_si512(out + done, _mm512_maskz_compress_epi16(ends, level));
        done += static_cast<std::size_t>(_mm_popcnt_u32(ends));
        p += 32;
    }
    while (p != in && p[-1] >= 0x80) --p;
    return {done, p, false};
}

#endif

#if defined(__aarch64__)

namespace {

// The level that would end at each of eight positions, from the byte there
// and the two before it, as the AVX2 decoder makes it.
inline int16x8_t levels_ending_at_neon(uint8x8_t cur, uint8x8_t prev1, uint8x8_t prev2) noexcept {
    const uint16x8_t low7 = vdupq_n_u16(0x7f);
    const uint16x8_t b0 = vmovl_u8(cur), b1 = vmovl_u8(prev1), b2 = vmovl_u8(prev2);
    const uint16x8_t second = vcgtq_u16(b1, low7);  // all ones: two bytes or more
    const uint16x8_t third = vandq_u16(second, vcgtq_u16(b2, low7));
    const uint16x8_t z2 = vorrq_u16(vandq_u16(b1, low7), vshlq_n_u16(b0, 7));
    const uint16x8_t z3 = vorrq_u16(vandq_u16(b2, low7), vshlq_n_u16(z2, 7));
    const uint16x8_t z = vbslq_u16(third, z3, vbslq_u16(second, z2, b0));
    const int16x8_t sign = vnegq_s16(vreinterpretq_s16_u16(vandq_u16(z, vdupq_n_u16(1))));  // zigzag's sign
    return veorq_s16(vreinterpretq_s16_u16(vshrq_n_u16(z, 1)), sign);
}

// Stores the levels of the eight positions where `ends` (eight bits) has a
// level end, packed together by the table of the AVX2 decoder; returns how
// many. Stores eight levels' room.
inline std::size_t store_ends_neon(int16x8_t levels, unsigned ends, std::int16_t* out) noexcept {
    const uint8x16_t packed = vqtbl1q_u8(vreinterpretq_u8_s16(levels), vld1q_u8(PACKING16[ends].data()));
    vst1q_u8(reinterpret_cast<std::uint8_t*>(out), packed);
    return static_cast<std::size_t>(__builtin_popcount(ends));
}

// A bit for each of eight bytes that are all ones.
inline unsigned byte_bits(uint8x8_t all_ones) noexcept {
    static constexpr std::uint8_t weights[8] = {1, 2, 4, 8, 16, 32, 64, 128};
    return vaddv_u8(vand_u8(all_ones, vld1_u8(weights)));
}

}  // namespace

// The AVX2 decoder's sixteen-byte loop in NEON: the same checks, the same
// look-back of two bytes before `in`.
LevelRun get_levels_neon(const std::uint8_t* in, const std::uint8_t* end, std::int16_t* out, std::size_t n) noexcept {
    const uint8x16_t three = vdupq_n_u8(3);
    const std::uint8_t* p = in;
    std::size_t done = 0;
    while (n - done >= 16 && end - p >= 16) {
        const uint8x16_t cur = vld1q_u8(p), prev1 = vld1q_u8(p - 1), prev2 = vld1q_u8(p - 2);
        const uint8x16_t cont = vcltzq_s8(vreinterpretq_s8_u8(cur));  // 0x80 and above
        const uint8x16_t cont1 = vcltzq_s8(vreinterpretq_s8_u8(prev1));
        const uint8x16_t cont2 = vcltzq_s8(vreinterpretq_s8_u8(prev2));
        const uint8x16_t ends_long = vbicq_u8(cont1, cont);
        // Where a level ends after a continuation byte, the last byte must
        // not be 0 (shortest form), after two it must be at most 3 (16 bits),
        // and no level has three continuation bytes.
        const uint8x16_t bad = vorrq_u8(vorrq_u8(vandq_u8(ends_long, vceqzq_u8(cur)),
                                                 vandq_u8(vandq_u8(ends_long, cont2), vcgtq_u8(cur, three))),
                                        vandq_u8(vandq_u8(cont, cont1), cont2));
        if (vmaxvq_u8(bad) != 0) break;
        const uint8x16_t ends = vmvnq_u8(cont);
        const int16x8_t low = levels_ending_at_neon(vget_low_u8(cur), vget_low_u8(prev1), vget_low_u8(prev2));
        const int16x8_t high = levels_ending_at_neon(vget_high_u8(cur), vget_high_u8(prev1), vget_high_u8(prev2));
        done += store_ends_neon(low, byte_bits(vget_low_u8(ends)), out + done);
        done += store_ends_neon(high, byte_bits(vget_high_u8(ends)), out + done);
        p += 16;
    }
    // Back to the end of the last level: past the last byte below 0x80.
    while (p != in && p[-1] >= 0x80) --p;
    return {done, p, false};
}

#endif

namespace {

LevelRun get_levels_none(const std::uint8_t* in, const std::uint8_t*, std::int16_t*, std::size_t) noexcept {
    return {0, in, false};
}

#if !defined(__x86_64__)
constexpr auto put_levels_shuffled = put_levels_baseline;
constexpr auto get_levels_avx2 = get_levels_none, get_levels_avx512 = get_levels_none;
#endif
#if !defined(__aarch64__)
constexpr auto put_levels_neon = put_levels_baseline;
constexpr auto get_levels_neon = get_levels_none;
#endif

}  // namespace

namespace versions {
const cpu::Versions<PutLevels> put_level_varints =
    cpu::versions<PutLevels>(put_levels_baseline, put_levels_shuffled, put_levels_shuffled, put_levels_neon);
const cpu::Versions<GetLevels> get_level_varints =
    cpu::versions<GetLevels>(get_levels_none, get_levels_avx2, get_levels_avx512, get_levels_neon);
}  // namespace versions

std::uint8_t* put_level_varints(std::uint8_t* out, const std::int16_t* levels, std::size_t n) noexcept {
    return versions::put_level_varints[cpu::index(cpu::level())](out, levels, n);
}

LevelRun get_level_varints(const std::uint8_t* in, const std::uint8_t* end, std::int16_t* out,
                           std::size_t n) noexcept {
    const cpu::Level level = level_decoder_level(cpu::level(), cpu::compresses());
    // The bulk decoders never fail: they stop before the first level that
    // breaks a rule or that they cannot see whole, for this one to judge.
    const LevelRun bulk = versions::get_level_varints[cpu::index(level)](in, end, out, n);
    const LevelRun rest = get_levels_one_by_one(bulk.end, end, out + bulk.levels, n - bulk.levels);
    return {bulk.levels + rest.levels, rest.end, rest.failed};
}

}  // namespace protocols
