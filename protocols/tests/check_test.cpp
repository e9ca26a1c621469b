// The findings that protocols composed through the module cannot have (it
// refuses these values); the others are tested through drel on files the
// module saved.
#include "protocols/check.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <ostream>
#include <vector>

namespace protocols {
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
                      std::vector<std::int16_t> levels(300000, 5);
                      levels[17] = -5;
                      levels[20] = -32768;
                      s.signals = {Signal{ArbitrarySignalParams{levels}}};
                  },
                  {{E, "signal 0 has 2 levels outside 0 to 32767, the first -5 at sample 17"}}},
        CheckCase{"coil past the machine's",
                  [](Settings& s) { s.channel_a_settings.coil_idx = 2; },
                  {{W, "channel A uses coil 2, but the machine describes 1 coil (0)"}}},
        CheckCase{"coil setting past the coil's",
                  [](Settings& s) {
                      s.channel_b_settings.enabled = true;
                      s.channel_b_settings.coil_setting_idx = 3;
                  },
                  {{W, "channel B uses setting 3 of coil 0, but that coil has 1 setting (0)"}}},
        CheckCase{"empty table", [](Settings& s) { s.signals.clear(); },
                  {{E, "channel A coil 1 amplitude source is signal 0, but the table has no signals"},
                   {E, "channel A coil 2 amplitude source is signal 0, but the table has no signals"},
                   {E, "channel A modulation source is signal 0, but the table has no signals"}}},
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

}  // namespace
}  // namespace protocols
