// The JSON reader's verdicts where its paths part: a waveform's levels read a
// block at a time and one at a time, numbers of any length, and text that
// arrives whole, from a file or a trickle at a time.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "protocols/byte_source.hpp"
#include "protocols/composable.hpp"
#include "protocols/json_reader.hpp"
#include "trickle_source.hpp"

namespace protocols {
namespace {

std::span<const std::uint8_t> bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// The verdict, the same however the text is read: in place with the blocks
// of levels, in place a level at a time, and from a pipe that hands it out
// a few bytes at a time, with the blocks.
struct Verdict {
    bool ok;
    JsonError error;
    Levels levels;
};

Verdict read_all_ways(const std::string& text) {
    std::vector<Verdict> verdicts;
    const auto keep = [&](Result<Settings, JsonError> r) {
        Verdict v{static_cast<bool>(r), {}, {}};
        if (!r) v.error = r.error();
        else if (const auto* a = r.value().signals.empty() ? nullptr
                                                            : std::get_if<ArbitrarySignalParams>(&r.value().signals[0].payload)) {
            v.levels = a->samples;
        }
        verdicts.push_back(std::move(v));
    };
    keep(read_json(bytes(text)));
    keep(read_json(bytes(text), {.level_blocks = false}));
    TrickleSource pipe(bytes(text), text.size());
    keep(read_json(pipe));
    for (const Verdict& v : verdicts) {
        EXPECT_EQ(v.ok, verdicts[0].ok) << text;
        EXPECT_EQ(v.error.message, verdicts[0].error.message);
        EXPECT_EQ(v.error.line, verdicts[0].error.line);
        EXPECT_EQ(v.error.column, verdicts[0].error.column);
        EXPECT_EQ(v.error.path, verdicts[0].error.path);
        EXPECT_EQ(v.levels, verdicts[0].levels);
    }
    return verdicts[0];
}

// A waveform of `before` plain levels, the token, `after` more: long enough
// on both sides for the blocks to reach the token.
std::string waveform(const std::string& token, int before = 150, int after = 150, const std::string& gap = ", ") {
    std::string text = R"({"signals": [{"Arbitrary": {"samples": [)";
    for (int i = 0; i < before; ++i) text += std::to_string(i % 7) + gap;
    text += token;
    for (int i = 0; i < after; ++i) text += gap + std::to_string(i % 5);
    return text + "]}}]}";
}

struct Token {
    const char* name;
    std::string token;
    std::int32_t level;  // what it reads as, or NO_LEVEL for a refusal
    const char* words;   // of the refusal
    bool at_level = true;  // refused as the level, or after it (by what follows)
};
constexpr std::int32_t NO_LEVEL = INT32_MIN;

class AwkwardToken : public ::testing::TestWithParam<Token> {};

TEST_P(AwkwardToken, SameVerdictInABlockAsAlone) {
    const Token& t = GetParam();
    for (const std::string& gap : {std::string(", "), std::string(","), std::string(" ,\n  ")}) {
        for (const int before : {0, 1, 63, 64, 150}) {
            const Verdict v = read_all_ways(waveform(t.token, before, 150, gap));
            if (t.level == NO_LEVEL) {
                ASSERT_FALSE(v.ok) << t.token;
                EXPECT_NE(v.error.message.find(t.words), std::string::npos) << v.error.message;
                EXPECT_EQ(v.error.path, "signals[0].Arbitrary.samples" +
                                            (t.at_level ? "[" + std::to_string(before) + "]" : std::string()))
                    << t.token;
            } else {
                ASSERT_TRUE(v.ok) << t.token << ": " << v.error.message;
                ASSERT_EQ(v.levels.size(), static_cast<std::size_t>(before + 151));
                EXPECT_EQ(v.levels[static_cast<std::size_t>(before)], t.level);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, AwkwardToken,
    ::testing::Values(Token{"zero", "0", 0, ""}, Token{"minus_zero", "-0", 0, ""},
                      Token{"largest", "32767", 32767, ""}, Token{"smallest", "-32768", -32768, ""},
                      Token{"one_past_largest", "32768", NO_LEVEL, "from -32768 to 32767, not 32768"},
                      Token{"one_past_smallest", "-32769", NO_LEVEL, "from -32768 to 32767, not -32769"},
                      Token{"six_digits", "100000", NO_LEVEL, "not 100000"},
                      Token{"leading_zero", "00", NO_LEVEL, "a number with a leading zero"},
                      Token{"leading_zero_of_a_level", "07", NO_LEVEL, "a number with a leading zero"},
                      Token{"hex_letter", "1A", NO_LEVEL, "a comma or ] after", false},
                      Token{"letter_after_digits", "2q", NO_LEVEL, "a comma or ] after", false},
                      Token{"sign_alone", "-", NO_LEVEL, "a sign without digits after it"},
                      Token{"point_without_digits", "1.", NO_LEVEL, "a decimal point without digits after it"},
                      Token{"fraction", "0.5", NO_LEVEL, "without a fraction or an exponent, not 0.5"},
                      Token{"exponent", "1e2", NO_LEVEL, "without a fraction or an exponent, not 1e2"},
                      Token{"blank_inside", "- 1", NO_LEVEL, "a sign without digits"},
                      Token{"two_commas", "", NO_LEVEL, "an integer level"}),
    [](const auto& info) { return std::string(info.param.name); });

// A fraction's refusal carries the note of what a level is, beside its words.
TEST(JsonLevels, AFractionHasTheNoteOfLevels) {
    const Verdict v = read_all_ways(waveform("0.5"));
    ASSERT_FALSE(v.ok);
    EXPECT_NE(v.error.note.find("round(x * 32767)"), std::string::npos);
    EXPECT_EQ(v.error.message.find("round"), std::string::npos);
}

// A comma before the bracket reads the same wherever it stands: after a
// block's last level, after one level read alone, at a buffer's edge.
TEST(JsonLevels, ATrailingCommaHasTheSameWordsAtEveryPlace) {
    for (const std::size_t after : {0u, 100u}) {  // with text after it, the blocks reach the bracket
        for (int n = 1; n <= 140; ++n) {
            std::string levels;
            for (int i = 0; i < n; ++i) levels += std::to_string(i % 9) + ",";
            const Verdict v = read_all_ways(R"({"signals": [{"Arbitrary": {"samples": [)" + levels + "]}}]}" +
                                            std::string(after, ' '));
            ASSERT_FALSE(v.ok);
            EXPECT_EQ(v.error.message, "invalid JSON: a comma before ]: JSON has no comma after the last element") << n;
            EXPECT_EQ(v.error.column, 40 + levels.size() + 1) << n;
        }
    }
}

double read_number(const std::string& number, std::string* refusal = nullptr) {
    const Verdict v = read_all_ways(R"({"signals": [{"Constant": {"value": )" + number + "}}]}");
    if (!v.ok) {
        if (refusal != nullptr) *refusal = v.error.message;
        return std::numeric_limits<double>::quiet_NaN();
    }
    const auto read = read_json(bytes(R"({"signals": [{"Constant": {"value": )" + number + "}}]}"));
    return std::get<ConstantSignalParams>(read.value().signals[0].payload).value;
}

// Numbers longer than the ones read in place, read to the same double
// however they arrive, or refused in words that say why.
TEST(JsonNumbers, AnyLengthReadsExactly) {
    const std::string zeros(1100, '0');
    EXPECT_EQ(read_number("1." + zeros), 1.0);
    EXPECT_EQ(read_number("0." + zeros + "1"), 0.0);  // below a double's range: its zero
    EXPECT_TRUE(std::signbit(read_number("-0." + zeros + "1")));
    EXPECT_EQ(read_number("0.1" + zeros + "1"), 0.1);
    EXPECT_EQ(read_number(zeros.substr(1) .insert(0, "1") + "e-1099"), 1.0);  // 1 and 1099 zeros, e-1099
    // 1 + 2^-53 lies halfway between 1 and the double after it, and goes to
    // even; any digit past it, however far, rounds it up.
    const std::string halfway = "1.00000000000000011102230246251565404236316680908203125";
    EXPECT_EQ(read_number(halfway), 1.0);
    EXPECT_EQ(read_number(halfway + zeros), 1.0);
    EXPECT_EQ(read_number(halfway + zeros + "1"), std::nextafter(1.0, 2.0));
    EXPECT_EQ(read_number(halfway + zeros + "1e0"), std::nextafter(1.0, 2.0));
    EXPECT_EQ(read_number("0.0" + std::string(2000, '0') + "5e2001"), 0.5);
}

TEST(JsonNumbers, LongOnesAreRefusedInTheSameWordsAsShortOnes) {
    const std::string digits(1200, '1');
    std::string refusal;
    read_number(digits, &refusal);
    EXPECT_NE(refusal.find("within the range of a double, not 1111111111111111111111111111111111111111\xe2\x80\xa6 (a "
                           "number of 1200 characters)"),
              std::string::npos)
        << refusal;
    for (const auto& [text, words] : std::vector<std::pair<std::string, std::string>>{
             {digits + ".", "a decimal point without digits after it"},
             {digits + "e", "an exponent without digits"},
             {digits + "e+", "an exponent without digits"},
             {"0" + digits, "a number with a leading zero"},
             {"-" + std::string(1025, '0'), "a number with a leading zero"},
         }) {
        refusal.clear();
        read_number(text, &refusal);
        EXPECT_EQ(refusal, "invalid JSON: " + words) << text.size();
    }
    // At the edge of the numbers read in place, on both sides.
    for (const std::size_t n : {1023u, 1024u, 1025u, 1026u}) {
        refusal.clear();
        read_number(std::string(n - 1, '1') + "e", &refusal);
        EXPECT_EQ(refusal, "invalid JSON: an exponent without digits") << n;
        EXPECT_EQ(read_number("0." + std::string(n - 3, '0') + "1e" + std::to_string(n - 3)), 0.1) << n;
    }
}

TEST(JsonNumbers, IntegersOfAnyLength) {
    const auto factor = [](const std::string& n) {
        const auto r = read_json(bytes(R"({"monitor_subsampling_factor": )" + n + "}"));
        return r ? std::to_string(r.value().monitor_subsampling_factor) : r.error().message;
    };
    EXPECT_EQ(factor("-0"), "0");
    EXPECT_EQ(factor("18446744073709551615"), "18446744073709551615");
    EXPECT_EQ(factor("18446744073709551616"),
              "monitor_subsampling_factor must be an integer from 0 to 18446744073709551615, not 18446744073709551616");
    EXPECT_EQ(factor("-1"), "monitor_subsampling_factor must be an integer from 0 to 18446744073709551615, not -1");
    EXPECT_NE(factor(std::string(2000, '9')).find("not 9999999999999999999999999999999999999999\xe2\x80\xa6 (a number "
                                                  "of 2000 characters)"),
              std::string::npos);
    EXPECT_NE(factor("1" + std::string(2000, '0') + ".0").find("without a fraction or an exponent"), std::string::npos);
}

// Keys and strings are refused where they pass what a protocol can hold,
// not read whole first.
TEST(JsonText, LongKeysAreCutAndLongStringsRefused) {
    const Verdict key = read_all_ways("{\"" + std::string(100000, 'k') + "\": 1}");
    ASSERT_FALSE(key.ok);
    const std::string cut(std::string_view("num_external_signal_sources").size() + 1, 'k');
    EXPECT_EQ(key.error.message, "the protocol has no key \"" + cut + "\xe2\x80\xa6\": it takes "
                                 "\"running_on_target_machine\", \"machine_config\", \"intensity\", "
                                 "\"session_duration\", \"signals\", \"channel_a_settings\", \"channel_b_settings\", "
                                 "\"monitor_trace_visible\" or \"monitor_subsampling_factor\"");
    EXPECT_EQ(key.error.column, 2u);
    // One past the longest key is compared, and suggested from.
    const Verdict near = read_all_ways(R"({"machine_config": {"num_external_signal_sourcesX": 1}})");
    EXPECT_NE(near.error.message.find("did you mean \"num_external_signal_sources\"?"), std::string::npos);
    const Verdict kind = read_all_ways("{\"signals\": [{\"" + std::string(5000, 'S') + "\": {}}]}");
    EXPECT_NE(kind.error.message.find("has no kind \"" + std::string(cut.size(), 'S') + "\xe2\x80\xa6\""),
              std::string::npos);
    const std::string name = R"({"machine_config": {"coils": [{"name": ")";
    const Verdict longest = read_all_ways(name + std::string(MAX_JSON_TEXT, 'n') + "\"}]}}");
    EXPECT_NE(longest.error.message.find("needs \"inductance\""), std::string::npos) << longest.error.message;
    const Verdict too_long = read_all_ways(name + std::string(MAX_JSON_TEXT + 1, 'n') + "\"}]}}");
    EXPECT_EQ(too_long.error.message,
              "machine_config.coils[0].name is a string of more than 1048576 bytes, longer than any name a protocol "
              "holds");
    EXPECT_EQ(too_long.error.column, name.size());
}

TEST(JsonNaN, ASignedNaNReadsBackWithItsSign) {
    const auto r = read_json(bytes(R"({"signals": [{"Constant": {"value": "-NaN"}}, {"Constant": {"value": "NaN"}}]})"));
    ASSERT_TRUE(r);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(std::get<ConstantSignalParams>(r.value().signals[0].payload).value),
              0xfff8000000000000u);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(std::get<ConstantSignalParams>(r.value().signals[1].payload).value),
              0x7ff8000000000000u);
}

// The places a composition's refusal points at, read a block at a time or
// a level at a time.
TEST(JsonPlaces, TheFirstNegativeLevelIsPlacedWhereverItIsRead) {
    for (const bool blocks : {true, false}) {
        for (const int before : {0, 5, 64, 200}) {
            const std::string text = waveform("-7", before, 150, ", ");
            JsonPlaces places;
            const auto r = read_json(bytes(text), {.places = &places, .level_blocks = blocks});
            ASSERT_TRUE(r);
            const auto refused = composition(r.value());
            ASSERT_FALSE(refused);
            const JsonPosition at = places.at(refused.error().path);
            EXPECT_EQ(at.line, 1u);
            EXPECT_EQ(at.column, text.find("-7") + 1) << before << (blocks ? " in blocks" : " alone");
        }
    }
}

}  // namespace
}  // namespace protocols
