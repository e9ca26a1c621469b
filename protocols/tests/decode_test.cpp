#include "protocols/decode.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <optional>
#include <cstdlib>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "level_varints.hpp"
#include "protocols/encode.hpp"
#include "trickle_source.hpp"

namespace protocols {
namespace {

using Bytes = std::vector<std::uint8_t>;

Settings default_settings() {
    ::unsetenv(TARGET_MACHINE_VARIABLE);
    return Settings::factory_default();
}

// A protocol with every kind of signal, sources of both kinds and odd values.
Settings every_kind() {
    Settings s = default_settings();
    Levels levels;
    std::mt19937 random(7);
    for (int i = 0; i < 3000; ++i) levels.push_back(static_cast<std::int16_t>(random()));
    s.signals = {Signal{ConstantSignalParams{-0.0}},
                 Signal{SineSignalParams{1.0, std::bit_cast<double>(0x7ff8000000000123ull), -1e300, 5e-324}},
                 Signal{RampSignalParams{0.5, 1e-3, 2.0}},
                 Signal{MixedSignalParams{0, UINT64_MAX}},
                 Signal{ArbitrarySignalParams{levels}},
                 Signal{ArbitrarySignalParams{}}};
    s.running_on_target_machine = true;
    s.intensity = 0.75;
    s.channel_b_settings.enabled = true;
    s.channel_a_settings.amplitude2_source = SignalSourceSelection::internal_signal(4);
    s.channel_b_settings.modulation_source = SignalSourceSelection::external_input(300);
    s.monitor_trace_visible[5] = true;
    s.monitor_subsampling_factor = 1ull << 63;
    s.machine_config.coils[0].name = "Spule \xc3\xa9";
    return s;
}

TEST(Decode, EncodedProtocolsComeBackAsTheyWere) {
    for (const Settings& s : {default_settings(), every_kind()}) {
        const Bytes file = encode(s);
        auto decoded = decode(file);
        ASSERT_TRUE(decoded) << decoded.error().message;
        EXPECT_EQ(encode(decoded.value()), file);  // bit for bit, NaN payloads and -0.0 included
    }
    const Settings s = default_settings();
    EXPECT_EQ(decode(encode(s)).value(), s);
    const Settings k = every_kind();
    const Settings d = decode(encode(k)).value();
    EXPECT_EQ(std::bit_cast<std::uint64_t>(std::get<SineSignalParams>(d.signals[1].payload).frequency),
              0x7ff8000000000123ull);
    EXPECT_TRUE(std::signbit(std::get<ConstantSignalParams>(d.signals[0].payload).value));
    EXPECT_EQ(d.signals[4], k.signals[4]);
    EXPECT_EQ(d.channel_b_settings, k.channel_b_settings);
}

// The default file: 201 bytes, channel B from byte 172, the last byte the
// monitor's subsampling factor.
Bytes factory() { return encode(default_settings()); }

Bytes with(Bytes b, std::size_t at, std::size_t remove, const Bytes& insert) {
    b.erase(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + remove));
    b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), insert.begin(), insert.end());
    return b;
}

Bytes waveform_file() {
    Settings s = default_settings();
    s.signals = {Signal{ArbitrarySignalParams{{5, 6}}}};
    return encode(s);  // the levels stand at bytes 153 and 154
}

// `file` up to its count at `at`, the count replaced by `count`, then
// `elements` copies of the element bytes: the end of the data.
Bytes cut_after_count(Bytes file, std::size_t at, std::uint8_t count, std::size_t elements, std::uint8_t first,
                      std::optional<std::uint8_t> second = std::nullopt) {
    file.resize(at);
    file.push_back(count);
    for (std::size_t i = 0; i < elements; i += second ? 2 : 1) {
        file.push_back(first);
        if (second && i + 1 < elements) file.push_back(*second);
    }
    return file;
}

