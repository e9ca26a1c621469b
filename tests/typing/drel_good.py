"""Correct uses of drel, which mypy --strict and pyright must accept as they are."""

import pathlib

import drel


def walk(path: pathlib.Path) -> list[str]:
    settings = drel.load(path)
    lines: list[str] = ["same" if settings == drel.loads(path.read_bytes()) else "NaN somewhere"]
    for signal in settings.signals:
        match signal:
            case drel.Sine(amplitude=a, frequency=f):
                lines.append(f"sine of {f} Hz at {a}")
            case drel.Arbitrary(samples=levels):
                lines.append(f"{len(levels)} levels up to {int(levels.max())}")
            case drel.Constant(value) | drel.Ramp(peak=value):
                lines.append(str(value))
            case drel.MixedSignal(a_idx, b_idx):
                lines.append(f"mix of {a_idx} and {b_idx}")
    coil: drel.Coil = settings.machine_config.coils[0]
    lines.append(f"{coil.name}: {settings.channel_a_settings.amplitude1_source.internal}")
    lines += [f"{finding.severity}: {finding.message}" for finding in settings.check()]
    protocol = settings.to_protocol()
    protocol.set_stimulation_intensity(settings.intensity / 2)
    return [*lines, str(settings), str(settings.num_samples)]
