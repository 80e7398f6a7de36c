// Python classes and functions of PSK31.
#include <cmath>

#include "codec/psk31.hpp"
#include "codec/varicode.hpp"
#include "core/checked.hpp"
#include "demodulate/psk31.hpp"
#include "demodulate/psk31_stream.hpp"
#include "demodulate/psk31_sync.hpp"
#include "modulate/psk31.hpp"
#include "python/registry.hpp"

namespace vatel::python {
namespace psk31 {

// The Python Qpsk31Demod also keeps every soft pair since construction, the
// last flush or reset, for the batch Viterbi decoder.
struct BufferedQpsk31Demod {
  vatel::demodulate::psk31::Qpsk31Demod demod;
  std::vector<float> soft_buffer;
};

}  // namespace psk31

VATEL_PY_CLASS(vatel::codec::varicode::VaricodeEncoder);
VATEL_PY_CLASS(vatel::codec::varicode::VaricodeDecoder);
VATEL_PY_CLASS(vatel::modulate::psk31::Bpsk31Mod);
VATEL_PY_CLASS(vatel::modulate::psk31::Qpsk31Mod);
VATEL_PY_CLASS(vatel::demodulate::psk31::Bpsk31Demod);
VATEL_PY_CLASS(vatel::demodulate::psk31::Bpsk31Decider);
VATEL_PY_CLASS(psk31::BufferedQpsk31Demod);
VATEL_PY_CLASS(vatel::demodulate::psk31::Psk31Stream);

namespace psk31 {
namespace {

using vatel::codec::varicode::VaricodeDecoder;
using vatel::codec::varicode::VaricodeEncoder;
using vatel::demodulate::psk31::Bpsk31Decider;
using vatel::demodulate::psk31::Bpsk31Demod;
using vatel::modulate::psk31::Bpsk31Mod;
using vatel::modulate::psk31::Qpsk31Mod;
using vatel::demodulate::psk31::Psk31Stream;

void push_bits(VaricodeDecoder& d, std::span<const std::uint8_t> bits) {
  for (std::uint8_t b : bits) d.push_bit(b);
}
Bytes pop_bytes(VaricodeDecoder& d) { return Bytes{d.pop_bytes()}; }

template <class Mod>
core::Buffer<cf32> modulate_text(Mod& m, BytesArg text, std::uint64_t preamble_bits, std::uint64_t postamble_bits) {
  return m.modulate_bits(vatel::modulate::psk31::text_bits(text.data, preamble_bits, postamble_bits));
}

core::Buffer<float> bpsk31_process(Bpsk31Demod& d, std::span<const cf32> iq) {
  core::Buffer<float> out(iq.size());
  out.truncate(d.process(iq, out.span()));
  return out;
}

BufferedQpsk31Demod make_qpsk31_demod(float fs, float rf_hz, float gain) {
  return {vatel::demodulate::psk31::Qpsk31Demod(fs, rf_hz, gain), {}};
}
core::Buffer<float> qpsk31_process(BufferedQpsk31Demod& d, std::span<const cf32> iq) {
  core::Buffer<float> out(core::checked_mul(iq.size(), 2, "Qpsk31Demod output"));
  out.truncate(d.demod.process(iq, out.span()));
  d.soft_buffer.insert(d.soft_buffer.end(), out.begin(), out.end());
  return out;
}
std::vector<std::uint8_t> qpsk31_flush(BufferedQpsk31Demod& d) {
  std::vector<std::uint8_t> bits = codec::psk31::viterbi_decode(d.soft_buffer);
  d.soft_buffer.clear();
  return bits;
}
void qpsk31_reset(BufferedQpsk31Demod& d) {
  d.demod.reset();
  d.soft_buffer.clear();
}
void qpsk31_set_gain(BufferedQpsk31Demod& d, float g) { d.demod.set_gain(g); }

// The mode is lower-cased by the interpreter's own str.lower (full Unicode
// case mapping) before it is judged.
std::string lower(std::string_view s) {
  Object str = Object::steal(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
  Object low = Object::steal(PyObject_CallMethod(str.get(), "lower", nullptr));
  return std::string(to_str(low.get()));
}
core::Result<Psk31Stream> make_stream(std::string_view mode, float fs, float carrier_hz, float gain) {
  auto m = vatel::demodulate::psk31::parse_mode(lower(mode), mode);
  if (!m.ok()) return m.error();
  return Psk31Stream(m.value(), fs, carrier_hz, gain);
}

std::vector<DictObject> psk31_sync(std::span<const cf32> iq, float fs, float base_hz, float max_hz,
                                   std::uint64_t min_carrier_syms, float peak_margin_db,
                                   std::uint64_t n_bits, std::uint64_t max_cand) {
  auto r = vatel::demodulate::psk31_sync::psk31_sync(iq, fs, base_hz, max_hz, min_carrier_syms, peak_margin_db,
                                                     n_bits, max_cand);
  if (!r.ok()) raise_value_error(r.error().message);
  std::vector<DictObject> list;
  for (auto& c : r.value()) {
    Dict d;
    d.set("time_sym", c.time_sym)
        .set("freq_bin", c.freq_bin)
        .set("carrier_hz", c.carrier_hz)
        .set("score", c.score)
        .set("soft_bits", std::move(c.soft_bits));
    list.push_back(d.take());
  }
  return list;
}

// One candidate dictionary's value under key; an absent key is a broken
// candidate list, not a user value to report as ValueError.
PyObject* required(PyObject* dict, const char* key) {
  PyObject* v = DictArg{dict}.find(key);
  if (!v) core::panic(std::string("best_psk31_sync: a candidate has no value under \"") + key + "\"");
  return v;
}

// The list item i with a reference of its own (conversions may run Python
// code that changes the list).
Object item_dict(ListArg list, std::size_t i) {
  Object o = Object::borrow(list[i]);
  if (!o) throw PyError{};
  if (!PyDict_Check(o.get())) raise_wrong_type(o.get(), "dict");
  return o;
}

std::optional<DictObject> best_psk31_sync(ListArg candidates, float carrier_hz, float baud) {
  const float half_width = 2.0f * baud;
  bool found = false;
  std::uint64_t best_time = 0;
  float best_carrier = 0.0f, best_dist = 0.0f;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    Object d = item_dict(candidates, i);
    const float c = convert<float>(required(d.get(), "carrier_hz"));
    const std::uint64_t t = convert<std::uint64_t>(required(d.get(), "time_sym"));
    (void)convert<std::uint64_t>(required(d.get(), "freq_bin"));
    (void)convert<float>(required(d.get(), "score"));
    const float dist = std::fabs(c - carrier_hz);
    if (!(dist <= half_width)) continue;
    if (!found || t < best_time || (t == best_time && dist < best_dist)) {
      found = true;
      best_time = t;
      best_carrier = c;
      best_dist = dist;
    }
  }
  if (found) {
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      Object d = item_dict(candidates, i);
      const std::uint64_t t = convert<std::uint64_t>(required(d.get(), "time_sym"));
      const float c = convert<float>(required(d.get(), "carrier_hz"));
      if (t == best_time && std::fabs(c - best_carrier) < 0.01f) return d;
    }
  }
  return std::nullopt;
}

}  // namespace

// The docs below are the user's reference: units, dtypes, lengths and the
// errors of each call (the conventions all calls share head the type stubs).
// PSK31 runs at 31.25 symbols per second: sps = round(fs / 31.25) samples per
// symbol (256 at 8000 Hz).

const ClassDefBase& varicode_encoder() {
  static const ClassDef<VaricodeEncoder> def =
      ClassDef<VaricodeEncoder>::make(
          "VaricodeEncoder()",
          "PSK31 Varicode encoder: bytes to a queue of bits (one per uint8), characters "
          "separated by two zeros; bytes 128..255 are sent as the NUL code.")
          .init<&construct<VaricodeEncoder>>()
          .def<&VaricodeEncoder::push_byte>("push_byte($self, b)",
                                            "Queues the code of byte b (int 0..255; OverflowError "
                                            "outside), after the two-zero separator unless it "
                                            "starts the queue or follows a preamble.")
          .def<&VaricodeEncoder::push_preamble>("push_preamble($self, n)",
                                                "Queues n zeros (int >= 0); the next character "
                                                "follows them without a separator.")
          .def<&VaricodeEncoder::push_postamble>("push_postamble($self, n)",
                                                 "Queues the separator (after a character) and n "
                                                 "ones (int >= 0).")
          .def<&VaricodeEncoder::drain_bits>("drain_bits($self)",
                                             "Returns every queued bit, oldest first, as a uint8 "
                                             "array (0 or 1) and empties the queue.")
          .def<&VaricodeEncoder::is_empty>("is_empty($self)", "True when no bit is queued.");
  return def;
}
const ClassDefBase& varicode_decoder() {
  static const ClassDef<VaricodeDecoder> def =
      ClassDef<VaricodeDecoder>::make(
          "VaricodeDecoder()",
          "PSK31 Varicode decoder: bits to bytes (0..127), a character ending at two zeros; a "
          "character may be split over calls. Unknown codes are dropped.")
          .init<&construct<VaricodeDecoder>>()
          .def<&push_bits>("push_bits($self, bits)",
                           "Takes bits (uint8 array, one bit per byte) in order; decoded bytes "
                           "wait for pop_bytes.")
          .def<&pop_bytes>("pop_bytes($self)",
                           "Returns the bytes decoded so far (bytes, oldest first) and forgets "
                           "them.");
  return def;
}
const ClassDefBase& bpsk31_mod() {
  static const ClassDef<Bpsk31Mod> def =
      ClassDef<Bpsk31Mod>::make(
          "Bpsk31Mod(fs, rf_hz, gain)",
          "BPSK31 modulator at the sample rate fs in Hz: one symbol of sps samples per bit, bit 0 "
          "reversing the phase and bit 1 keeping it, with half-Hann transitions, amplitude gain, "
          "mixed to rf_hz Hz unless it is 0. The phase level carries over calls; the carrier "
          "restarts at each call. An fs below 15.625 Hz gives empty results.")
          .init<&construct<Bpsk31Mod, float, float, float>>()
          .def<&Bpsk31Mod::reset>("reset($self)", "Returns the phase level to +1.")
          .def<&Bpsk31Mod::set_gain>("set_gain($self, g)",
                                     "Sets the output gain g (a factor) for later calls.")
          .def<&Bpsk31Mod::modulate_bits>("modulate_bits($self, bits)",
                                          "Modulates bits (uint8 array; 0 reverses the phase, "
                                          "any other value keeps it) into a complex64 array of "
                                          "len(bits) * sps samples.")
          .def<&modulate_text<Bpsk31Mod>>(
              "modulate_text($self, text, preamble_bits=...32, postamble_bits=...32)",
              "Modulates the Varicode bits of text (bytes): preamble_bits zeros, the characters, "
              "the separator and postamble_bits ones (ints >= 0, 32 by default), as "
              "modulate_bits; returns complex64.");
  return def;
}
const ClassDefBase& qpsk31_mod() {
  static const ClassDef<Qpsk31Mod> def =
      ClassDef<Qpsk31Mod>::make(
          "Qpsk31Mod(fs, rf_hz, gain)",
          "QPSK31 modulator at the sample rate fs in Hz: each bit coded by the rate-1/2 K=5 "
          "convolutional code, the pair sent as one of four phase rotations in one symbol of sps "
          "samples, with half-Hann transitions, amplitude gain, mixed to rf_hz Hz unless it is "
          "0. Phase and encoder state carry over calls; the carrier restarts at each call.")
          .init<&construct<Qpsk31Mod, float, float, float>>()
          .def<&Qpsk31Mod::reset>("reset($self)", "Returns the phase to 1 and clears the encoder.")
          .def<&Qpsk31Mod::set_gain>("set_gain($self, g)",
                                     "Sets the output gain g (a factor) for later calls.")
          .def<&Qpsk31Mod::modulate_bits>("modulate_bits($self, bits)",
                                          "Modulates bits (uint8 array, lowest bit read) into a "
                                          "complex64 array of len(bits) * sps samples.")
          .def<&modulate_text<Qpsk31Mod>>(
              "modulate_text($self, text, preamble_bits=...32, postamble_bits=...32)",
              "Modulates the Varicode bits of text (bytes): preamble_bits zeros, the characters, "
              "the separator and postamble_bits ones (ints >= 0, 32 by default), as "
              "modulate_bits; returns complex64.");
  return def;
}
const ClassDefBase& bpsk31_demod() {
  static const ClassDef<Bpsk31Demod> def =
      ClassDef<Bpsk31Demod>::make(
          "Bpsk31Demod(fs, rf_hz, gain)",
          "BPSK31 demodulator at the sample rate fs in Hz: mixes rf_hz Hz down (unless 0), "
          "integrates each symbol of sps samples and detects it differentially, with a slow "
          "phase loop; no timing recovery (symbols count from construction or reset). State "
          "carries over calls. An fs below 15.625 Hz makes the first sample raise "
          "PanicException.")
          .init<&construct<Bpsk31Demod, float, float, float>>()
          .def<&Bpsk31Demod::reset>("reset($self)",
                                    "Returns to a symbol boundary and clears the phase loop and "
                                    "the mixer phase; the gain stays.")
          .def<&Bpsk31Demod::set_gain>("set_gain($self, g)",
                                       "Sets the output gain g (a factor) for later calls.")
          .def<&bpsk31_process>("process($self, iq)",
                                "Takes iq (complex64 array) and returns one soft value per "
                                "symbol completed (float32 array): about +1 for bit 1 (no "
                                "reversal), -1 for bit 0, times gain.");
  return def;
}
const ClassDefBase& bpsk31_decider() {
  static const ClassDef<Bpsk31Decider> def =
      ClassDef<Bpsk31Decider>::make("Bpsk31Decider()",
                                    "Hard decisions of BPSK31 soft values; keeps no state.")
          .init<&construct<Bpsk31Decider>>()
          .def<&Bpsk31Decider::process>("process($self, soft)",
                                        "A uint8 array as long as soft (float32 array): 1 where "
                                        "the value is >= 0, 0 where it is negative or NaN.");
  return def;
}
const ClassDefBase& qpsk31_demod() {
  static const ClassDef<BufferedQpsk31Demod> def =
      ClassDef<BufferedQpsk31Demod>::make(
          "Qpsk31Demod(fs, rf_hz, gain)",
          "QPSK31 demodulator at the sample rate fs in Hz, as Bpsk31Demod but giving one soft "
          "pair per symbol; it also keeps every pair since construction, reset or flush for the "
          "Viterbi decoding of flush. An fs below 15.625 Hz makes the first sample raise "
          "PanicException.")
          .init<&make_qpsk31_demod>()
          .def<&qpsk31_process>("process($self, iq)",
                                "Takes iq (complex64 array) and returns the (re, im) pair of each "
                                "symbol completed, flat in a float32 array of two values per "
                                "symbol.")
          .def<&qpsk31_flush>("flush($self)",
                              "Viterbi-decodes the kept pairs into bits (uint8 array, one per "
                              "symbol) and empties the buffer.")
          .def<&qpsk31_reset>("reset($self)",
                              "Returns to a symbol boundary, clears the phase loop and the mixer "
                              "phase and empties the buffer.")
          .def<&qpsk31_set_gain>("set_gain($self, g)",
                                 "Sets the output gain g (a factor) for later calls.");
  return def;
}
const ClassDefBase& psk31_stream() {
  static const ClassDef<Psk31Stream> def =
      ClassDef<Psk31Stream>::make(
          "Psk31Stream(mode, fs, carrier_hz, gain=1.0)",
          "PSK31 text receiver: mode 'bpsk' or 'qpsk' (also 'bpsk31', 'qpsk31', any case), the "
          "sample rate fs and the carrier carrier_hz in Hz. Raises ValueError \"mode must be "
          "'bpsk' or 'qpsk', got '{mode}'\"; an fs below 15.625 Hz makes the first sample fed "
          "raise PanicException.")
          .init<&make_stream>()
          .def<&Psk31Stream::feed>("feed($self, iq)",
                                   "Demodulates iq (complex64 array) and returns the text "
                                   "decoded by this call (str of printable ASCII; other bytes are "
                                   "dropped), possibly empty.")
          .def<&Psk31Stream::flush>("flush($self)",
                                    "Returns the text the decoders still held (the QPSK31 "
                                    "decoder runs 32 symbols behind); the stream stays usable.");
  return def;
}

const FunctionDef& psk31_sync_function() {
  static const FunctionDef def = FunctionDef::make<&psk31_sync>(
      "psk31_sync(iq, fs, base_hz, max_hz, min_carrier_syms=8, peak_margin_db=6.0, n_bits=1024, "
      "max_cand=10)",
      "Finds PSK31 carriers in iq (complex64 array at fs Hz) between base_hz and max_hz Hz, in "
      "31.25 Hz bins and one-symbol steps: runs of at least min_carrier_syms symbols standing "
      "peak_margin_db dB above the median floor. Returns at most max_cand dicts, best first: "
      "\"time_sym\", \"freq_bin\" (ints), \"carrier_hz\", \"score\" (floats) and "
      "\"soft_bits\" (float32 array of at most n_bits BPSK31 soft values from the run's "
      "start). \"carrier_hz\" is the station's carrier, measured from the run's first symbols "
      "in its bin or a bin beside it (within 46.875 Hz of base_hz + freq_bin * 31.25; a station "
      "idling with reversals makes its runs beside its own bin). A search too large to hold "
      "raises ValueError.");
  return def;
}
const FunctionDef& best_psk31_sync_function() {
  static const FunctionDef def = FunctionDef::make<&best_psk31_sync>(
      "best_psk31_sync(candidates, carrier_hz, baud=...31.25)",
      "Of candidates (a list of psk31_sync's dicts), the one whose \"carrier_hz\" lies within "
      "2 * baud Hz of carrier_hz with the earliest \"time_sym\" (then the nearest carrier), "
      "returned as the same dict, or None. A non-dict item raises TypeError; a dict lacking a "
      "key raises PanicException.");
  return def;
}

}  // namespace psk31
}  // namespace vatel::python