struct Refused {
    const char* what;
    Bytes file;
    const char* message;
};
void PrintTo(const Refused& c, std::ostream* os) { *os << c.what; }
class DecodeRefuses : public ::testing::TestWithParam<Refused> {};

TEST_P(DecodeRefuses, NamingTheByteAndTheField) {
    const auto result = decode(GetParam().file);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeRefuses,
    ::testing::Values(
        Refused{"truncated", with(factory(), 177, 24, {}),
                "the protocol file ends early, probably truncated: "
                "unexpected end of data at byte 177 in channel_b_settings.amplitude2_source.external"},
        Refused{"empty", {}, "not a protocol file: "
                "unexpected end of data at byte 0 in running_on_target_machine"},
        Refused{"a byte after the end", with(factory(), 201, 0, {0}),
                "a damaged protocol file: "
                "1 byte after the last field, monitor_subsampling_factor, at byte 201"},
        Refused{"boolean 2", with(factory(), 0, 1, {2}),
                "not a protocol file: "
                "boolean byte 02 (expected 00 or 01) at byte 0 in running_on_target_machine"},
        Refused{"trace flag ff", with(factory(), 190, 1, {0xff}),
                "a damaged protocol file: "
                "boolean byte ff (expected 00 or 01) at byte 190 in monitor_trace_visible[6]"},
        Refused{"variant 5", with(factory(), 151, 1, {5}), "a damaged protocol file: "
                "signal variant 5 (expected 0 to 4) at byte 151 in signals[0]"},
        Refused{"huge signal count", with(factory(), 150, 1, {0x80, 0x80, 0x80, 0x80, 0x80, 0x20}),
                "the protocol file ends early, probably truncated: "
                "count 1099511627776 larger than the 50 bytes that remain can hold at byte 150 in signals"},
        Refused{"varint of 11 bytes", with(factory(), 200, 1, Bytes(10, 0x80)),
                "a damaged protocol file: "
                "varint longer than 10 bytes at byte 200 in monitor_subsampling_factor"},
        Refused{"varint beyond 64 bits", with(factory(), 200, 1, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02}),
                "a damaged protocol file: "
                "varint beyond 64 bits at byte 200 in monitor_subsampling_factor"},
        Refused{"varint not shortest", with(factory(), 200, 1, {0x81, 0x00}),
                "a damaged protocol file: "
                "varint not in its shortest form at byte 200 in monitor_subsampling_factor"},
        Refused{"coil name not UTF-8", with(factory(), 12, 1, {0xff}),
                "not a protocol file: "
                "text that is not valid UTF-8 at byte 11 in machine_config.coils[0].name"},
        Refused{"level beyond 16 bits", with(waveform_file(), 154, 1, {0xff, 0xff, 0x04}),
                "a damaged protocol file: "
                "level beyond 16 bits at byte 154 in signals[0].samples[1]"},
        Refused{"level not shortest", with(waveform_file(), 153, 1, {0x8a, 0x00}),
                "a damaged protocol file: "
                "level not in its shortest form at byte 153 in signals[0].samples[0]"},
        Refused{"more levels than bytes", with(waveform_file(), 152, 1, {0x7f}),
                "the protocol file ends early, probably truncated: "
                "count 127 larger than the 43 bytes that remain can hold at byte 152 in signals[0].samples"},
        // A count is refused only when the bytes after it cannot hold it:
        // one byte a level, two a signal (an empty waveform).
        Refused{"levels that the rest holds exactly", cut_after_count(waveform_file(), 152, 43, 43, 0x02),
                "the protocol file ends early, probably truncated: "
                "unexpected end of data at byte 196 in channel_a_settings.enabled"},
        Refused{"levels a byte more than the rest", cut_after_count(waveform_file(), 152, 43, 42, 0x02),
                "the protocol file ends early, probably truncated: "
                "count 43 larger than the 42 bytes that remain can hold at byte 152 in signals[0].samples"},
        Refused{"signals that the rest holds exactly", cut_after_count(factory(), 150, 20, 40, 0x04, 0x00),
                "the protocol file ends early, probably truncated: "
                "unexpected end of data at byte 191 in channel_a_settings.enabled"},
        Refused{"signals a byte more than the rest", cut_after_count(factory(), 150, 20, 39, 0x04, 0x00),
                "the protocol file ends early, probably truncated: "
                "count 20 larger than the 39 bytes that remain can hold at byte 150 in signals"}));

