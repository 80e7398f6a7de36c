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

// The docs below are the user's reference: units, dtypes, lengths and the
// errors of each call (the conventions all calls share head the type stubs).

const ClassDefBase& cw_envelope_demod() {
  static const ClassDef<CwEnvelopeDemod> def =
      ClassDef<CwEnvelopeDemod>::make(
          "CwEnvelopeDemod(sample_rate, tone_hz, env_bw_hz)",
          "CW envelope detector: the magnitude of each sample, smoothed by a one-pole filter of "
          "bandwidth env_bw_hz Hz (at least 1) at the sample rate sample_rate in Hz, times the "
          "gain (1 to start with). tone_hz must be a number but is not used. The smoother runs "
          "on across calls.")
          .init<&construct<CwEnvelopeDemod, float, float, float>>()
          .def<&CwEnvelopeDemod::process>("process($self, iq)",
                                          "Returns the envelope of iq (complex64 array) as a "
                                          "float32 array of the same length.")
          .def<&CwEnvelopeDemod::set_gain>("set_gain($self, g)",
                                           "Sets the output gain g (a factor) for later samples.");
  return def;
}

const ClassDefBase& am_envelope_demod() {
  static const ClassDef<AmEnvelopeDemod> def =
      ClassDef<AmEnvelopeDemod>::make(
          "AmEnvelopeDemod(fs, audio_bw_hz, abs_approx=False)",
          "AM envelope demodulator: the power of each sample low-passed to audio_bw_hz Hz, its "
          "square root, then a DC blocker (about 2 Hz), at the sample rate fs in Hz. With "
          "abs_approx True the magnitude estimate 0.9482 |I| + 0.392 |Q| is filtered instead "
          "of the power, with no square root. State runs on across calls.")
          .init<&construct<AmEnvelopeDemod, float, float, bool>>()
          .def<&AmEnvelopeDemod::process>("process($self, iq)",
                                          "Demodulates iq (complex64 array) into float32 audio of "
                                          "the same length.");
  return def;
}

const ClassDefBase& ssb_product_demod() {
  static const ClassDef<SsbProductDemod> def =
      ClassDef<SsbProductDemod>::make(
          "SsbProductDemod(fs, bfo_hz, audio_bw_hz)",
          "SSB product detector: the real part of the input mixed down by a beat-frequency "
          "oscillator at bfo_hz Hz, low-passed to audio_bw_hz Hz and DC-blocked, at the sample "
          "rate fs in Hz. State runs on across calls.")
          .init<&construct<SsbProductDemod, float, float, float>>()
          .def<&SsbProductDemod::process>("process($self, iq)",
                                          "Demodulates iq (complex64 array) into float32 audio of "
                                          "the same length.");
  return def;
}

const ClassDefBase& fm_quadrature_demod() {
  static const ClassDef<FmQuadratureDemod> def =
      ClassDef<FmQuadratureDemod>::make(
          "FmQuadratureDemod(fs, dev_hz, audio_bw_hz)",
          "FM quadrature discriminator: the phase step between consecutive samples in radians, "
          "divided by max(dev_hz, 1), low-passed to audio_bw_hz Hz at the sample rate fs in Hz "
          "(fs enters only the low-pass). State runs on across calls.")
          .init<&construct<FmQuadratureDemod, float, float, float>>()
          .def<&FmQuadratureDemod::process>("process($self, iq)",
                                            "Demodulates iq (complex64 array) into float32 audio "
                                            "of the same length.");
  return def;
}

const ClassDefBase& pm_quadrature_demod() {
  static const ClassDef<PmQuadratureDemod> def =
      ClassDef<PmQuadratureDemod>::make(
          "PmQuadratureDemod(fs, k, audio_bw_hz)",
          "PM demodulator: k times the phase step between consecutive samples in radians (not the "
          "absolute phase), low-passed to audio_bw_hz Hz at the sample rate fs in Hz. State runs "
          "on across calls.")
          .init<&construct<PmQuadratureDemod, float, float, float>>()
          .def<&PmQuadratureDemod::process>("process($self, iq)",
                                            "Demodulates iq (complex64 array) into float32 audio "
                                            "of the same length.");
  return def;
}

const ClassDefBase& bpsk_demod() {
  static const ClassDef<BpskDemod> def =
      ClassDef<BpskDemod>::make(
          "BpskDemod(gain)",
          "BPSK hard demodulator of baseband samples (carrier already removed, one sample per "
          "bit): bit 1 where gain * re(sample) < 0, else 0. Keeps no state but the gain.")
          .init<&construct<BpskDemod, float>>()
          .def<&BpskDemod::process>("process($self, iq)",
                                    "Decides iq (complex64 array) into a uint8 array of the same "
                                    "length, one bit (0 or 1) per sample.")
          .def<&BpskDemod::set_gain>("set_gain($self, g)",
                                     "Sets the input gain g (only its sign matters) for later "
                                     "calls.");
  return def;
}

const ClassDefBase& qpsk_demod() {
  static const ClassDef<QpskDemod> def =
      ClassDef<QpskDemod>::make(
          "QpskDemod(gain)",
          "QPSK hard demodulator of baseband samples (carrier already removed, one sample per "
          "symbol): two bits per sample, the real then the imaginary axis, 1 where gain times "
          "the component is negative. Keeps no state but the gain.")
          .init<&construct<QpskDemod, float>>()
          .def<&QpskDemod::process>("process($self, iq)",
                                    "Decides iq (complex64 array) into a uint8 array of "
                                    "2 * len(iq) bits (0 or 1).")
          .def<&QpskDemod::set_gain>("set_gain($self, g)",
                                     "Sets the input gain g (only its sign matters) for later "
                                     "calls.");
  return def;
}

const ClassDefBase& qam_demod() {
  static const ClassDef<QamDemod> def =
      ClassDef<QamDemod>::make(
          "QamDemod(order, gain)",
          "Square QAM hard demodulator of order 16, 64 or 256 for baseband samples scaled by gain "
          "to unit average power, Gray-decided per axis. Raises ValueError \"QamDemod: order "
          "must be 16, 64, or 256\" for another order and OverflowError for a negative one.")
          .init<&QamDemod::create>()
          .def<&QamDemod::process>("process($self, iq)",
                                   "Decides iq (complex64 array) into a uint8 array of "
                                   "log2(order) bits (0 or 1) per sample, real-axis bits first.")
          .def<&QamDemod::set_gain>("set_gain($self, g)",
                                    "Sets the input gain g (a factor) for later calls.");
  return def;
}

}  // namespace demodulate
}  // namespace vatel::python
