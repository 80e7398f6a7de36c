#pragma once
// The definitions of every class and function of the module, by family.
// The order in which the module adds them is kept in module.cpp alone.
#include "python/binding.hpp"

namespace vatel::python {

namespace demodulate {
const ClassDefBase& cw_envelope_demod();
const ClassDefBase& am_envelope_demod();
const ClassDefBase& ssb_product_demod();
const ClassDefBase& fm_quadrature_demod();
const ClassDefBase& pm_quadrature_demod();
const ClassDefBase& bpsk_demod();
const ClassDefBase& qpsk_demod();
const ClassDefBase& qam_demod();
}  // namespace demodulate

namespace modulate {
const ClassDefBase& am_dsb_mod();
const ClassDefBase& cw_keyed_mod();
const ClassDefBase& fm_phase_accum_mod();
const ClassDefBase& pm_direct_phase_mod();
const ClassDefBase& ssb_phasing_mod();
const ClassDefBase& bpsk_mod();
const ClassDefBase& qpsk_mod();
const ClassDefBase& qam_mod();
}  // namespace modulate

namespace ofdm {
const ClassDefBase& ofdm_config();
const ClassDefBase& ofdm_mod();
const ClassDefBase& ofdm_demod();
const ClassDefBase& ofdm_rx_frame();
const FunctionDef& build_ofdm_rx_frame();
const FunctionDef& ofdm_sync_function();
const FunctionDef& generate_ofdm_preamble();
// Adds the OFDM classes and functions in registration order; false at the
// first failure (with the error set).
bool register_module(PyObject* module);
}  // namespace ofdm

namespace ft8 {
const ClassDefBase& ft8_mod();
const ClassDefBase& ft8_demod();
const ClassDefBase& ft8_codec();
const ClassDefBase& ft4_mod();
const ClassDefBase& ft4_demod();
const ClassDefBase& ft4_codec();
const FunctionDef& ft8_sync_function();
const FunctionDef& ft4_sync_function();
const FunctionDef& ft8_pack_standard();
const FunctionDef& ft8_pack_free_text();
const FunctionDef& ft8_pack_telemetry();
const FunctionDef& ft8_unpack();
}  // namespace ft8

namespace psk31 {
const ClassDefBase& varicode_encoder();
const ClassDefBase& varicode_decoder();
const ClassDefBase& bpsk31_mod();
const ClassDefBase& qpsk31_mod();
const ClassDefBase& bpsk31_demod();
const ClassDefBase& bpsk31_decider();
const ClassDefBase& qpsk31_demod();
const ClassDefBase& psk31_stream();
const FunctionDef& psk31_sync_function();
const FunctionDef& best_psk31_sync_function();
}  // namespace psk31

namespace ofdm_frame {
const ClassDefBase& codec_cache();
const ClassDefBase& frame_packet();
const ClassDefBase& mcs_table();
// Adds the frame-link classes in order; false with the error set on failure.
bool register_module(PyObject* module);
}  // namespace ofdm_frame

}  // namespace vatel::python