// Trailing bytes read through a pipe are counted up to TRAILING_PROBE.
class PipeSource final : public ByteSource {
public:
    explicit PipeSource(std::span<const std::uint8_t> bytes) : rest_(bytes) {}
    std::size_t read(std::span<std::uint8_t> into) override {
        const std::size_t n = std::min(into.size(), rest_.size());
        std::copy_n(rest_.begin(), n, into.begin());
        rest_ = rest_.subspan(n);
        return n;
    }

private:
    std::span<const std::uint8_t> rest_;
};

TEST(DecodeTrailing, APipeCountsUpToItsProbe) {
    for (const auto& [extra, message] : {
             std::pair{TRAILING_PROBE, "not a protocol file: 1048576 bytes after the last field, monitor_subsampling_factor, at byte 201"},
             std::pair{TRAILING_PROBE + 1,
                       "not a protocol file: more than 1048576 bytes after the last field, monitor_subsampling_factor, at byte 201"},
         }) {
        Bytes file = factory();
        file.resize(file.size() + extra);
        PipeSource pipe(file);
        const auto result = decode(pipe);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().message, message);
    }
}

// A waveform of several buffers, decoded straight into its array: the
// levels come back whole however the reads fall, and a level that breaks
// the rules on either side of a buffer's end is refused at its own byte,
// with the array cut back to what was decoded.
TEST(DecodeLevels, AcrossBufferEnds) {
    Settings s = default_settings();
    std::mt19937 random(5);
    Levels levels(3 * DECODE_BUFFER / 2, 0);  // of 1 to 3 bytes: about four buffers
    for (auto& l : levels) l = static_cast<std::int16_t>(random() % 4 == 0 ? random() % 64 : random());
    s.signals = {Signal{ArbitrarySignalParams{levels}}};
    const Bytes file = encode(s);
    PipeSource whole(file);
    TrickleSource trickle(file, 1);
    for (const auto& result : {decode(file), decode(whole), decode(trickle)}) {
        ASSERT_TRUE(result) << result.error().message;
        EXPECT_EQ(result.value(), s);
    }
    // Where each level starts: as in waveform_file(), whose level count of
    // one byte stands at 152, but a count of three bytes.
    static_assert(3 * DECODE_BUFFER / 2 >= 1 << 14 && 3 * DECODE_BUFFER / 2 < 1 << 21);
    std::vector<std::size_t> at{152 + 3};
    const auto bytes_of = [](std::int16_t l) {
        const auto z = static_cast<std::uint16_t>((static_cast<std::uint16_t>(l) << 1) ^ (l >> 15));
        return std::size_t{1} + (z >= 0x80) + (z >= 0x4000);
    };
    for (const auto l : levels) at.push_back(at.back() + bytes_of(l));
    ASSERT_EQ(at.back() + waveform_file().size() - 155, file.size());
    for (const std::size_t end : {DECODE_BUFFER, 2 * DECODE_BUFFER, 3 * DECODE_BUFFER}) {
        const auto k0 = static_cast<std::size_t>(std::lower_bound(at.begin(), at.end(), end - 200) - at.begin());
        for (std::size_t k = k0; at[k] < end + 200; ++k) {
            const Bytes bad = with(file, at[k], bytes_of(levels[k]), {0xff, 0xff, 0x04});
            const std::string message =
                "a damaged protocol file: level beyond 16 bits at byte " + std::to_string(at[k]) + " in signals[0].samples[" + std::to_string(k) + "]";
            PipeSource pipe(bad);
            for (const auto& result : {decode(bad), decode(pipe)}) {
                ASSERT_FALSE(result);
                ASSERT_EQ(result.error().message, message);
            }
        }
    }
}

