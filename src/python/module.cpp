// The module entry: multi-phase initialisation with one exec step that adds
// every class and function, in a fixed order, stopping at the first failure.
#include "python/registry.hpp"

namespace vatel::python {
namespace {

using ClassEntry = const ClassDefBase& (*)();
using FunctionEntry = const FunctionDef& (*)();

struct Addition {
  ClassEntry cls = nullptr;
  FunctionEntry function = nullptr;
};

// The registration order of the module (and of __all__).
const Addition kAdditions[] = {
    // Single-carrier and analog demodulators.
    {demodulate::cw_envelope_demod},
    {demodulate::am_envelope_demod},
    {demodulate::ssb_product_demod},
    {demodulate::fm_quadrature_demod},
    {demodulate::pm_quadrature_demod},
    {demodulate::bpsk_demod},
    {demodulate::qpsk_demod},
    {demodulate::qam_demod},
    // Single-carrier and analog modulators.
    {modulate::am_dsb_mod},
    {modulate::cw_keyed_mod},
    {modulate::fm_phase_accum_mod},
    {modulate::pm_direct_phase_mod},
    {modulate::ssb_phasing_mod},
    {modulate::bpsk_mod},
    {modulate::qpsk_mod},
    {modulate::qam_mod},
    // FT8 and FT4.
    {ft8::ft8_mod},
    {ft8::ft8_demod},
    {ft8::ft8_codec},
    {ft8::ft4_mod},
    {ft8::ft4_demod},
    {ft8::ft4_codec},
    {nullptr, ft8::ft8_sync_function},
    {nullptr, ft8::ft4_sync_function},
    {nullptr, ft8::ft8_pack_standard},
    {nullptr, ft8::ft8_pack_free_text},
    {nullptr, ft8::ft8_pack_telemetry},
    {nullptr, ft8::ft8_unpack},
    // PSK31.
    {psk31::varicode_encoder},
    {psk31::varicode_decoder},
    {psk31::bpsk31_mod},
    {psk31::qpsk31_mod},
    {psk31::bpsk31_demod},
    {psk31::bpsk31_decider},
    {psk31::qpsk31_demod},
    {psk31::psk31_stream},
    {nullptr, psk31::psk31_sync_function},
    {nullptr, psk31::best_psk31_sync_function},
};

int exec_module(PyObject* module) noexcept {
  try {
    if (!PyModule_Check(module)) raise_wrong_type(module, "PyModule");
    for (const Addition& a : kAdditions) {
      const bool ok = a.cls ? add_class(module, a.cls()) : add_function(module, a.function());
      if (!ok) return -1;
    }
    if (!ofdm::register_module(module)) return -1;
    if (!ofdm_frame::register_module(module)) return -1;
    if (!dvb_t_frame::register_module(module)) return -1;
    return 0;
  } catch (...) {
    translate_exception();
    return -1;
  }
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "vatel_sdr",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace vatel::python

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_vatel_sdr() {
  return PyModuleDef_Init(&vatel::python::module_def);
}
