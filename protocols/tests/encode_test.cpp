#include "protocols/encode.hpp"

#include <gtest/gtest.h>

#include <ostream>

#include <bit>
#include <cstdlib>
#include <limits>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace protocols {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes hex(const std::string& text) {
    Bytes out;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') { ++i; continue; }
        out.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

Bytes slice(const Bytes& b, std::size_t from, std::size_t n) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n));
}

Settings default_settings(bool on_target = false) {
    if (on_target) ::setenv(TARGET_MACHINE_VARIABLE, "yes", 1);
    else ::unsetenv(TARGET_MACHINE_VARIABLE);
    Settings s = Settings::factory_default();
    ::unsetenv(TARGET_MACHINE_VARIABLE);
    return s;
}

const std::string FACTORY_FILE =
    "00"
    "00 00 00 00 00 00 54 40"
    "02"
    "01"
    "07 44 65 66 61 75 6c 74"
    "00 00 00 00 00 c0 62 40"
    "9a 99 99 99 99 99 b9 3f"
    "00 00 00 00 00 00 44 40"
    "01"
    "00 00 00 00 00 a0 74 40"
    "ef da 9f ee da 9f 36 40"
    "dd 01"
    "01"
    "01 00 00 00 00 00 a0 74 40"
    "01 00 00 00 00 00 a0 74 40"
    "06 00 00 00 01"
    "33 33 33 33 33 33 d3 3f"
    "00 00 00 00 00 00 e0 3f"
    "00 00 00 00 00 00 44 40"
    "00 00 00 00 00 00 44 40"
    "00 00 00 00 00 80 51 40"
    "00 00 00 00 00 40 80 40"
    "00 00 00 00 00 00 00 00"
    "00 00 00 00 00 00 4e 40"
    "01 00 00 00 00 00 00 00 00 00"
    "01 00 00 00 00 00 00 00 00 00 00 00"
    "00 00 00 00 00 00 00 00 00 00 00 00"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    "01";

TEST(EncodeSettings, FactoryDefaultIsTheKnown201Bytes) {
    const Bytes file = encode(default_settings());
    ASSERT_EQ(file.size(), 201u);
    EXPECT_EQ(file, hex(FACTORY_FILE));
}

TEST(EncodeSettings, TargetMachineChangesOnlyTheFirstByte) {
    Bytes expected = hex(FACTORY_FILE);
    expected[0] = 0x01;
    EXPECT_EQ(encode(default_settings(true)), expected);
}

// The varint at the very end of the file is monitor_subsampling_factor.
struct VarintCase {
    std::uint64_t value;
    const char* bytes;
};
void PrintTo(const VarintCase& c, std::ostream* os) { *os << c.value; }
class Varint : public ::testing::TestWithParam<VarintCase> {};

TEST_P(Varint, IsShortestLittleEndianBase128) {
    Settings s = default_settings();
    s.monitor_subsampling_factor = GetParam().value;
    const Bytes file = encode(s);
    const Bytes want = hex(GetParam().bytes);
    ASSERT_EQ(file.size(), 200 + want.size());
    EXPECT_EQ(slice(file, 200, want.size()), want);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, Varint,
    ::testing::Values(VarintCase{0, "00"}, VarintCase{127, "7f"}, VarintCase{128, "80 01"},
                      VarintCase{221, "dd 01"}, VarintCase{300, "ac 02"}, VarintCase{16383, "ff 7f"},
                      VarintCase{16384, "80 80 01"},
                      VarintCase{1ull << 63, "80 80 80 80 80 80 80 80 80 01"},
                      VarintCase{UINT64_MAX, "ff ff ff ff ff ff ff ff ff 01"}));

// Bytes of a single-entry signal table, after its count byte.
Bytes signal_bytes(Signal signal) {
    Settings s = default_settings();
    s.signals = {std::move(signal)};
    const Bytes file = encode(s);
    const std::size_t entry_len = file.size() - 201 + 9;
    EXPECT_EQ(file[150], 0x01);
    return slice(file, 151, entry_len);
}

struct SignalCase {
    const char* what;
    Signal signal;
    const char* bytes;
};
void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.what; }
class SignalEncoding : public ::testing::TestWithParam<SignalCase> {};