// A regular file that grows after it is opened (written while read) is read
// as a pipe is: its size at the start does not limit what it holds.
TEST(DecodeFile, AFileThatGrowsIsReadOn) {
    const Bytes file = encode(every_kind());
    char name[] = "/tmp/pydrel-grows-XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    ::unlink(name);
    ASSERT_EQ(::write(fd, file.data(), 100), 100);
    ASSERT_EQ(::lseek(fd, 0, SEEK_SET), 0);
    FileSource source(fd, FileSource::Ownership::Owned);
    const int appender = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(appender, 0);
    ASSERT_EQ(::write(appender, file.data() + 100, file.size() - 100), static_cast<ssize_t>(file.size() - 100));
    ::close(appender);
    const auto result = decode(source);
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_EQ(encode(result.value()), file);
}

// What decode accepts re-encodes to the same bytes; what it refuses it
// refuses at an offset inside the data.
void expect_strict(const Bytes& file) {
    const auto result = decode(file);
    if (result) {
        EXPECT_EQ(encode(result.value()), file);
    } else {
        EXPECT_LE(result.error().offset, file.size());
        EXPECT_NE(result.error().message.find(" at byte " + std::to_string(result.error().offset)), std::string::npos)
            << result.error().message;
    }
}

TEST(DecodeRejection, EveryTruncationFails) {
    const Bytes file = encode(every_kind());
    for (std::size_t n = 0; n < file.size(); ++n) {
        const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
        const auto result = decode(cut);
        ASSERT_FALSE(result) << n;
        EXPECT_LE(result.error().offset, n);
        // Past the machine description (which ends at byte 134 in the
        // factory's, one later with this coil name of one byte more), a cut
        // file is called truncated, whatever field it cuts.
        if (n >= 135) {
            EXPECT_EQ(result.error().verdict, DecodeError::Verdict::Truncated) << n;
        } else if (n == 0) {
            EXPECT_EQ(result.error().verdict, DecodeError::Verdict::NotProtocol);
        }
    }
}

TEST(DecodeRejection, EveryChangedByteDecodesStrictlyOrFails) {
    const Bytes file = factory();
    for (std::size_t at = 0; at < file.size(); ++at) {
        for (const unsigned change : {0x01u, 0x02u, 0x80u, 0xffu}) {
            Bytes changed = file;
            changed[at] = static_cast<std::uint8_t>(changed[at] ^ change);
            expect_strict(changed);
        }
    }
}

// Random mutations of protocol files: bytes changed, inserted, removed,
// repeated, cut off; runs under the sanitizers in ./dev asan. Read from a
// pipe, each gets the same verdict, but where only the size tells: a count
// larger than the data shows later, and trailing bytes are counted as read.
TEST(DecodeFuzz, MutatedFilesDecodeStrictlyOrFail) {
    const std::vector<Bytes> seeds = {factory(), waveform_file(), encode(every_kind())};
    std::mt19937_64 random(20261209);
    const char* env = std::getenv("PYDREL_FUZZ_INPUTS");
    const std::size_t inputs = env != nullptr ? std::strtoull(env, nullptr, 10) : 100000;
    std::size_t accepted = 0;
    for (std::size_t i = 0; i < inputs; ++i) {
        Bytes b = seeds[random() % seeds.size()];
        for (std::size_t m = 0, n = 1 + random() % 4; m < n && !b.empty(); ++m) {
            const std::size_t at = random() % b.size();
            switch (random() % 6) {
                case 0: b[at] = static_cast<std::uint8_t>(random()); break;
                case 1: b[at] ^= static_cast<std::uint8_t>(1u << (random() % 8)); break;
                case 2: b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(random())); break;
                case 3: b.erase(b.begin() + static_cast<std::ptrdiff_t>(at)); break;
                case 4: b.resize(at); break;
                default: {  // a varint run: counts and indices of every size
                    const std::size_t run = 1 + random() % 10;
                    b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), run, static_cast<std::uint8_t>(0x80 | random()));
                }
            }
        }
        const auto result = decode(b);
        TrickleSource pipe(b, i);
        const auto piped = decode(pipe);
        if (result) {
            ++accepted;
            ASSERT_EQ(encode(result.value()), b) << "input " << i;
            ASSERT_TRUE(piped && encode(piped.value()) == b) << "input " << i;
        } else {
            ASSERT_LE(result.error().offset, b.size()) << "input " << i;
            const auto kind = result.error().kind;
            if (kind != DecodeError::Kind::CountTooLarge && kind != DecodeError::Kind::TrailingData) {
                ASSERT_FALSE(piped) << "input " << i;
                ASSERT_EQ(piped.error().message, result.error().message) << "input " << i;
            }
        }
    }
    RecordProperty("inputs", static_cast<int>(inputs));
    std::printf("decoded %zu mutated files, %zu of them accepted\n", inputs, accepted);
}

