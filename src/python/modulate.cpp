// Python classes of the single-carrier and analog modulators.
#include "modulate/bpsk.hpp"
#include "python/registry.hpp"

namespace vatel::python {

VATEL_PY_CLASS(vatel::modulate::BpskMod);
VATEL_PY_CLASS(vatel::modulate::QpskMod);

namespace modulate {

using vatel::modulate::BpskMod;
using vatel::modulate::QpskMod;

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

}  // namespace modulate
}  // namespace vatel::python
