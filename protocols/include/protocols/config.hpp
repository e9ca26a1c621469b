// Limits of a protocol.
#pragma once

namespace protocols::config {

// Longest session the stimulator runs, in seconds.
inline constexpr double MAX_SESSION_DURATION = 1800.0;
// Shortest session, in seconds.
inline constexpr double MIN_SESSION_DURATION = 0.01;
// Every protocol is sampled at this fixed rate, in samples per second.
inline constexpr double SAMPLING_RATE = 5000.0;
// Full scale of an arbitrary waveform level (a fraction of 1.0).
inline constexpr double LEVEL_FULL_SCALE = 32767.0;

}  // namespace protocols::config
