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

const ClassDefBase& am_dsb_mod() {
  static const ClassDef<AmDsbMod> def =
      ClassDef<AmDsbMod>::make("AmDsbMod(fs, rf_hz, carrier_level, modulation_index)",
                               "AM double-sideband modulator with carrier.")
          .init<&construct<AmDsbMod, float, float, float, float>>()
          .def<&AmDsbMod::process>("process($self, audio)", "Modulates float32 audio.")
          .def<&AmDsbMod::set_gain>("set_gain($self, g)", "Sets the output gain.")
          .def<&AmDsbMod::set_clamp>("set_clamp($self, on)", "Limits the envelope to 0..2 when on.");
  return def;
}

const ClassDefBase& cw_keyed_mod() {
  static const ClassDef<CwKeyedMod> def =
      ClassDef<CwKeyedMod>::make("CwKeyedMod(sample_rate, tone_hz, rise_ms, fall_ms)",
                                 "CW modulator keyed by a float32 envelope (0..1), with shaped edges.")
          .init<&construct<CwKeyedMod, float, float, float, float>>()
          .def<&CwKeyedMod::process>("process($self, audio)", "Modulates the keying envelope.")
          .def<&CwKeyedMod::set_gain>("set_gain($self, g)", "Sets the output gain.");
  return def;
}

const ClassDefBase& fm_phase_accum_mod() {
  static const ClassDef<FmPhaseAccumMod> def =
      ClassDef<FmPhaseAccumMod>::make("FmPhaseAccumMod(sample_rate, deviation_hz, rf_hz)",
                                      "FM modulator by phase accumulation.")
          .init<&construct<FmPhaseAccumMod, float, float, float>>()
          .def<&FmPhaseAccumMod::process>("process($self, audio)", "Modulates float32 audio.")
          .def<&FmPhaseAccumMod::set_gain>("set_gain($self, g)", "Sets the output gain.")
          .def<&FmPhaseAccumMod::set_deviation>("set_deviation($self, hz)", "Sets the peak deviation.");
  return def;
}

const ClassDefBase& pm_direct_phase_mod() {
  static const ClassDef<PmDirectPhaseMod> def =
      ClassDef<PmDirectPhaseMod>::make("PmDirectPhaseMod(sample_rate, kp_rad_per_unit, rf_hz)",
                                       "Phase modulator: audio sets the carrier phase directly.")
          .init<&construct<PmDirectPhaseMod, float, float, float>>()
          .def<&PmDirectPhaseMod::process>("process($self, audio)", "Modulates float32 audio.")
          .def<&PmDirectPhaseMod::set_gain>("set_gain($self, g)", "Sets the output gain.")
          .def<&PmDirectPhaseMod::set_sensitivity>("set_sensitivity($self, kp)",
                                                   "Sets the phase sensitivity in radians per unit.");
  return def;
}

const ClassDefBase& ssb_phasing_mod() {
  static const ClassDef<SsbPhasingMod> def =
      ClassDef<SsbPhasingMod>::make("SsbPhasingMod(fs, audio_bw_hz, audio_if_hz, rf_hz, usb)",
                                    "Single-sideband modulator by the phasing method.")
          .init<&construct<SsbPhasingMod, float, float, float, float, bool>>()
          .def<&SsbPhasingMod::process>("process($self, audio)", "Modulates float32 audio.");
  return def;
}

const ClassDefBase& bpsk_mod() {
  static const ClassDef<BpskMod> def =
      ClassDef<BpskMod>::make("BpskMod(fs, rf_hz, gain)",
                              "BPSK modulator: one sample per bit, mixed onto a carrier at rf_hz.")
          .init<&construct<BpskMod, float, float, float>>()
          .def<&BpskMod::process>("process($self, bits)", "Modulates bits (uint8, one per byte).")
          .def<&BpskMod::set_gain>("set_gain($self, g)", "Sets the output gain.");
  return def;
}

const ClassDefBase& qpsk_mod() {
  static const ClassDef<QpskMod> def =
      ClassDef<QpskMod>::make("QpskMod(fs, rf_hz, gain)",
                              "QPSK modulator: one sample per pair of bits, mixed onto a carrier.")
          .init<&construct<QpskMod, float, float, float>>()
          .def<&QpskMod::process>("process($self, bits)", "Modulates bits (uint8, one per byte).")
          .def<&QpskMod::set_gain>("set_gain($self, g)", "Sets the output gain.");
  return def;
}

const ClassDefBase& qam_mod() {
  static const ClassDef<QamMod> def =
      ClassDef<QamMod>::make("QamMod(order, fs, rf_hz, gain)",
                             "Square QAM modulator (order 16, 64 or 256), Gray-coded per axis.")
          .init<&QamMod::create>()
          .def<&QamMod::process>("process($self, bits)", "Modulates bits (uint8, one per byte).")
          .def<&QamMod::set_gain>("set_gain($self, g)", "Sets the output gain.");
  return def;
}

}  // namespace modulate
}  // namespace vatel::python
