// The findings that protocols composed through the module cannot have (it
// refuses these values); the others are tested through drel on files the
// module saved.
#include "protocols/check.hpp"
#include "protocols/findings.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace protocols {

void PrintTo(const Finding& f, std::ostream* os) { *os << severity_name(f.severity) << ": " << f.message; }

namespace {

struct CheckCase {
    const char* what;
    std::function<void(Settings&)> change;
    std::vector<Finding> findings;
};
void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.what; }
class Check : public ::testing::TestWithParam<CheckCase> {};

TEST_P(Check, ReportsWhatWasFoundAndWhatWasExpected) {
    Settings s = Settings::factory_default();  // one Constant 0.0 signal, as saved
    GetParam().change(s);
    EXPECT_EQ(check(s), GetParam().findings);
}

constexpr auto E = Finding::Severity::Error;
constexpr auto W = Finding::Severity::Warning;

INSTANTIATE_TEST_SUITE_P(
    Cases, Check,
    ::testing::Values(
        CheckCase{"factory default", [](Settings&) {}, {}},
        CheckCase{"session too long", [](Settings& s) { s.session_duration = 5000.0; },
                  {{E, "session duration is 5000.0 s, but it must be between 0.01 and 1800.0 s"}}},
        CheckCase{"session NaN", [](Settings& s) { s.session_duration = NAN; },
                  {{E, "session duration is NaN s, but it must be between 0.01 and 1800.0 s"}}},
        CheckCase{"intensity above 1", [](Settings& s) { s.intensity = 1.5; },
                  {{E, "intensity is 1.5, but it must be between 0.0 and 1.0"}}},
        CheckCase{"intensity NaN", [](Settings& s) { s.intensity = NAN; },
                  {{E, "intensity is NaN, but it must be between 0.0 and 1.0"}}},
        CheckCase{"negative levels",
                  [](Settings& s) {
                      Levels levels(300000, 5);
                      levels[17] = -5;
                      levels[20] = -32768;
                      s.signals = {Signal{ArbitrarySignalParams{levels}}};
                  },
                  {{E, "signal 0 has 2 levels outside 0 to 32767, the first -5 at sample 17"}}},
        CheckCase{"coil past the machine's",
                  [](Settings& s) { s.channel_a_settings.coil_idx = 2; },
                  {{W, "channel A uses coil 2 of the machine description, but it describes 1 coil (0)"}}},
        CheckCase{"coil setting past the coil's",
                  [](Settings& s) {
                      s.channel_b_settings.enabled = true;
                      s.channel_b_settings.coil_setting_idx = 3;
                  },
                  {{W, "channel B uses setting 3 of the machine description's coil 0, but that coil has 1 setting (0)"}}},
        CheckCase{"empty table", [](Settings& s) { s.signals.clear(); },
                  {{E, "A1 amplitude source is signal 0, but the table has no signals"},
                   {E, "A2 amplitude source is signal 0, but the table has no signals"},
                   {E, "A modulation source is signal 0, but the table has no signals"}}},
        CheckCase{"a cycle of a million mixes",
                  [](Settings& s) {
                      s.signals.clear();
                      for (std::uint64_t i = 1; i <= 1000000; ++i) {
                          s.signals.push_back(Signal{MixedSignalParams{i % 1000000, i % 1000000}});
                      }
                  },
                  {{E, "signal 0 mixes itself through signals 0 -> 1 -> 2 -> 3 -> 4 -> 5 -> 6 -> 7 -> ... -> "
                       "999999 -> 0, but mixes must not form a cycle"}}},
        CheckCase{"a million mixes that all lead back to the first",
                  [](Settings& s) {
                      s.signals.clear();
                      for (std::uint64_t i = 1; i <= 1000000; ++i) {
                          s.signals.push_back(Signal{MixedSignalParams{i % 1000000, 0}});
                      }
                  },
                  {{E, "signal 0 mixes itself (b_idx), but a mix must name other signals"},
                   {E, "signal 0 mixes itself through signals 0 -> 1 -> 0, but mixes must not form a cycle"}}}));

// Every comparison of the checks, on both sides of its limit. The factory
// default's one signal, a constant used by channel A, is replaced by the
// signal under test.
double above(double x) { return std::nextafter(x, std::numeric_limits<double>::infinity()); }
double below(double x) { return std::nextafter(x, -std::numeric_limits<double>::infinity()); }
std::function<void(Settings&)> only(Signal signal) {
    return [signal](Settings& s) { s.signals = {signal}; };
}
Signal constant(double value) { return Signal{ConstantSignalParams{value}}; }
Signal sine(double amplitude, double frequency, double depth = 1.0) {
    return Signal{SineSignalParams{amplitude, frequency, 0.0, depth}};
}
Signal ramp(double peak, double up, double down) { return Signal{RampSignalParams{peak, up, down}}; }
const std::string FRACTION = ", but it is read as a fraction of full scale, from 0.0 to 1.0";

