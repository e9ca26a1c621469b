"""Times the hot paths on the longest session (1800 s, 9,000,000 samples).

    ./dev bench
"""

import os
import tempfile
import time

import numpy as np

import pydrel


def best_of(repeats, action):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        action()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    n = 9_000_000
    rng = np.random.default_rng(1)
    contiguous = rng.random(n)
    strided = rng.random(2 * n)[::2]
    reversed_view = contiguous[::-1]

    def fresh():
        p = pydrel.Protocol()
        p.set_session_duration(1800.0)
        return p

    rows = []
    for name, array in [("contiguous", contiguous), ("strided", strided), ("reversed", reversed_view)]:
        p = fresh()
        seconds = best_of(5, lambda: p.add_arbitrary_signal(array))
        rows.append((f"add_arbitrary_signal, {name}", seconds, n / seconds / 1e6, "M samples/s"))

    p = fresh()
    p.add_arbitrary_signal(contiguous)
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "bench.drel")
        seconds = best_of(5, lambda: p.save(path))
        size = os.path.getsize(path)
    rows.append(("save (encode + write)", seconds, size / seconds / 1e6, "MB/s"))

    text_len = len(str(p))
    seconds = best_of(3, lambda: str(p))
    rows.append(("str() text form", seconds, text_len / seconds / 1e6, "M chars/s"))

    for name, seconds, rate, unit in rows:
        print(f"{name:38s} {seconds * 1e3:9.1f} ms  {rate:8.1f} {unit}")


if __name__ == "__main__":
    main()
