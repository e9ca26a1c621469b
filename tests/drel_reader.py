"""A reader for .drel files, written from the wire rules, to check what save() wrote."""

import struct


class Reader:
    def __init__(self, data):
        self.data = data
        self.pos = 0

    def byte(self):
        b = self.data[self.pos]
        self.pos += 1
        return b

    def boolean(self):
        b = self.byte()
        assert b in (0, 1), f"boolean byte {b} at {self.pos - 1}"
        return b == 1

    def varint(self):
        value = shift = 0
        while True:
            b = self.byte()
            value |= (b & 0x7F) << shift
            shift += 7
            if not b & 0x80:
                return value

    def sample(self):
        u = self.varint()
        assert u < 1 << 16
        return (u >> 1) ^ -(u & 1)

    def f64(self):
        (value,) = struct.unpack_from("<d", self.data, self.pos)
        self.pos += 8
        return value

    def text(self):
        n = self.varint()
        raw = self.data[self.pos : self.pos + n]
        self.pos += n
        return raw.decode("utf-8")

    def array(self, element):
        return [element() for _ in range(self.varint())]

    def record(self, **fields):
        return {name: read() for name, read in fields.items()}


SIGNAL_KINDS = ["Constant", "Sine", "Ramp", "MixedSignal", "Arbitrary"]


def read_settings(data):
    r = Reader(data)

    def lc_setting():
        return r.record(
            capacitance=r.f64, carrier_frequency=r.f64, clk_ticks_per_sample=r.varint, capacitor_bank_setting=r.varint
        )

    def coil():
        return r.record(
            name=r.text,
            inductance=r.f64,
            max_current=r.f64,
            max_carrier_frequency=r.f64,
            settings=lambda: r.array(lc_setting),
        )

    def machine_config():
        return r.record(
            supply_voltage=r.f64,
            num_coils=r.varint,
            coils=lambda: r.array(coil),
            capacitors=lambda: r.array(r.f64),
            possible_capacitances=lambda: r.array(r.f64),
            num_external_signal_sources=r.varint,
            smbus_psu_connected=r.boolean,
            num_temperature_sensors=r.varint,
            num_flow_rate_sensors=r.varint,
            safety_checks_enabled=r.boolean,
            max_intensity_setpoint=r.f64,
            max_current=r.f64,
            max_carrier_frequency=r.f64,
            max_temperature=r.f64,
            min_flowrate=r.f64,
            max_power=r.f64,
        )

    def signal():
        kind = SIGNAL_KINDS[r.varint()]
        params = {
            "Constant": lambda: r.record(value=r.f64),
            "Sine": lambda: r.record(amplitude=r.f64, frequency=r.f64, phase=r.f64, depth=r.f64),
            "Ramp": lambda: r.record(peak=r.f64, up_duration=r.f64, down_duration=r.f64),
            "MixedSignal": lambda: r.record(a_idx=r.varint, b_idx=r.varint),
            "Arbitrary": lambda: r.record(samples=lambda: r.array(r.sample)),
        }[kind]()
        return (kind, params)

    def source():
        return r.record(internal=r.varint, external=r.varint, external_selected=r.boolean)

    def channel():
        return r.record(
            enabled=r.boolean,
            amplitude1_source=source,
            amplitude2_source=source,
            modulation_source=source,
            coil_idx=r.varint,
            coil_setting_idx=r.varint,
        )

    settings = r.record(
        running_on_target_machine=r.boolean,
        machine_config=machine_config,
        intensity=r.f64,
        session_duration=r.f64,
        signals=lambda: r.array(signal),
        channel_a_settings=channel,
        channel_b_settings=channel,
        monitor_trace_visible=lambda: [r.boolean() for _ in range(16)],
        monitor_subsampling_factor=r.varint,
    )
    assert r.pos == len(data), f"{len(data) - r.pos} bytes left over"
    return settings


def varint(n):
    out = bytearray()
    while n >= 0x80:
        out.append(n & 0x7F | 0x80)
        n >>= 7
    return bytes(out + bytes([n]))


def write_settings(record):
    """The file of a drel record, written from the same wire rules: for files
    that pydrel's methods cannot compose."""
    import dataclasses

    def value(v, fixed=False):
        if isinstance(v, bool):
            return bytes([v])
        if isinstance(v, int):
            return varint(v)
        if isinstance(v, float):
            return struct.pack("<d", v)
        if isinstance(v, str):
            raw = v.encode("utf-8")
            return varint(len(raw)) + raw
        if isinstance(v, (tuple, list)):
            return (b"" if fixed else varint(len(v))) + b"".join(value(x) for x in v)
        if type(v).__name__ in SIGNAL_KINDS:
            return varint(SIGNAL_KINDS.index(type(v).__name__)) + fields(v)
        if dataclasses.is_dataclass(v):
            return fields(v)
        levels = [int(x) for x in v]  # a waveform's levels, zigzag-mapped
        return varint(len(levels)) + b"".join(varint((x << 1) ^ (x >> 15)) for x in levels)

    def fields(r):
        return b"".join(value(getattr(r, f.name), fixed=f.name == "monitor_trace_visible")
                        for f in dataclasses.fields(r))

    return fields(record)