class Limits : public ::testing::TestWithParam<CheckCase> {};

TEST_P(Limits, HoldOnTheirSideAndNotBeyond) {
    Settings s = Settings::factory_default();
    GetParam().change(s);
    EXPECT_EQ(check(s), GetParam().findings);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, Limits,
    ::testing::Values(
        CheckCase{"shortest session", [](Settings& s) { s.session_duration = 0.01; }, {}},
        CheckCase{"below the shortest", [](Settings& s) { s.session_duration = below(0.01); },
                  {{E, "session duration is 0.009999999999999998 s, but it must be between 0.01 and 1800.0 s"}}},
        CheckCase{"longest session", [](Settings& s) { s.session_duration = 1800.0; }, {}},
        CheckCase{"above the longest", [](Settings& s) { s.session_duration = above(1800.0); },
                  {{E, "session duration is 1800.0000000000002 s, but it must be between 0.01 and 1800.0 s"}}},
        CheckCase{"intensity 0", [](Settings& s) { s.intensity = 0.0; }, {}},
        CheckCase{"intensity below 0", [](Settings& s) { s.intensity = -5e-324; },
                  {{E, "intensity is -5e-324, but it must be between 0.0 and 1.0"}}},
        CheckCase{"intensity 1 at a set point of 1",
                  [](Settings& s) { s.intensity = s.machine_config.max_intensity_setpoint = 1.0; }, {}},
        CheckCase{"intensity at the set point", [](Settings& s) { s.intensity = 0.3; }, {}},
        CheckCase{"intensity above the set point", [](Settings& s) { s.intensity = above(0.3); },
                  {{W, "intensity 0.30000000000000004 is above the machine description's max_intensity_setpoint "
                       "0.3, a limit of the factory description that every composed protocol carries"}}},
        CheckCase{"last external input",
                  [](Settings& s) { s.channel_a_settings.modulation_source = SignalSourceSelection::external_input(5); },
                  {}},
        CheckCase{"external input past the last",
                  [](Settings& s) { s.channel_a_settings.modulation_source = SignalSourceSelection::external_input(6); },
                  {{W, "A modulation source is external input 6, but the machine has 6 external inputs "
                       "(0 to 5)"}}},
        CheckCase{"signal one past the end",
                  [](Settings& s) { s.channel_a_settings.amplitude2_source.internal = 1; },
                  {{E, "A2 amplitude source is signal 1, but the table has 1 signal (0)"}}},
        CheckCase{"coil one past the machine's", [](Settings& s) { s.channel_a_settings.coil_idx = 1; },
                  {{W, "channel A uses coil 1 of the machine description, but it describes 1 coil (0)"}}},
        CheckCase{"coil setting one past the coil's", [](Settings& s) { s.channel_a_settings.coil_setting_idx = 1; },
                  {{W, "channel A uses setting 1 of the machine description's coil 0, but that coil has 1 setting (0)"}}},
        CheckCase{"mix of the last signal",
                  [](Settings& s) { s.signals = {constant(0.5), Signal{MixedSignalParams{0, 0}}}; }, {}},
        CheckCase{"mix of the signal one past the end",
                  [](Settings& s) { s.signals = {constant(0.5), Signal{MixedSignalParams{0, 2}}}; },
                  {{E, "signal 1 mixes signal 2 (b_idx), but the table has 2 signals (0 to 1)"}}},
        CheckCase{"waveform of the session's length",
                  only(Signal{ArbitrarySignalParams{Levels(300000, 32767)}}), {}},
        CheckCase{"waveform one level short", only(Signal{ArbitrarySignalParams{Levels(299999, 0)}}),
                  {{E, "signal 0 has 299999 levels, but the session of 60.0 s has 300000 samples"}}},
        CheckCase{"waveform one level long", only(Signal{ArbitrarySignalParams{Levels(300001, 0)}}),
                  {{E, "signal 0 has 300001 levels, but the session of 60.0 s has 300000 samples"}}},
        CheckCase{"level below 0",
                  [](Settings& s) {
                      Levels levels(300000, 0);
                      levels.back() = -1;
                      s.signals = {Signal{ArbitrarySignalParams{levels}}};
                  },
                  {{E, "signal 0 has 1 level outside 0 to 32767, the first -1 at sample 299999"}}},
        CheckCase{"fractions at both ends", [](Settings& s) { s.signals = {sine(0.0, 0.0, 1.0)}; }, {}},
        CheckCase{"constant below 0", only(constant(-5e-324)),
                  {{W, "signal 0 (Constant) has value -5e-324" + FRACTION}}},
        CheckCase{"constant above 1", only(constant(above(1.0))),
                  {{W, "signal 0 (Constant) has value 1.0000000000000002" + FRACTION}}},
        CheckCase{"sine amplitude and depth", only(sine(-1.0, 10.0, 2.0)),
                  {{W, "signal 0 (Sine) has amplitude -1.0" + FRACTION},
                   {W, "signal 0 (Sine) has depth 2.0" + FRACTION}}},
        CheckCase{"ramp peak", only(ramp(1.5, 1.0, 1.0)), {{W, "signal 0 (Ramp) has peak 1.5" + FRACTION}}},
        CheckCase{"frequency at half the sampling rate", only(sine(1.0, 2500.0)), {}},
        CheckCase{"frequency above half the sampling rate", only(sine(1.0, above(2500.0))),
                  {{W, "signal 0 (Sine) has frequency 2500.0000000000005 Hz, but 5000.0 samples/s carry at most "
                       "2500.0 Hz"}}},
        CheckCase{"negative frequency", only(sine(1.0, -5e-324)),
                  {{W, "signal 0 (Sine) has frequency -5e-324 Hz, but a frequency must not be negative"}}},
        CheckCase{"ramp of no time, and of the whole session", [](Settings& s) {
                      s.signals = {ramp(1.0, 0.0, 0.0), ramp(1.0, 30.0, 30.0), Signal{MixedSignalParams{0, 1}}};
                      s.channel_a_settings.amplitude1_source.internal = 2;
                  }, {}},
        CheckCase{"negative durations", only(ramp(1.0, -5e-324, -1.0)),
                  {{W, "signal 0 (Ramp) has up_duration -5e-324 s, but a duration must not be negative"},
                   {W, "signal 0 (Ramp) has down_duration -1.0 s, but a duration must not be negative"}}},
        CheckCase{"ramp longer than the session", only(ramp(1.0, above(30.0), above(30.0))),
                  {{W, "signal 0 (Ramp) has up_duration and down_duration of 60.00000000000001 s together, but the "
                       "session lasts 60.0 s"}}},
        CheckCase{"not finite, and no range for what is not", only(sine(NAN, INFINITY)),
                  {{W, "signal 0 (Sine) has amplitude NaN, but signal parameters should be finite"},
                   {W, "signal 0 (Sine) has frequency inf, but signal parameters should be finite"}}},
        CheckCase{"a signal no enabled channel uses",
                  [](Settings& s) {
                      s.signals = {constant(0.5), constant(7.0), constant(8.0)};
                      s.channel_b_settings.modulation_source.internal = 2;  // channel B is off
                  },
                  {}}));


