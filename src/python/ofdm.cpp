// Python classes and functions of the OFDM physical layer.
#include <optional>
#include <tuple>

#include "core/checked.hpp"
#include "demodulate/ofdm.hpp"
#include "modulate/ofdm.hpp"
#include "multicarrier/config.hpp"
#include "python/registry.hpp"
#include "sync/ofdm_sync.hpp"
#include "waveform/ofdm_preamble.hpp"

namespace vatel::python {
namespace ofdm {

// The diagnostics of a demodulated block of symbols.
struct OfdmRxFrame {
  std::vector<std::uint8_t> bits;
  std::optional<float> evm_db;
  std::optional<float> cfo_hz;
  std::optional<std::int32_t> timing_offset_samples;
  std::optional<float> channel_mse;
  std::size_t num_symbols = 0;
};

}  // namespace ofdm

VATEL_PY_CLASS(vatel::multicarrier::OfdmConfig);
VATEL_PY_CLASS(vatel::modulate::OfdmMod);
VATEL_PY_CLASS(vatel::demodulate::ofdm::OfdmDemod);
VATEL_PY_CLASS(vatel::python::ofdm::OfdmRxFrame);

namespace ofdm {
namespace {

using vatel::modulate::OfdmMod;
using vatel::multicarrier::OfdmConfig;

// An array argument whose data is taken only when the body asks for it, so
// that the constructor's checks run in their documented order: the dtype is
// checked at conversion, contiguity when taken.
template <class T>
struct LaterArray {
  Object array;
  std::span<const T> take() const {
    auto [p, n] = array_data(array.get());
    return {static_cast<const T*>(p), n};
  }
};

}  // namespace
}  // namespace ofdm

template <class T>
struct Arg<ofdm::LaterArray<T>> {
  ofdm::LaterArray<T> v;
  explicit Arg(PyObject* o) {
    check_array(o, numpy_type_of<T>());
    v.array = Object::borrow(o);
  }
  const ofdm::LaterArray<T>& get() const { return v; }
};
template <class T>
struct Annotation<ofdm::LaterArray<T>> : Annotation<std::span<const T>> {};

namespace ofdm {
namespace {

core::Result<OfdmConfig> new_config(std::size_t n_fft, std::size_t cp_len,
                                    const LaterArray<std::int32_t>& data_carriers,
                                    const LaterArray<std::int32_t>& pilot_carrier_indices,
                                    const LaterArray<cf32>& pilot_carrier_values, float fs,
                                    float rf_hz, float gain, std::string_view constellation,
                                    std::optional<std::size_t> edge_guard) {
  const auto indices = pilot_carrier_indices.take();
  const auto values = pilot_carrier_values.take();
  if (auto r = OfdmConfig::check_pilot_lengths(indices.size(), values.size()); !r)
    return r.error();
  auto order = multicarrier::parse_constellation(constellation);
  if (!order) return order.error();
  const auto data = data_carriers.take();
  return OfdmConfig::create(n_fft, cp_len, data, indices, values, fs, rf_hz, gain, order.value(),
                            edge_guard);
}

std::size_t group_delay(const OfdmConfig&, std::size_t num_taps) {
  return OfdmConfig::tx_lowpass_group_delay(num_taps);
}

OfdmMod new_mod(const OfdmConfig& cfg) { return OfdmMod(cfg); }

sync::ofdm_sync::OfdmPreambleParams preamble_params(std::size_t num_repeats,
                                                    std::size_t repeat_len,
                                                    std::optional<std::size_t> training_n_fft,
                                                    std::optional<std::size_t> training_cp_len) {
  sync::ofdm_sync::OfdmPreambleParams params;
  params.num_repeats = num_repeats;
  params.repeat_len = repeat_len;
  // A training symbol needs both sizes; one alone is ignored.
  if (training_n_fft && training_cp_len)
    params.with_training_symbol.emplace(*training_n_fft, *training_cp_len);
  return params;
}

core::Buffer<cf32> preamble(const OfdmConfig& cfg, std::size_t num_repeats,
                            std::size_t repeat_len, std::optional<std::size_t> training_n_fft,
                            std::optional<std::size_t> training_cp_len) {
  return waveform::ofdm_preamble::generate_ofdm_preamble(
      preamble_params(num_repeats, repeat_len, training_n_fft, training_cp_len), cfg);
}

std::vector<DictObject> ofdm_sync(std::span<const cf32> iq, float fs, std::size_t num_repeats,
                              std::size_t repeat_len, std::size_t search_start,
                              std::size_t search_end, std::optional<std::size_t> training_n_fft,
                              std::optional<std::size_t> training_cp_len) {
  const auto found = sync::ofdm_sync::ofdm_sync(
      iq, fs, preamble_params(num_repeats, repeat_len, training_n_fft, training_cp_len),
      search_start, search_end);
  std::vector<DictObject> list;
  list.reserve(found.size());
  for (const auto& r : found) {
    Dict d;
    d.set("start_sample", r.start_sample)
        .set("cfo_hz", r.cfo_hz)
        .set("integer_cfo_bins", r.integer_cfo_bins)
        .set("score", r.score);
    list.push_back(d.take());
  }
  return list;
}

using vatel::demodulate::ofdm::OfdmDemod;

core::Result<OfdmDemod> new_demod(const OfdmConfig& cfg, std::string_view equalizer) {
  return OfdmDemod::create(cfg, equalizer);
}

using SoftAndBits = std::tuple<core::Buffer<cf32>, core::Buffer<std::uint8_t>>;

core::Result<SoftAndBits> demodulate_soft(OfdmDemod& d, std::span<const cf32> iq) {
  core::Buffer<cf32> soft(d.data_carriers());
  core::Buffer<std::uint8_t> bits(d.bits_per_symbol());
  if (auto r = d.demodulate(iq, soft.span(), bits.span()); !r) return r.error();
  return SoftAndBits{std::move(soft), std::move(bits)};
}

core::Result<core::Buffer<std::uint8_t>> demodulate(OfdmDemod& d, std::span<const cf32> iq) {
  auto r = demodulate_soft(d, iq);
  if (!r) return r.error();
  return std::move(std::get<1>(r.value()));
}

core::Result<void> estimate_channel(OfdmDemod& d, std::span<const cf32> training_iq) {
  return d.estimate_channel(training_iq);
}

OfdmRxFrame build_rx_frame(const OfdmConfig& cfg, std::span<const cf32> soft_symbols,
                           std::span<const std::uint8_t> bits) {
  const std::size_t carriers = cfg.plan.data_carriers.size();
  OfdmRxFrame f;
  f.num_symbols = carriers == 0 ? 0 : soft_symbols.size() / carriers;
  f.evm_db = vatel::demodulate::ofdm::evm_db(cfg.constellation, soft_symbols, bits, f.num_symbols);
  f.bits.assign(bits.begin(), bits.end());
  return f;
}

std::vector<std::uint8_t> frame_bits(const OfdmRxFrame& f) { return f.bits; }
std::optional<float> frame_evm_db(const OfdmRxFrame& f) { return f.evm_db; }
std::optional<float> frame_cfo_hz(const OfdmRxFrame& f) { return f.cfo_hz; }
std::optional<std::int32_t> frame_timing_offset(const OfdmRxFrame& f) {
  return f.timing_offset_samples;
}
std::optional<float> frame_channel_mse(const OfdmRxFrame& f) { return f.channel_mse; }
std::size_t frame_num_symbols(const OfdmRxFrame& f) { return f.num_symbols; }

bool equal(const OfdmConfig& a, const OfdmConfig& b) { return a == b; }

// The binding layer shapes a method from its parameter list, so callables
// without arguments are bound as free functions of the receiver.
OfdmConfig with_dvb_t_scrambler(const OfdmConfig& c) { return c.with_dvb_t_scrambler(); }
core::Result<void> validate_frame(const OfdmConfig& c) { return c.validate_frame(); }
std::size_t bits_per_ofdm_symbol(const OfdmConfig& c) { return c.bits_per_ofdm_symbol(); }
std::size_t samples_per_ofdm_symbol(const OfdmConfig& c) { return c.samples_per_ofdm_symbol(); }
std::size_t occupied_half_carriers(const OfdmConfig& c) { return c.occupied_half_carriers(); }

}  // namespace

// The docs below are the user's reference: units, dtypes, lengths and the
// errors of each call (the conventions all calls share head the type stubs).

const ClassDefBase& ofdm_config() {
  static const ClassDef<OfdmConfig> def =
      ClassDef<OfdmConfig>::make(
          "OfdmConfig(n_fft, cp_len, data_carriers, pilot_carrier_indices, "
          "pilot_carrier_values, fs, rf_hz, gain, constellation, edge_guard=None)",
          "An OFDM link: n_fft FFT bins and cp_len prefix samples (ints), data_carriers (int32 "
          "array of carrier indices, negative below DC), pilots at pilot_carrier_indices (int32 "
          "array) with pilot_carrier_values (complex64 array of the same length), the sample rate "
          "fs and carrier rf_hz in Hz, the output gain, and constellation 'bpsk', 'qpsk', "
          "'qam16', 'qam64' or 'qam256'; then the frame-layer settings, which the with_ "
          "builders change, each returning a new configuration. With an empty data_carriers "
          "array and edge_guard (an int) set, the data carriers are -h .. h but DC and the "
          "pilots, with h = n_fft // 2 - 1 - edge_guard. Raises ValueError for pilot "
          "arrays of unequal length, an unknown constellation, data_carriers given with "
          "edge_guard, or an invalid carrier plan (for example \"no data carriers "
          "specified\"). Configurations compare with == and are not hashable.")
          .init<&new_config>()
          .def<&OfdmConfig::with_inner_fec>(
              "with_inner_fec($self, kind, code='')",
              "Sets the inner code: kind 'none', 'ldpc' with code 'n512r12', 'n576r23' or "
              "'n512r34', or 'convolutional' (K=5) or 'convolutional_k7' (K=7) with code a "
              "puncture rate '1/2', '2/3', '3/4', '5/6' or '7/8'. Raises ValueError for another "
              "kind or code.")
          .def<&OfdmConfig::with_outer_fec>(
              "with_outer_fec($self, kind, a=0, b=0)",
              "Sets the outer code: kind 'none', 'bch' with t = a correctable bits, or 'rs' "
              "(Reed-Solomon) with n = a and n_parity = b bytes; the numbers are checked by "
              "validate_frame. Raises ValueError for another kind.")
          .def<&OfdmConfig::with_scrambler>(
              "with_scrambler($self, poly, width, seed=1, per_frame_random=False, "
              "position='before_outer')",
              "Sets an LFSR scrambler of width bits with taps poly (ints; poly 0: no scrambler), "
              "started at seed or, with per_frame_random True, at the seed each frame's header "
              "carries; position 'before_outer' or 'after_inner' (ValueError otherwise).")
          .def<&with_dvb_t_scrambler>("with_dvb_t_scrambler($self)",
                                      "Sets the DVB-T energy dispersal as the scrambler, before "
                                      "the outer code.")
          .def<&OfdmConfig::with_header_crc>("with_header_crc($self, kind)",
                                             "Sets the header CRC: 'none', 'crc16' (the default) "
                                             "or 'crc32' (ValueError otherwise).")
          .def<&OfdmConfig::with_payload_crc>("with_payload_crc($self, kind)",
                                              "Sets the payload CRC: 'none', 'crc16' or 'crc32' "
                                              "(the default; ValueError otherwise).")
          .def<&OfdmConfig::with_header_format>(
              "with_header_format($self, kind)",
              "Sets the frame header: 'vatel_sdr' (the default 14-byte header), 'none' or "
              "'dvb_tps' (neither sends a header); ValueError otherwise.")
          .def<&OfdmConfig::with_interleaver>(
              "with_interleaver($self, stage, rows, cols)",
              "Sets a rows x cols block interleaver (ints; a zero dimension: none) at stage "
              "'inner' or 'outer' (ValueError otherwise).")
          .def<&OfdmConfig::with_conv_interleaver>(
              "with_conv_interleaver($self, stage, branches=12, depth=17)",
              "Sets a convolutional interleaver of branches x depth (ints; a zero: none) at "
              "stage 'inner' or 'outer' (ValueError otherwise).")
          .def<&OfdmConfig::with_ldpc_decode_rule>(
              "with_ldpc_decode_rule($self, kind, scale=0.75)",
              "Sets the LDPC check-node rule: 'sum_product' (the default), 'min_sum' or "
              "'scaled_min_sum' with the factor scale; ValueError otherwise.")
          .def<&OfdmConfig::with_symbol_window>("with_symbol_window($self, roll_off)",
                                                "Sets the symbol taper to roll_off samples at "
                                                "each symbol edge (int; 0: off).")
          .def<&OfdmConfig::with_rx_window_backoff>(
              "with_rx_window_backoff($self, backoff)",
              "Sets how many samples (int) the frame receivers start their FFT window early, "
              "inside the cyclic prefix.")
          .def<&OfdmConfig::with_tx_lowpass>(
              "with_tx_lowpass($self, num_taps, stopband_db=60.0)",
              "Sets a transmit FIR low-pass of num_taps taps (int; made odd, at least 3) with "
              "stopband_db dB of stop band, its cutoff just outside the occupied band.")
          .def<&group_delay>("tx_lowpass_group_delay($self, num_taps)",
                             "The delay in samples (int) of a transmit low-pass of num_taps "
                             "taps: 1 below 4 taps, else num_taps // 2.")
          .def<&OfdmConfig::tx_lowpass_fits_guard>(
              "tx_lowpass_fits_guard($self, num_taps, roll_off=0, backoff=None)",
              "True when roll_off plus the low-pass delay fit on both sides of a receive window "
              "backed off by backoff samples (None: cp_len // 2) into the cyclic prefix.")
          .def<&OfdmConfig::tx_lowpass_suggested_taps>(
              "tx_lowpass_suggested_taps($self, stopband_db=60.0)",
              "A Kaiser estimate (odd int) of the taps a transmit low-pass needs for stopband_db "
              "dB between the occupied band and half the sample rate.")
          .def<&validate_frame>(
              "validate_frame($self)",
              "Checks the frame-layer settings: returns None, or raises ValueError naming the "
              "first fault (a per-frame seed without the vatel_sdr header, a zero interleaver "
              "dimension, BCH with t = 0, Reed-Solomon outside 0 < n_parity < n <= 255 with "
              "n_parity even).")
          .prop<&bits_per_ofdm_symbol>("bits_per_ofdm_symbol",
                                       "Bits one OFDM symbol carries (int): data carriers x bits "
                                       "per point.")
          .prop<&samples_per_ofdm_symbol>("samples_per_ofdm_symbol",
                                          "Samples of one OFDM symbol (int): n_fft + cp_len.")
          .prop<&occupied_half_carriers>("occupied_half_carriers",
                                         "The largest absolute index (int) among the data and "
                                         "pilot carriers.")
          .eq<&equal>();
  return def;
}

const ClassDefBase& ofdm_mod() {
  static const ClassDef<OfdmMod> def =
      ClassDef<OfdmMod>::make(
          "OfdmMod(cfg)",
          "OFDM symbol modulator for the OfdmConfig cfg (copied): bits mapped to the data "
          "carriers with the pilots, inverse FFT, cyclic prefix, mixed to cfg.rf_hz (unless 0) "
          "and scaled by cfg.gain. The carrier phase runs on across calls.")
          .init<&new_mod>()
          .def<&OfdmMod::modulate>("modulate($self, bits)",
                                   "Modulates bits (uint8 array, one bit per byte, lowest bit "
                                   "read) into whole symbols, the last completed with zero bits: "
                                   "a complex64 array of ceil(len(bits) / bits_per_ofdm_symbol) "
                                   "* samples_per_ofdm_symbol samples.");
  return def;
}

const ClassDefBase& ofdm_demod() {
  static const ClassDef<OfdmDemod> def =
      ClassDef<OfdmDemod>::make(
          "OfdmDemod(cfg, equalizer='training_symbol')",
          "Demodulates one synchronised OFDM symbol of the OfdmConfig cfg (copied) per call: "
          "prefix removal, FFT, equaliser 'training_symbol' (weights from estimate_channel, "
          "unit weights before it) or 'pilot_interp' (from the pilots of each symbol), hard "
          "decisions. Raises ValueError \"OfdmDemod: unknown equalizer ...\" for another "
          "keyword.")
          .init<&new_demod>()
          .def<&demodulate>("demodulate($self, iq)",
                            "The bits (uint8 array of bits_per_ofdm_symbol, 0 or 1) of the "
                            "symbol at the start of iq (complex64 array; later samples are "
                            "ignored). Raises ValueError \"OfdmDemod.demodulate: input too short "
                            "({n} < {samples_per_ofdm_symbol})\".")
          .def<&demodulate_soft>("demodulate_soft($self, iq)",
                                 "(soft, bits): the equalised data cells (complex64 array, one "
                                 "per data carrier in order) and the bits demodulate returns; "
                                 "the same ValueError for a short iq.")
          .def<&estimate_channel>(
              "estimate_channel($self, training_iq)",
              "Takes the training-mode weights from a received training symbol with its prefix "
              "(complex64 array, as generate_ofdm_preamble makes it); does nothing in pilot "
              "mode. Raises ValueError \"OfdmDemod.estimate_channel: input too short ...\".");
  return def;
}

const ClassDefBase& ofdm_rx_frame() {
  static const ClassDef<OfdmRxFrame> def =
      ClassDef<OfdmRxFrame>::make("OfdmRxFrame",
                                  "Diagnostics of demodulated OFDM symbols; only "
                                  "build_ofdm_rx_frame makes one (the class cannot be "
                                  "instantiated).")
          .prop<&frame_bits>("bits", "The bits (a new uint8 array at every read).")
          .prop<&frame_evm_db>("evm_db", "The EVM of the cells in dB (float), or None.")
          .prop<&frame_cfo_hz>("cfo_hz", "A carrier offset in Hz (float), or None.")
          .prop<&frame_timing_offset>("timing_offset_samples",
                                      "A timing offset in samples (int), or None.")
          .prop<&frame_channel_mse>("channel_mse", "A channel-estimate error (float), or None.")
          .prop<&frame_num_symbols>("num_symbols",
                                    "Whole symbols among the soft cells (int).");
  return def;
}

const FunctionDef& build_ofdm_rx_frame() {
  static const FunctionDef def = FunctionDef::make<&build_rx_frame>(
      "build_ofdm_rx_frame(cfg, soft_symbols, bits)",
      "An OfdmRxFrame of the cells soft_symbols (complex64 array) and their bits (uint8 array) "
      "under the OfdmConfig cfg: num_symbols = len(soft_symbols) // data carriers, evm_db "
      "measured (None when it cannot be), cfo_hz, timing_offset_samples and channel_mse None.");
  return def;
}

const FunctionDef& ofdm_sync_function() {
  static const FunctionDef def = FunctionDef::make<&ofdm_sync>(
      "ofdm_sync(iq, fs, num_repeats, repeat_len, search_start, search_end, "
      "training_n_fft=None, training_cp_len=None)",
      "Scores every start in [search_start, search_end) of iq (complex64 array at fs Hz) for "
      "num_repeats repeats of repeat_len samples (ints), followed by a training symbol when "
      "both training sizes are given. Returns dicts \"start_sample\" (int), \"cfo_hz\" "
      "(float), \"integer_cfo_bins\" (int; set for the first five with a training symbol) "
      "and \"score\" (float, at most 1), best first; empty when nothing can be scored.");
  return def;
}

const FunctionDef& generate_ofdm_preamble() {
  static const FunctionDef def = FunctionDef::make<&preamble>(
      "generate_ofdm_preamble(cfg, num_repeats, repeat_len, training_n_fft=None, "
      "training_cp_len=None)",
      "The burst preamble at baseband, times cfg.gain, as a complex64 array: num_repeats "
      "copies of a repeat_len-sample segment (ints), then, when both training sizes are given, "
      "a training symbol with its prefix. A training_cp_len above training_n_fft raises "
      "PanicException.");
  return def;
}

bool register_module(PyObject* module) {
  return add_class(module, ofdm_config()) && add_class(module, ofdm_mod()) &&
         add_class(module, ofdm_demod()) && add_class(module, ofdm_rx_frame()) &&
         add_function(module, build_ofdm_rx_frame()) &&
         add_function(module, ofdm_sync_function()) &&
         add_function(module, generate_ofdm_preamble());
}

}  // namespace ofdm
}  // namespace vatel::python
