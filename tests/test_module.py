import importlib
import inspect
import operator
import subprocess
import sys
import weakref

import pytest

import pydrel


def test_module_attributes():
    assert pydrel.__all__ == ["Protocol", "Channel", "Coil"]
    assert pydrel.__doc__ == ""
    assert [name for name in vars(pydrel) if not name.startswith("__")] == ["Protocol", "Channel", "Coil"]


@pytest.mark.parametrize("cls", [pydrel.Protocol, pydrel.Coil, pydrel.Channel])
def test_classes_are_builtins_heap_types(cls):
    assert cls.__module__ == "builtins"
    assert repr(cls) == f"<class 'builtins.{cls.__qualname__}'>"
    assert cls.__bases__ == (object,)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_reimport_returns_the_same_module_and_classes():
    protocol_cls = pydrel.Protocol
    del sys.modules["pydrel"]
    try:
        again = importlib.import_module("pydrel")
        assert again is pydrel
        assert again.Protocol is protocol_cls
        assert again.__all__ == ["Protocol", "Channel", "Coil"]
    finally:
        sys.modules["pydrel"] = pydrel


def test_import_does_not_import_numpy():
    code = "import sys, pydrel; pydrel.Protocol(); print('numpy' in sys.modules)"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "False"


def test_legacy_subinterpreter_is_refused():
    # A subinterpreter that shares the main one's GIL gets as far as the module's
    # own initialisation, which refuses any interpreter but the first.
    _interpreters = pytest.importorskip("_interpreters")
    interp = _interpreters.create(_interpreters.new_config("legacy"))
    try:
        error = _interpreters.run_string(interp, "import pydrel")
        assert error.type.__name__ == "ImportError"
        assert "does not support subinterpreters" in error.msg
    finally:
        _interpreters.destroy(interp)


def test_isolated_subinterpreter_is_refused():
    interpreters = pytest.importorskip("concurrent.interpreters")
    interp = interpreters.create()
    try:
        with pytest.raises(interpreters.ExecutionFailed, match="ImportError"):
            interp.exec("import pydrel")
    finally:
        interp.close()


@pytest.mark.parametrize(
    "member, value, text",
    [
        (pydrel.Coil.A1, 0, "Coil.A1"),
        (pydrel.Coil.A2, 1, "Coil.A2"),
        (pydrel.Coil.B1, 2, "Coil.B1"),
        (pydrel.Coil.B2, 3, "Coil.B2"),
        (pydrel.Channel.A, 0, "Channel.A"),
        (pydrel.Channel.B, 1, "Channel.B"),
    ],
)
def test_members(member, value, text):
    assert int(member) == value
    assert repr(member) == text
    assert str(member) == text
    assert member is getattr(type(member), text.split(".")[1])
    with pytest.raises(TypeError):
        operator.index(member)


def test_members_compare_and_hash_by_identity():
    assert pydrel.Coil.A1 == pydrel.Coil.A1
    assert pydrel.Coil.A1 != 0
    assert pydrel.Coil.A1 != pydrel.Channel.A
    assert len({pydrel.Coil.A1, pydrel.Coil.A1, pydrel.Coil.A2}) == 2


@pytest.mark.parametrize("cls", [pydrel.Coil, pydrel.Channel])
def test_enumerations_cannot_be_instantiated(cls):
    with pytest.raises(TypeError):
        cls()


@pytest.mark.parametrize("obj", [pydrel.Protocol(), pydrel.Coil.A1, pydrel.Channel.B])
def test_no_instance_dict_and_no_weak_references(obj):
    with pytest.raises(AttributeError):
        obj.note = 1
    with pytest.raises(TypeError):
        weakref.ref(obj)


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((1,), {}, "Protocol.__new__() takes 0 positional arguments but 1 was given"),
        ((1, 2), {}, "Protocol.__new__() takes 0 positional arguments but 2 were given"),
        ((), {"a": 1}, "Protocol.__new__() got an unexpected keyword argument 'a'"),
        ((), {"b": 1, "a": 2}, "Protocol.__new__() got an unexpected keyword argument 'b'"),
    ],
)
def test_protocol_constructor_takes_no_arguments(args, kwargs, message):
    with pytest.raises(TypeError) as e:
        pydrel.Protocol(*args, **kwargs)
    assert str(e.value) == message


SIGNATURES = {
    "set_stimulation_intensity": "(intensity)",
    "set_session_duration": "(duration)",
    "enable_channel": "(channel)",
    "set_amplitude_source": "(coil, index, external=False)",
    "set_modulation_source": "(channel, index, external=False)",
    "add_constant_signal": "(value)",
    "add_sine_signal": "(amplitude, frequency, phase=0.0, depth=1.0)",
    "add_ramp_signal": "(peak, up_duration, down_duration)",
    "add_mixed_signal": "(a_idx, b_idx)",
    "add_arbitrary_signal": "(samples)",
    "get_num_samples": "()",
    "get_sampling_rate": "()",
    "save": "(filepath)",
}


def test_method_table_in_order():
    methods = [name for name, value in vars(pydrel.Protocol).items() if callable(value) and not name.startswith("__")]
    assert methods == list(SIGNATURES)


@pytest.mark.parametrize("name, signature", SIGNATURES.items())
def test_method_signatures(name, signature):
    method = getattr(pydrel.Protocol, name)
    assert method.__doc__ is None
    assert str(inspect.signature(getattr(pydrel.Protocol(), name))) == signature


def test_protocol_signature_and_repr():
    assert str(inspect.signature(pydrel.Protocol)) == "()"
    p = pydrel.Protocol()
    assert repr(p).startswith("<builtins.Protocol object at 0x")


def test_protocols_are_independent():
    a, b = pydrel.Protocol(), pydrel.Protocol()
    a.set_session_duration(10.0)
    a.enable_channel(pydrel.Channel.B)
    assert str(b) == str(pydrel.Protocol())
    assert b.get_num_samples() == 300000
