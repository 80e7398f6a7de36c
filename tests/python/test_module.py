import subprocess
import sys
import types

import numpy as np
import pytest

import vatel_sdr

# Every name the module adds, in registration order.
REGISTRATION_ORDER = [
    "CwEnvelopeDemod", "AmEnvelopeDemod", "SsbProductDemod", "FmQuadratureDemod",
    "PmQuadratureDemod", "BpskDemod", "QpskDemod", "QamDemod",
    "AmDsbMod", "CwKeyedMod", "FmPhaseAccumMod", "PmDirectPhaseMod", "SsbPhasingMod",
    "BpskMod", "QpskMod", "QamMod",
    "Ft8Mod", "Ft8Demod", "Ft8Codec", "Ft4Mod", "Ft4Demod", "Ft4Codec",
    "ft8_sync", "ft4_sync", "ft8_pack_standard", "ft8_pack_free_text", "ft8_pack_telemetry",
    "ft8_unpack",
    "VaricodeEncoder", "VaricodeDecoder", "Bpsk31Mod", "Qpsk31Mod", "Bpsk31Demod",
    "Bpsk31Decider", "Qpsk31Demod", "Psk31Stream",
    "psk31_sync", "best_psk31_sync",
    "OfdmConfig", "OfdmMod", "OfdmDemod", "OfdmRxFrame", "build_ofdm_rx_frame", "ofdm_sync",
    "generate_ofdm_preamble",
    "CodecCache", "FramePacket", "McsTable", "OfdmFrameMod", "OfdmFrameStreamDemod",
    "OfdmFrameDemod",
    "DvbTFrameParams", "DvbTFrame", "DvbTRxFrame", "TpsWord", "DvbTFrameMod", "DvbTFrameDemod",
    "DvbTSuperFrameParams", "DvbTSuperFrame", "DvbTRxSuperFrame", "DvbTSuperFrameMod",
    "DvbTSuperFrameDemod", "DvbTFrameStreamDemod",
    "nb_bandwidth_fs", "nb_bandwidth_occupied_hz", "dvb_t_cp_len", "dvb_t_max_rx_window_backoff",
    "dvb_t_tx_lowpass_suggested_taps", "dvb_t_tx_lowpass_group_delay",
    "dvb_t_tx_lowpass_fits_guard",
]
NO_CONSTRUCTOR = {"OfdmRxFrame", "DvbTFrame", "DvbTRxFrame", "TpsWord", "DvbTSuperFrame",
                  "DvbTRxSuperFrame"}
STANDARD_ATTRS = {"__name__", "__doc__", "__loader__", "__spec__", "__package__", "__file__",
                  "__all__"}


def test_all_follows_registration_order():
    names = vatel_sdr.__all__
    assert isinstance(names, list)
    assert names == REGISTRATION_ORDER


def test_module_holds_only_its_names():
    assert set(dir(vatel_sdr)) == set(vatel_sdr.__all__) | STANDARD_ATTRS
    assert vatel_sdr.__doc__ == ""
    assert not hasattr(vatel_sdr, "PanicException")


def test_classes_and_functions_report_their_modules():
    for name in vatel_sdr.__all__:
        obj = getattr(vatel_sdr, name)
        if isinstance(obj, type):
            assert obj.__module__ == "builtins"
            assert obj.__name__ == name and obj.__qualname__ == name
        else:
            assert isinstance(obj, types.BuiltinFunctionType)
            assert obj.__module__ == "vatel_sdr"


def test_classes_without_constructor_cannot_be_called():
    for name in NO_CONSTRUCTOR & set(vatel_sdr.__all__):
        with pytest.raises(TypeError):
            getattr(vatel_sdr, name)()


def test_second_import_is_the_same_module():
    import importlib

    again = importlib.import_module("vatel_sdr")
    assert again is vatel_sdr
    assert len(again.__all__) == len(set(again.__all__))


FRESH_IMPORT = """
import sys
import vatel_sdr
print(sorted(m for m in sys.modules if m == "numpy" or m.startswith("numpy.")))
print(len(vatel_sdr.__all__))
vatel_sdr.BpskMod(8.0, 0.0, 1.0)
print("numpy" in sys.modules)
"""


def test_import_in_a_fresh_interpreter_reads_no_numpy_until_needed():
    # Importing the module (and building an object) loads no part of NumPy;
    # the names are the same as in this interpreter.
    out = subprocess.run([sys.executable, "-c", FRESH_IMPORT], capture_output=True, text=True,
                         check=True)
    assert out.stdout.split("\n") == ["[]", str(len(REGISTRATION_ORDER)), "False", ""]


def test_text_signatures():
    assert vatel_sdr.BpskMod.__text_signature__ == "(fs, rf_hz, gain)"
    assert vatel_sdr.BpskMod.process.__text_signature__ == "($self, bits)"
    assert vatel_sdr.BpskDemod.process.__text_signature__ == "($self, iq)"
    assert vatel_sdr.QpskDemod.set_gain.__text_signature__ == "($self, g)"
