"""Instructions that each level of the vectorised loops executes on aarch64,
counted under QEMU's user-mode emulation: QEMU runs one instruction a block
(QEMU_SINGLESTEP) and logs each block it executes (QEMU_LOG=exec,nochain),
and the instructions are those whose address lies in the loop's functions
(bench/native/level_kernels, at the addresses its symbols give). Debian's
QEMU has no plugins, and so no instruction counter of its own; and time
under emulation says nothing of an Arm processor, so only counts are shown,
NEON against the baseline on the same input.

    ./dev bench --arch arm64        (runs this in the aarch64 root)
"""

import os
import pathlib
import subprocess
import sys
import tempfile

BUILD = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build-arm64")
TOOL = BUILD / "bench" / "level_kernels"
N = 16384
# Each loop, and the names of the functions its instructions run in (what is
# inlined into them counts with them).
KERNELS = {
    "the levels' varint encoder": ("encode", ("put_level", "put_one", "put_four", "lane_bits")),
    "the levels' varint decoder": ("decode", ("get_level", "levels_ending_at", "store_ends", "byte_bits")),
    "the waveform's conversion of fractions": ("convert", ("levels_baseline", "levels_neon", "levels_flat",
                                                            "levels_loop", "levels_any_step", "levels_from_fractions")),
    "the envelope (lowest and highest level)": ("envelope", ("range_baseline", "range_loop", "level_range")),
}
LEVELS = {"baseline": "NEON", "NEON": ""}


def functions(patterns):
    """The address ranges of the tool's functions whose names hold a pattern."""
    out = subprocess.run(["nm", "-S", "-C", "--defined-only", str(TOOL)], capture_output=True, text=True,
                         check=True).stdout
    ranges = []
    for line in out.splitlines():
        parts = line.split(maxsplit=3)
        if len(parts) == 4 and parts[2] in "tTwW" and any(p in parts[3] for p in patterns):
            start = int(parts[0], 16)
            ranges.append((start, start + int(parts[1], 16)))
    return ranges


def count(kernel, disabled, ranges):
    with tempfile.TemporaryDirectory() as d:
        log = pathlib.Path(d) / "exec.log"
        # Only the loop's own blocks are logged (QEMU_DFILTER), one instruction each.
        env = {**os.environ, "PYDREL_DISABLE_CPU_FEATURES": disabled, "QEMU_SINGLESTEP": "1",
               "QEMU_LOG": "exec,nochain", "QEMU_LOG_FILENAME": str(log),
               "QEMU_DFILTER": ",".join(f"0x{a:x}..0x{b - 1:x}" for a, b in ranges)}
        subprocess.run([str(TOOL), kernel, str(N)], env=env, check=True, capture_output=True)
        with open(log, "rb") as f:
            return sum(line.startswith(b"Trace ") for line in f)


def main():
    print(f"Instructions executed on aarch64 (QEMU user-mode emulation), {N} levels (or fractions) each")
    print(f"{'loop':42} {'baseline':>12} {'NEON':>12} {'NEON / baseline':>16}")
    for label, (kernel, patterns) in KERNELS.items():
        ranges = functions(patterns)
        counts = {level: count(kernel, disabled, ranges) for level, disabled in LEVELS.items()}
        ratio = counts["NEON"] / counts["baseline"] if counts["baseline"] else float("nan")
        print(f"{label:42} {counts['baseline']:12,} {counts['NEON']:12,} {ratio:15.2f}x")


if __name__ == "__main__":
    main()
