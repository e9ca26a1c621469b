#include "text_writer.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <ostream>
#include <string>

namespace protocols::text {
namespace {

std::string float_text(double x) {
    char buf[MAX_FLOAT_TEXT];
    return std::string(buf, format_float(buf, x));
}

struct FloatCase {
    double value;
    const char* text;
};
void PrintTo(const FloatCase& c, std::ostream* os) { *os << c.text; }

class FloatForm : public ::testing::TestWithParam<FloatCase> {};

TEST_P(FloatForm, MatchesPythonReprDigitsAndLayout) { EXPECT_EQ(float_text(GetParam().value), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Values, FloatForm,
    ::testing::Values(FloatCase{60.0, "60.0"}, FloatCase{0.3, "0.3"}, FloatCase{0.1, "0.1"},
                      FloatCase{22.624434389140273, "22.624434389140273"}, FloatCase{1e-5, "1e-5"},
                      FloatCase{2.5e-7, "2.5e-7"}, FloatCase{0.0001, "0.0001"}, FloatCase{1e16, "1e16"},
                      FloatCase{1e15, "1000000000000000.0"}, FloatCase{9999999999999998.0, "9999999999999998.0"},
                      FloatCase{1.2345678901234567e19, "1.2345678901234567e19"}, FloatCase{0.0, "0.0"},
                      FloatCase{-0.0, "-0.0"}, FloatCase{-1.5, "-1.5"}, FloatCase{123456.789, "123456.789"},
                      FloatCase{-5088143117563430912.0, "-5.088143117563431e18"},
                      FloatCase{0.5 + 0x1p-17, "0.5000076293945312"},
                      FloatCase{1000 + 0x1p-14, "1000.0000610351562"},
                      FloatCase{5e-324, "5e-324"}, FloatCase{1.7976931348623157e308, "1.7976931348623157e308"},
                      FloatCase{std::numeric_limits<double>::infinity(), "inf"},
                      FloatCase{-std::numeric_limits<double>::infinity(), "-inf"},
                      FloatCase{std::numeric_limits<double>::quiet_NaN(), "NaN"},
                      FloatCase{-std::numeric_limits<double>::quiet_NaN(), "NaN"}));

struct EscapeCase {
    const char* what;
    std::string input;
    std::string quoted;
};
void PrintTo(const EscapeCase& c, std::ostream* os) { *os << c.what; }

class TextEscapes : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(TextEscapes, QuoteAndEscape) {
    EXPECT_EQ(one_line(GetParam().input), GetParam().quoted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextEscapes,
    ::testing::Values(EscapeCase{"plain", "Default", "\"Default\""}, EscapeCase{"empty", "", "\"\""},
                      EscapeCase{"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
                      EscapeCase{"single quote kept", "it's", "\"it's\""},
                      EscapeCase{"line controls", "a\nb\rc\td", "\"a\\nb\\rc\\td\""},
                      EscapeCase{"NUL", std::string("a\0b", 3), "\"a\\0b\""},
                      EscapeCase{"other control", "\x01\x7f", "\"\\u{1}\\u{7f}\""},
                      EscapeCase{"non-ASCII letter kept", "Spule \xc3\xa9", "\"Spule \xc3\xa9\""},
                      EscapeCase{"combining mark", "e\xcc\x81", "\"e\\u{301}\""},
                      EscapeCase{"zero width space", "\xe2\x80\x8b", "\"\\u{200b}\""},
                      EscapeCase{"invalid byte", "\xff", "\"\xef\xbf\xbd\""}));

TEST(OneLineLayout, RendersErrorRecords) {
    const std::string out = one_line_record("Os", [](auto& f) {
        f.field("code", 2);
        f.field("kind", Bare{"NotFound"});
        f.field("message", std::string_view("No such file or directory"));
    });
    EXPECT_EQ(out, "Os { code: 2, kind: NotFound, message: \"No such file or directory\" }");
}

TEST(OneLineLayout, RendersVariantsAndArrays) {
    const std::string out = one_line(std::vector<Signal>{Signal{MixedSignalParams{0, 1}},
                                           Signal{ArbitrarySignalParams{{0, 16384, 32767}}}});
    EXPECT_EQ(out,
              "[MixedSignal(MixedSignalParams { a_idx: 0, b_idx: 1 }), "
              "Arbitrary(ArbitrarySignalParams { samples: [0, 16384, 32767] })]");
}

TEST(MultiLineLayout, RendersASignalTable) {
    Settings s = Settings::factory_default();
    s.signals = {Signal{ConstantSignalParams{0.5}}};
    const std::string text = render_protocol(s);
    EXPECT_NE(text.find("\n        signals: [\n"
                        "            Constant(\n"
                        "                ConstantSignalParams {\n"
                        "                    value: 0.5,\n"
                        "                },\n"
                        "            ),\n"
                        "        ],\n"),
              std::string::npos);
    EXPECT_TRUE(text.starts_with("Protocol {\n    settings: Settings {\n"));
    EXPECT_TRUE(text.ends_with("\n        monitor_subsampling_factor: 1,\n    },\n}"));
}

TEST(MultiLineLayout, WaveformLevelsStandAtTheirDepth) {
    Settings s = Settings::factory_default();
    s.signals = {Signal{ArbitrarySignalParams{Levels(1000, -32768)}}};
    const std::string text = render_protocol(s);
    EXPECT_NE(text.find("\n                        -32768,\n"), std::string::npos);
}

// The text is sized in one pass and written in another, with fast paths for
// waveforms; the plain Appender is the reference for both.
TEST(ProtocolText, SizeAndFastRenderingMatchThePlainOne) {
    Levels levels;
    for (int v = -32768; v <= 32767; v += 7) levels.push_back(static_cast<std::int16_t>(v));
    std::vector<Settings> cases(5, Settings::factory_default());
    cases[1].signals = {Signal{SineSignalParams{1.0, 10.0, -0.0, 1e300}}, Signal{RampSignalParams{1e-7, 0.5, 2.0}},
                        Signal{MixedSignalParams{0, UINT64_MAX}}, Signal{ArbitrarySignalParams{levels}},
                        Signal{ArbitrarySignalParams{}}};
    cases[2].signals = {Signal{ArbitrarySignalParams{Levels(300001, 32767)}}};
    cases[3].machine_config.coils[0].name = "Spule \xc3\xa9\n";  // not ASCII
    cases[4].signals = {Signal{ArbitrarySignalParams{{-1}}}, Signal{ArbitrarySignalParams{{5, 0, -32768, 1}}}};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::string plain;
        Appender appender(plain);
        write_protocol(cases[i], appender);
        const ProtocolText measured = measure_protocol(cases[i]);
        EXPECT_EQ(measured.size, plain.size()) << i;
        EXPECT_EQ(measured.ascii, i != 3) << i;
        EXPECT_EQ(render_protocol(cases[i]), plain) << i;
        // The JSON form too: its levels in a row, also through the fast path.
        std::string json;
        Appender json_appender(json);
        JsonWriter<Appender>(json_appender).value(cases[i]);
        EXPECT_EQ(measure_protocol(cases[i], JSON).size, json.size()) << i;
        EXPECT_EQ(render_protocol(cases[i], JSON), json) << i;
    }
}

// Were the counter and the filler ever to disagree, the filler stops at the
// end of its memory (a buffer of exactly that size, for the sanitizers to
// watch) and the text is refused, in every build.
TEST(ProtocolText, AShortBufferIsNeverOverrun) {
    Settings s = Settings::factory_default();
    s.signals = {Signal{ArbitrarySignalParams{Levels(5000, 12345)}},
                 Signal{ArbitrarySignalParams{{-1, 7}}}};
    for (const Form form : {Form{}, JSON}) {
        const std::size_t size = measure_protocol(s, form).size;
        for (const std::size_t cut : {std::size_t{0}, std::size_t{1}, size / 2, size - 30, size - 1}) {
            const auto memory = std::make_unique<char[]>(cut);
            EXPECT_THROW(render_protocol(s, {memory.get(), cut}, form), std::logic_error) << cut;
        }
        const auto memory = std::make_unique<char[]>(size + 1);
        EXPECT_THROW(render_protocol(s, {memory.get(), size + 1}, form), std::logic_error);  // not filled
    }
}

TEST(JsonForm, StringsNumbersAndSignals) {
    std::string out;
    Appender a(out);
    JsonWriter<Appender> w(a);
    w.string("a\"b\\c\n\x01\x7f \xe2\x80\xa8 \xc3\xa9 \xff");
    for (const double x : {0.3, -0.0, 1e16, 5e-324, std::numeric_limits<double>::quiet_NaN(),
                           -std::numeric_limits<double>::infinity()}) {
        a.put(' ');
        w.number(x);
    }
    a.put(' ');
    w.value(Signal{MixedSignalParams{0, UINT64_MAX}});
    EXPECT_EQ(out, "\"a\\\"b\\\\c\\n\\u0001\x7f \\u2028 \xc3\xa9 \xef\xbf\xbd\" 0.3 -0.0 1e16 5e-324 \"NaN\" \"-inf\" "
                   "{\"MixedSignal\": {\"a_idx\": 0, \"b_idx\": 18446744073709551615}}");
}

}  // namespace
}  // namespace protocols::text