TEST_P(SignalEncoding, WritesVariantIndexThenParameters) {
    EXPECT_EQ(signal_bytes(GetParam().signal), hex(GetParam().bytes)) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SignalEncoding,
    ::testing::Values(
        SignalCase{"constant", Signal{ConstantSignalParams{0.5}}, "00 00 00 00 00 00 00 e0 3f"},
        SignalCase{"sine", Signal{SineSignalParams{1.0, 10.0, 0.0, 1.0}},
                   "01 00 00 00 00 00 00 f0 3f 00 00 00 00 00 00 24 40"
                   "   00 00 00 00 00 00 00 00 00 00 00 00 00 00 f0 3f"},
        SignalCase{"ramp", Signal{RampSignalParams{-1.0, 0.0, 2.0}},
                   "02 00 00 00 00 00 00 f0 bf 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 40"},
        SignalCase{"mixed", Signal{MixedSignalParams{0, 130}}, "03 00 82 01"},
        SignalCase{"arbitrary", Signal{ArbitrarySignalParams{{0, -1, 300}}}, "04 03 00 01 d8 04"},
        SignalCase{"empty arbitrary", Signal{ArbitrarySignalParams{}}, "04 00"}));

struct ZigzagCase {
    std::int16_t sample;
    const char* bytes;
};
void PrintTo(const ZigzagCase& c, std::ostream* os) { *os << c.sample; }
class Zigzag : public ::testing::TestWithParam<ZigzagCase> {};

TEST_P(Zigzag, MapsSignedSamplesToVarints) {
    const Bytes got = signal_bytes(Signal{ArbitrarySignalParams{{GetParam().sample}}});
    EXPECT_EQ(got, hex(std::string("04 01 ") + GetParam().bytes));
}

INSTANTIATE_TEST_SUITE_P(Boundaries, Zigzag,
                         ::testing::Values(ZigzagCase{0, "00"}, ZigzagCase{-1, "01"}, ZigzagCase{1, "02"},
                                           ZigzagCase{63, "7e"}, ZigzagCase{-64, "7f"},
                                           ZigzagCase{64, "80 01"}, ZigzagCase{32767, "fe ff 03"},
                                           ZigzagCase{-32768, "ff ff 03"}));

TEST(EncodeSettings, EmptySignalTableIsOneCountByte) {
    Settings s = default_settings();
    s.signals.clear();
    const Bytes file = encode(s);
    ASSERT_EQ(file.size(), 192u);
    EXPECT_EQ(file[150], 0x00);
    EXPECT_EQ(file[151], 0x01);  // channel A enabled follows at once
}

struct SourceCase {
    SignalSourceSelection selection;
    const char* bytes;
};
void PrintTo(const SourceCase& c, std::ostream* os) { *os << c.bytes; }
class SourceEncoding : public ::testing::TestWithParam<SourceCase> {};

TEST_P(SourceEncoding, WritesInternalExternalAndFlag) {
    Settings s = default_settings();
    s.channel_b_settings.modulation_source = GetParam().selection;
    const Bytes file = encode(s);
    const Bytes want = hex(GetParam().bytes);
    // channel B starts at 172: enabled, amplitude1 (3), amplitude2 (3), modulation.
    EXPECT_EQ(slice(file, 179, want.size()), want);
    EXPECT_EQ(file.size(), 198 + want.size());
}

INSTANTIATE_TEST_SUITE_P(Selections, SourceEncoding,
                         ::testing::Values(SourceCase{SignalSourceSelection::internal_signal(0), "00 00 00"},
                                           SourceCase{SignalSourceSelection::external_input(5), "00 05 01"},
                                           SourceCase{SignalSourceSelection::internal_signal(2), "02 00 00"},
                                           SourceCase{SignalSourceSelection::external_input(300), "00 ac 02 01"}));

TEST(EncodeSettings, TextLengthCountsBytes) {
    Settings s = default_settings();
    s.machine_config.coils[0].name = "\xc3\xa9";
    const Bytes file = encode(s);
    EXPECT_EQ(slice(file, 11, 3), hex("02 c3 a9"));
    s.machine_config.coils[0].name.clear();
    EXPECT_EQ(encode(s)[11], 0x00);
}

TEST(EncodeSettings, FloatsKeepEveryBitPattern) {
    Settings s = default_settings();
    for (std::uint64_t bits : {0x7ff8000000000123ull, 0xfff0000000000000ull, 0x8000000000000000ull,
                               0x0000000000000001ull}) {
        s.intensity = std::bit_cast<double>(bits);
        const Bytes file = encode(s);
        std::uint64_t got = 0;
        for (int i = 7; i >= 0; --i) got = (got << 8) | file[134 + static_cast<std::size_t>(i)];
        EXPECT_EQ(got, bits);
    }
}

