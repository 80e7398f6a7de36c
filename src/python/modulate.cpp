// Python classes of the single-carrier and analog modulators.
#include "modulate/am.hpp"
#include "modulate/bpsk.hpp"
#include "modulate/cw.hpp"
#include "modulate/fm.hpp"
#include "modulate/pm.hpp"
#include "modulate/qam.hpp"
#include "modulate/ssb.hpp"
#include "python/registry.hpp"

namespace vatel::python {

VATEL_PY_CLASS(vatel::modulate::AmDsbMod);
VATEL_PY_CLASS(vatel::modulate::CwKeyedMod);
VATEL_PY_CLASS(vatel::modulate::FmPhaseAccumMod);
VATEL_PY_CLASS(vatel::modulate::PmDirectPhaseMod);
VATEL_PY_CLASS(vatel::modulate::SsbPhasingMod);
VATEL_PY_CLASS(vatel::modulate::BpskMod);
VATEL_PY_CLASS(vatel::modulate::QpskMod);
VATEL_PY_CLASS(vatel::modulate::QamMod);

namespace modulate {

using namespace vatel::modulate;

// The docs below are the user's reference: units, dtypes, lengths and the
// errors of each call (the conventions all calls share head the type stubs).

const ClassDefBase& am_dsb_mod() {
  static const ClassDef<AmDsbMod> def =
      ClassDef<AmDsbMod>::make(
          "AmDsbMod(fs, rf_hz, carrier_level, modulation_index)",
          "AM double-sideband modulator with carrier: each output sample is (carrier_level + "
          "modulation_index * audio) * gain on a carrier at rf_hz Hz (0: real baseband) for the "
          "sample rate fs in Hz. The gain starts at 1 and the clamp off; the carrier phase runs "
          "on across calls. No value is validated.")
          .init<&construct<AmDsbMod, float, float, float, float>>()
          .def<&AmDsbMod::process>("process($self, audio)",
                                   "Modulates audio (float32 array) into a complex64 array of the "
                                   "same length.")
          .def<&AmDsbMod::set_gain>("set_gain($self, g)",
                                    "Sets the output gain g (a factor) for later samples.")
          .def<&AmDsbMod::set_clamp>("set_clamp($self, on)",
                                     "When on (a bool) is True, limits the envelope to -1..1 "
                                     "before the gain; False lets it through (a negative "
                                     "envelope reverses the carrier).");
  return def;
}

const ClassDefBase& cw_keyed_mod() {
  static const ClassDef<CwKeyedMod> def =
      ClassDef<CwKeyedMod>::make(
          "CwKeyedMod(sample_rate, tone_hz, rise_ms, fall_ms)",
          "CW modulator: a keying signal, limited to 0..1, drives an envelope that rises with the "
          "time constant rise_ms and falls with fall_ms (milliseconds, at least 0.1), on a tone at "
          "tone_hz Hz for the sample rate sample_rate in Hz. The gain starts at 1; tone phase and "
          "envelope run on across calls.")
          .init<&construct<CwKeyedMod, float, float, float, float>>()
          .def<&CwKeyedMod::process>("process($self, audio)",
                                     "Modulates the keying envelope (float32 array, nominally 0 "
                                     "or 1) into a complex64 array of the same length.")
          .def<&CwKeyedMod::set_gain>("set_gain($self, g)",
                                      "Sets the output gain g (a factor) for later samples.");
  return def;
}

const ClassDefBase& fm_phase_accum_mod() {
  static const ClassDef<FmPhaseAccumMod> def =
      ClassDef<FmPhaseAccumMod>::make(
          "FmPhaseAccumMod(sample_rate, deviation_hz, rf_hz)",
          "FM modulator: an audio value x moves the frequency by x * deviation_hz Hz (a unit "
          "amplitude phasor advanced per sample), on a carrier at rf_hz Hz (0: baseband) for the "
          "sample rate sample_rate in Hz. The gain starts at 1; the phase runs on across calls. "
          "No value is validated.")
          .init<&construct<FmPhaseAccumMod, float, float, float>>()
          .def<&FmPhaseAccumMod::process>("process($self, audio)",
                                          "Modulates audio (float32 array) into a complex64 array "
                                          "of the same length, of magnitude gain.")
          .def<&FmPhaseAccumMod::set_gain>("set_gain($self, g)",
                                           "Sets the output gain g (a factor) for later calls.")
          .def<&FmPhaseAccumMod::set_deviation>("set_deviation($self, hz)",
                                                "Sets the peak deviation in Hz per unit of audio, "
                                                "from the next call on; the phase is kept.");
  return def;
}

const ClassDefBase& pm_direct_phase_mod() {
  static const ClassDef<PmDirectPhaseMod> def =
      ClassDef<PmDirectPhaseMod>::make(
          "PmDirectPhaseMod(sample_rate, kp_rad_per_unit, rf_hz)",
          "Phase modulator: an audio value x sets the phase to x * kp_rad_per_unit radians "
          "directly (nothing accumulates), on a carrier at rf_hz Hz (0: baseband) for the sample "
          "rate sample_rate in Hz. The gain starts at 1; the carrier phase runs on across calls.")
          .init<&construct<PmDirectPhaseMod, float, float, float>>()
          .def<&PmDirectPhaseMod::process>("process($self, audio)",
                                           "Modulates audio (float32 array) into a complex64 "
                                           "array of the same length, of magnitude gain.")
          .def<&PmDirectPhaseMod::set_gain>("set_gain($self, g)",
                                            "Sets the output gain g (a factor) for later calls.")
          .def<&PmDirectPhaseMod::set_sensitivity>("set_sensitivity($self, kp)",
                                                   "Sets the phase sensitivity in radians per "
                                                   "unit of audio, from the next call on.");
  return def;
}

const ClassDefBase& ssb_phasing_mod() {
  static const ClassDef<SsbPhasingMod> def =
      ClassDef<SsbPhasingMod>::make(
          "SsbPhasingMod(fs, audio_bw_hz, audio_if_hz, rf_hz, usb)",
          "Single-sideband modulator by the phasing method: the audio is multiplied by a "
          "quadrature oscillator at audio_if_hz Hz, each branch low-passed to audio_bw_hz Hz, and "
          "the pair mixed onto rf_hz Hz, landing above rf_hz when usb (a bool) is True and "
          "mirrored below it when False (audio_if_hz 0 leaves the low-passed audio on both "
          "sides); fs is the sample rate in Hz. State runs on across calls.")
          .init<&construct<SsbPhasingMod, float, float, float, float, bool>>()
          .def<&SsbPhasingMod::process>("process($self, audio)",
                                        "Modulates audio (float32 array) into a complex64 array "
                                        "of the same length.");
  return def;
}

const ClassDefBase& bpsk_mod() {
  static const ClassDef<BpskMod> def =
      ClassDef<BpskMod>::make(
          "BpskMod(fs, rf_hz, gain)",
          "BPSK modulator: one sample per bit, bit 0 as +1 and bit 1 as -1, times gain, on a "
          "carrier at rf_hz Hz (0: baseband) for the sample rate fs in Hz; no pulse shaping. The "
          "carrier phase runs on across calls. No value is validated.")
          .init<&construct<BpskMod, float, float, float>>()
          .def<&BpskMod::process>("process($self, bits)",
                                  "Modulates bits (uint8 array, one bit per byte, lowest bit "
                                  "read) into a complex64 array of the same length.")
          .def<&BpskMod::set_gain>("set_gain($self, g)",
                                   "Sets the output gain g (a factor) for later calls.");
  return def;
}

const ClassDefBase& qpsk_mod() {
  static const ClassDef<QpskMod> def =
      ClassDef<QpskMod>::make(
          "QpskMod(fs, rf_hz, gain)",
          "QPSK modulator: one sample per pair of bits, the first bit on the real axis and the "
          "second on the imaginary axis (0 as +0.7071, 1 as -0.7071), times gain, on a carrier "
          "at rf_hz Hz (0: baseband) for the sample rate fs in Hz. The carrier phase runs on "
          "across calls.")
          .init<&construct<QpskMod, float, float, float>>()
          .def<&QpskMod::process>("process($self, bits)",
                                  "Modulates bits (uint8 array, one bit per byte, lowest bit "
                                  "read) into a complex64 array of len(bits) // 2 samples; an "
                                  "odd last bit is dropped, not kept for the next call.")
          .def<&QpskMod::set_gain>("set_gain($self, g)",
                                   "Sets the output gain g (a factor) for later calls.");
  return def;
}

const ClassDefBase& qam_mod() {
  static const ClassDef<QamMod> def =
      ClassDef<QamMod>::make(
          "QamMod(order, fs, rf_hz, gain)",
          "Square QAM modulator of order 16, 64 or 256: Gray-coded per axis, unit average power, "
          "times gain, on a carrier at rf_hz Hz (0: baseband) for the sample rate fs in Hz. "
          "Raises ValueError \"QamMod: order must be 16, 64, or 256\" for another order and "
          "OverflowError for a negative one.")
          .init<&QamMod::create>()
          .def<&QamMod::process>("process($self, bits)",
                                 "Modulates bits (uint8 array, one bit per byte, lowest bit "
                                 "read; log2(order) per symbol, real-axis bits first) into a "
                                 "complex64 array of len(bits) // log2(order) samples; leftover "
                                 "bits are dropped.")
          .def<&QamMod::set_gain>("set_gain($self, g)",
                                  "Sets the output gain g (a factor) for later calls.");
  return def;
}

}  // namespace modulate
}  // namespace vatel::python