// Each bulk level decoder that this machine runs reads what the one-by-one
// decoder reads, in windows that cut levels anywhere, and stops before a
// level that breaks the rules rather than reading past it.
TEST(LevelVarints, EveryVersionDecodesAsOneByOne) {
    using Version = versions::GetLevels;
    std::vector<std::pair<const char*, Version>> versions = {{"one by one", get_levels_one_by_one}};
#if defined(__x86_64__)
    if (cpu::index(cpu::supported()) >= cpu::index(cpu::Level::Avx2)) versions.emplace_back("AVX2", get_levels_avx2);
    if (cpu::compresses()) versions.emplace_back("AVX-512", get_levels_avx512);
#elif defined(__aarch64__)
    versions.emplace_back("NEON", get_levels_neon);
#endif
    std::mt19937 random(11);
    Levels levels(20000, 0);
    for (auto& l : levels) l = static_cast<std::int16_t>(random() % 3 == 0 ? random() % 64 : random());  // 1 to 3 bytes
    Bytes bytes(8 + 3 * levels.size() + 64);  // the zero before the first level ends a count
    const std::uint8_t* const first = bytes.data() + 8;
    const std::uint8_t* const end = put_level_varints(bytes.data() + 8, levels.data(), levels.size());
    for (const auto& [name, version] : versions) {
        for (const std::size_t window : {40u, 1000u, 65536u}) {
            Levels out(levels.size() + 32, 0);
            const std::uint8_t* p = first;
            std::size_t done = 0;
            while (done < levels.size()) {
                const LevelRun bulk = version(p, std::min(end + 4, p + window), out.data() + done, levels.size() - done);
                const LevelRun rest = get_levels_one_by_one(bulk.end, end + 4, out.data() + done + bulk.levels,
                                                            std::min<std::size_t>(1, levels.size() - done - bulk.levels));
                ASSERT_FALSE(bulk.failed || rest.failed) << name;
                done += bulk.levels + rest.levels;
                p = rest.end;
            }
            EXPECT_EQ(p, end) << name;
            EXPECT_TRUE(std::equal(levels.begin(), levels.end(), out.begin())) << name << ", windows of " << window;
        }
        Bytes bad(bytes.begin(), bytes.begin() + (end - bytes.data()));
        bad.insert(bad.begin() + 8 + 9000, {0x80, 0x80, 0x80, 0x01});  // a level of four bytes among the first
        Levels out(levels.size() + 32, 0);
        const LevelRun run = version(bad.data() + 8, bad.data() + bad.size(), out.data(), levels.size());
        EXPECT_LE(run.end, bad.data() + 8 + 9000) << name;
    }
}

}  // namespace
}  // namespace protocols
