// Python classes of the single-carrier and analog demodulators.
#include "demodulate/am.hpp"
#include "demodulate/bpsk.hpp"
#include "demodulate/cw.hpp"
#include "demodulate/fm.hpp"
#include "demodulate/pm.hpp"
#include "demodulate/qam.hpp"
#include "demodulate/ssb.hpp"
#include "python/registry.hpp"

namespace vatel::python {

VATEL_PY_CLASS(vatel::demodulate::CwEnvelopeDemod);
VATEL_PY_CLASS(vatel::demodulate::AmEnvelopeDemod);
VATEL_PY_CLASS(vatel::demodulate::SsbProductDemod);
VATEL_PY_CLASS(vatel::demodulate::FmQuadratureDemod);
VATEL_PY_CLASS(vatel::demodulate::PmQuadratureDemod);
VATEL_PY_CLASS(vatel::demodulate::BpskDemod);
VATEL_PY_CLASS(vatel::demodulate::QpskDemod);
VATEL_PY_CLASS(vatel::demodulate::QamDemod);

namespace demodulate {

using namespace vatel::demodulate;

const ClassDefBase& cw_envelope_demod() {
  static const ClassDef<CwEnvelopeDemod> def =
      ClassDef<CwEnvelopeDemod>::make("CwEnvelopeDemod(sample_rate, tone_hz, env_bw_hz)",
                                      "CW envelope detector (tone_hz is accepted and not used).")
          .init<&construct<CwEnvelopeDemod, float, float, float>>()
          .def<&CwEnvelopeDemod::process>("process($self, iq)", "Returns the float32 envelope.")
          .def<&CwEnvelopeDemod::set_gain>("set_gain($self, g)", "Sets the output gain.");
  return def;
}

const ClassDefBase& am_envelope_demod() {
  static const ClassDef<AmEnvelopeDemod> def =
      ClassDef<AmEnvelopeDemod>::make("AmEnvelopeDemod(fs, audio_bw_hz, abs_approx=False)",
                                      "AM envelope demodulator with audio low-pass and DC blocker.")
          .init<&construct<AmEnvelopeDemod, float, float, bool>>()
          .def<&AmEnvelopeDemod::process>("process($self, iq)", "Returns float32 audio.");
  return def;
}

const ClassDefBase& ssb_product_demod() {
  static const ClassDef<SsbProductDemod> def =
      ClassDef<SsbProductDemod>::make("SsbProductDemod(fs, bfo_hz, audio_bw_hz)",
                                      "SSB product detector with a beat-frequency oscillator.")
          .init<&construct<SsbProductDemod, float, float, float>>()
          .def<&SsbProductDemod::process>("process($self, iq)", "Returns float32 audio.");
  return def;
}

const ClassDefBase& fm_quadrature_demod() {
  static const ClassDef<FmQuadratureDemod> def =
      ClassDef<FmQuadratureDemod>::make("FmQuadratureDemod(fs, dev_hz, audio_bw_hz)",
                                        "FM quadrature discriminator with audio low-pass.")
          .init<&construct<FmQuadratureDemod, float, float, float>>()
          .def<&FmQuadratureDemod::process>("process($self, iq)", "Returns float32 audio.");
  return def;
}

const ClassDefBase& pm_quadrature_demod() {
  static const ClassDef<PmQuadratureDemod> def =
      ClassDef<PmQuadratureDemod>::make("PmQuadratureDemod(fs, k, audio_bw_hz)",
                                        "PM demodulator: k times the phase step between samples.")
          .init<&construct<PmQuadratureDemod, float, float, float>>()
          .def<&PmQuadratureDemod::process>("process($self, iq)", "Returns float32 audio.");
  return def;
}

const ClassDefBase& bpsk_demod() {
  static const ClassDef<BpskDemod> def =
      ClassDef<BpskDemod>::make("BpskDemod(gain)", "BPSK hard demodulator of baseband samples.")
          .init<&construct<BpskDemod, float>>()
          .def<&BpskDemod::process>("process($self, iq)", "Decides one bit per sample.")
          .def<&BpskDemod::set_gain>("set_gain($self, g)", "Sets the input gain.");
  return def;
}

const ClassDefBase& qpsk_demod() {
  static const ClassDef<QpskDemod> def =
      ClassDef<QpskDemod>::make("QpskDemod(gain)", "QPSK hard demodulator of baseband samples.")
          .init<&construct<QpskDemod, float>>()
          .def<&QpskDemod::process>("process($self, iq)", "Decides two bits per sample.")
          .def<&QpskDemod::set_gain>("set_gain($self, g)", "Sets the input gain.");
  return def;
}

const ClassDefBase& qam_demod() {
  static const ClassDef<QamDemod> def =
      ClassDef<QamDemod>::make("QamDemod(order, gain)", "Square QAM hard demodulator.")
          .init<&QamDemod::create>()
          .def<&QamDemod::process>("process($self, iq)", "Decides log2(order) bits per sample.")
          .def<&QamDemod::set_gain>("set_gain($self, g)", "Sets the input gain.");
  return def;
}

}  // namespace demodulate
}  // namespace vatel::python
