// Python classes of the single-carrier and analog demodulators.
#include "demodulate/bpsk.hpp"
#include "python/registry.hpp"

namespace vatel::python {

VATEL_PY_CLASS(vatel::demodulate::BpskDemod);
VATEL_PY_CLASS(vatel::demodulate::QpskDemod);

namespace demodulate {

using vatel::demodulate::BpskDemod;
using vatel::demodulate::QpskDemod;

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

}  // namespace demodulate
}  // namespace vatel::python