TEST(EncodeSettings, LongestSessionWaveform) {
    Settings s = default_settings();
    Levels levels(9000000, 0);
    for (std::size_t i = 0; i < levels.size(); ++i) levels[i] = static_cast<std::int16_t>(i % 32768);
    s.signals = {Signal{ArbitrarySignalParams{std::move(levels)}}};
    const Bytes file = encode(s);
    // Count 9000000 takes 4 bytes; levels take 1, 2 or 3 bytes by their zigzag value.
    std::size_t expected = 201 - 9 + 1 + 4;
    for (std::size_t i = 0; i < 9000000; ++i) {
        const std::size_t z = 2 * (i % 32768);
        expected += z < 128 ? 1 : z < 16384 ? 2 : 3;
    }
    ASSERT_EQ(file.size(), expected);
    EXPECT_EQ(slice(file, 151, 5), hex("04 c0 a8 a5 04"));
    EXPECT_EQ(file.back(), 0x01);
}

// The wire rules, one level at a time, as the reference for the bulk encoder.
Bytes reference_levels(const Levels& levels) {
    Bytes out;
    for (const std::int16_t level : levels) {
        std::uint32_t z = static_cast<std::uint16_t>((static_cast<std::uint16_t>(level) << 1) ^ (level < 0 ? 0xffff : 0));
        while (z >= 0x80) {
            out.push_back(static_cast<std::uint8_t>(z | 0x80));
            z >>= 7;
        }
        out.push_back(static_cast<std::uint8_t>(z));
    }
    return out;
}

TEST(EncodeLevels, EveryLevelInEveryPositionMatchesTheWireRules) {
    // All 65536 levels, then the varint length boundaries (zigzag 127/128,
    // 16383/16384) at every offset of an eight-level group, then a tail.
    Levels levels;
    for (int v = -32768; v <= 32767; ++v) levels.push_back(static_cast<std::int16_t>(v));
    for (int shift = 0; shift < 8; ++shift) {
        levels.insert(levels.end(), static_cast<std::size_t>(shift), 1);
        for (std::int16_t v : {63, -64, 64, 8191, -8192, 8192, 0, 32767, -32768}) levels.push_back(v);
    }
    levels.insert(levels.end(), {5, 300, 32767});
    Settings s = default_settings();
    s.signals = {Signal{ArbitrarySignalParams{levels}}};
    const Bytes file = encode(s);
    const Bytes want = reference_levels(levels);
    // Signal count, variant index, then the level count (3 bytes for this many levels).
    ASSERT_EQ(file.size(), 201 - 10 + 2 + 3 + want.size());
    EXPECT_EQ(slice(file, 155, want.size()), want);
}

// Records every piece the streaming encoder hands over.
struct Pieces final : ByteSink {
    void write(std::span<const std::uint8_t> bytes) override {
        sizes.push_back(bytes.size());
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    std::vector<std::size_t> sizes;
    Bytes all;
};

TEST(EncodeStream, PiecesConcatenateToTheWholeFile) {
    std::vector<std::uint8_t> buffer(MIN_ENCODE_BUFFER);
    // Levels of one byte each: the file is 201 - 10 + 2 + the count's varint + n
    // bytes (3 from 16384 levels). The last case ends exactly on a buffer boundary (5 buffers).
    for (std::size_t n : {0ul, 1ul, 5000ul, 100000ul, 5 * MIN_ENCODE_BUFFER - 196}) {
        Settings s = default_settings();
        s.signals = {Signal{ArbitrarySignalParams{Levels(n, 7)}}};
        Pieces pieces;
        encode(s, buffer, pieces);
        EXPECT_EQ(pieces.all, encode(s)) << n;
        for (std::size_t size : pieces.sizes) {
            EXPECT_GT(size, 0u);
            EXPECT_LE(size, buffer.size());
        }
        if (n == 5 * MIN_ENCODE_BUFFER - 196) {
            EXPECT_EQ(pieces.all.size(), 5 * MIN_ENCODE_BUFFER);
        }
    }
}

TEST(EncodeStream, RefusesABufferBelowTheMinimum) {
    std::vector<std::uint8_t> buffer(MIN_ENCODE_BUFFER - 1);
    Pieces pieces;
    EXPECT_THROW(encode(default_settings(), buffer, pieces), std::length_error);
    EXPECT_TRUE(pieces.all.empty());
}

}  // namespace
}  // namespace protocols