// The table the checks are written from: each kind once, each of its words'
// places filled by say(), which refuses a place it has no value for.
TEST(FindingKinds, EachOnceAndSaidWhole) {
    std::set<std::string_view> ids;
    for (const FindingKind* kind : findings::ALL) {
        EXPECT_TRUE(ids.insert(kind->id).second) << kind->id;
        EXPECT_FALSE(kind->meaning.empty()) << kind->id;
        std::vector<FindingValue> values;
        for (std::size_t i = kind->words.find('{'); i != std::string_view::npos; i = kind->words.find('{', i + 1)) {
            values.emplace_back(kind->words.substr(i + 1, kind->words.find('}', i) - i - 1), "<x>");
        }
        ASSERT_FALSE(values.empty()) << kind->id;
        const std::string said = say(*kind, values);
        EXPECT_EQ(said.find('{'), std::string::npos) << kind->id;
        EXPECT_NE(said.find("<x>"), std::string::npos) << kind->id;
    }
    EXPECT_EQ(say(findings::MIX_OF_ITSELF, {{"signal", "2"}, {"fields", "a_idx"}}),
              "signal 2 mixes itself (a_idx), but a mix must name other signals");
    EXPECT_THROW(say(findings::MIX_OF_ITSELF, {{"signal", "2"}}), std::logic_error);
    EXPECT_THROW(say(findings::MIX_OF_ITSELF, {{"signal", "2"}, {"fields", "a_idx"}, {"extra", "1"}}), std::logic_error);
}

}  // namespace
}  // namespace protocols
