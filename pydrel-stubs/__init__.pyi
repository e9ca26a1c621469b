"""Compose a stimulation protocol for a two-channel, four-coil stimulator and
save it as a .drel file.

A check that fails raises ``pyo3_runtime.PanicException``, which derives from
``BaseException`` (not ``Exception``), like ``SystemExit``: it is not a module
attribute; catch it with ``except BaseException``.
"""

from typing import ClassVar, SupportsFloat, SupportsIndex, final

import numpy
import numpy.typing

__all__ = ["Protocol", "Channel", "Coil"]


@final
class Coil:
    """One of the four coils: A1 and A2 on channel A, B1 and B2 on channel B.
    ``int()`` gives 0 to 3. The class cannot be instantiated."""

    A1: ClassVar[Coil]
    A2: ClassVar[Coil]
    B1: ClassVar[Coil]
    B2: ClassVar[Coil]
    def __int__(self) -> int: ...

@final
class Channel:
    """One of the two channels, A and B. ``int()`` gives 0 or 1. The class
    cannot be instantiated."""

    A: ClassVar[Channel]
    B: ClassVar[Channel]
    def __int__(self) -> int: ...

@final
class Protocol:
    """One stimulation protocol: 60 s, intensity 0.0, channel A on, no signals.

    ``str()`` shows the whole protocol as indented text. A call made on the
    protocol from inside another call on it raises RuntimeError; running out
    of memory raises MemoryError; a failed call leaves the protocol as it was
    (but ``save`` fills an empty signal table first).
    """

    def __new__(cls) -> Protocol: ...
    def set_stimulation_intensity(self, intensity: SupportsFloat | SupportsIndex) -> None:
        """Intensity as a fraction of full scale, 0.0 to 1.0.

        Raises PanicException outside that range or for NaN."""
    def set_session_duration(self, duration: SupportsFloat | SupportsIndex) -> None:
        """Session length in seconds, 0.01 to 1800.0.

        Raises PanicException outside that range or for NaN."""
    def enable_channel(self, channel: Channel) -> None:
        """Switches a channel on; channels are never switched off."""
    def set_amplitude_source(self, coil: Coil, index: SupportsIndex, external: bool | numpy.bool = False) -> None:
        """Points a coil's amplitude at signal `index` of the table, or at
        external input `index` when `external` is true. Indices are not checked.

        Raises OverflowError for a negative index."""
    def set_modulation_source(
        self, channel: Channel, index: SupportsIndex, external: bool | numpy.bool = False
    ) -> None:
        """Points a channel's modulation at signal `index`, or at external
        input `index` when `external` is true. Indices are not checked.

        Raises OverflowError for a negative index."""
    def add_constant_signal(self, value: SupportsFloat | SupportsIndex) -> int:
        """Appends a constant signal; returns its index in the table."""
    def add_sine_signal(
        self,
        amplitude: SupportsFloat | SupportsIndex,
        frequency: SupportsFloat | SupportsIndex,
        phase: SupportsFloat | SupportsIndex = 0.0,
        depth: SupportsFloat | SupportsIndex = 1.0,
    ) -> int:
        """Appends a sine signal; returns its index in the table."""
    def add_ramp_signal(
        self,
        peak: SupportsFloat | SupportsIndex,
        up_duration: SupportsFloat | SupportsIndex,
        down_duration: SupportsFloat | SupportsIndex,
    ) -> int:
        """Appends a ramp signal (durations in seconds); returns its index."""
    def add_mixed_signal(self, a_idx: SupportsIndex, b_idx: SupportsIndex) -> int:
        """Appends a mix of two signals of the table (indices not checked);
        returns its index.

        Raises OverflowError for a negative index."""
    def add_arbitrary_signal(self, samples: numpy.typing.NDArray[numpy.float64]) -> int:
        """Appends a waveform: a 1-D float64 array of ``get_num_samples()``
        fractions in [0.0, 1.0], in any layout, stored as 16-bit levels.
        Returns its index.

        Raises TypeError for anything but such an array, PanicException for
        the wrong length or a sample outside [0.0, 1.0] (the first one)."""
    def get_num_samples(self) -> int:
        """The session's sample count: ceil(duration x 5000)."""
    def get_sampling_rate(self) -> float:
        """5000.0 samples per second."""
    def save(self, filepath: str) -> None:
        """Writes the protocol to `filepath`, a str ending in ".drel" (use
        ``os.fspath()`` for path objects). Fills an empty signal table with a
        constant 0.0 signal first.

        Raises PanicException for another suffix or a failing file operation."""
