// Python classes and functions of FT8 and FT4.
#include "codec/ft4.hpp"
#include "codec/ft8.hpp"
#include "demodulate/ft4.hpp"
#include "demodulate/ft8.hpp"
#include "message/message.hpp"
#include "modulate/ft4.hpp"
#include "modulate/ft8.hpp"
#include "python/registry.hpp"
#include "sync/costas.hpp"
#include "sync/ft4_sync.hpp"

namespace vatel::python {
namespace ft8 {

// The codecs are static methods only; their objects carry nothing.
struct Ft8CodecClass {};
struct Ft4CodecClass {};

}  // namespace ft8

VATEL_PY_CLASS(vatel::modulate::Ft8Mod);
VATEL_PY_CLASS(vatel::demodulate::Ft8Demod);
VATEL_PY_CLASS(ft8::Ft8CodecClass);
VATEL_PY_CLASS(vatel::modulate::Ft4Mod);
VATEL_PY_CLASS(vatel::demodulate::Ft4Demod);
VATEL_PY_CLASS(ft8::Ft4CodecClass);

namespace ft8 {
namespace {

Bytes to_bytes(const std::array<std::uint8_t, 10>& p) { return Bytes{{p.begin(), p.end()}}; }

core::Result<std::optional<Bytes>> payload_or_none(core::Result<std::optional<codec::Payload>> r) {
  if (!r.ok()) return r.error();
  if (!r.value()) return std::optional<Bytes>();
  return std::optional<Bytes>(to_bytes(*r.value()));
}

core::Result<Bytes> packed(core::Result<message::Payload> r) {
  if (!r.ok()) return r.error();
  return to_bytes(r.value());
}

template <class Codec>
core::Result<core::Buffer<std::uint8_t>> encode(BytesArg payload) {
  return Codec::encode(payload.data);
}
template <class Codec>
core::Result<std::optional<Bytes>> decode_hard(std::span<const std::uint8_t> tones) {
  return payload_or_none(Codec::decode_hard(tones));
}
template <class Codec>
core::Result<std::optional<Bytes>> decode_soft(std::span<const float> llr) {
  return payload_or_none(Codec::decode_soft(llr));
}

std::vector<DictObject> candidates(core::Result<std::vector<sync::Ft4SyncResult>> r) {
  if (!r.ok()) raise_value_error(r.error().message);
  std::vector<DictObject> list;
  for (const auto& c : r.value()) {
    Dict d;
    d.set("time_sym", c.time_sym)
        .set("freq_bin", c.freq_bin)
        .set("score", c.score)
        .set("llr", std::vector<float>(c.llr.begin(), c.llr.end()));
    list.push_back(d.take());
  }
  return list;
}

std::vector<DictObject> ft8_sync(std::span<const cf32> iq, float fs, float base_hz, float max_hz, std::int32_t t_min,
                std::int32_t t_max, std::uint64_t max_cand) {
  return candidates(sync::costas::ft8_sync(iq, fs, base_hz, max_hz, t_min, t_max, max_cand));
}
std::vector<DictObject> ft4_sync(std::span<const cf32> iq, float fs, float base_hz, float max_hz, std::int32_t t_min,
                std::int32_t t_max, std::uint64_t max_cand) {
  return candidates(sync::ft4_sync::ft4_sync(iq, fs, base_hz, max_hz, t_min, t_max, max_cand));
}

core::Result<Bytes> pack_standard(std::string_view call_to, std::string_view call_de, std::string_view extra) {
  return packed(message::ft8_pack_standard(call_to, call_de, extra));
}
core::Result<Bytes> pack_free_text(std::string_view text) { return packed(message::ft8_pack_free_text(text)); }
core::Result<Bytes> pack_telemetry(BytesArg data) { return packed(message::ft8_pack_telemetry(data.data)); }

DictObject unpack(BytesArg payload) {
  auto r = message::ft8_unpack(payload.data);
  if (!r.ok()) raise_value_error(r.error().message);
  Dict d;
  for (auto& [key, value] : r.value()) {
    if (auto* s = std::get_if<std::string>(&value))
      d.set(key.c_str(), *s);
    else
      d.set(key.c_str(), Bytes{std::get<message::Bytes>(value)});
  }
  return d.take();
}

}  // namespace

using vatel::demodulate::Ft4Demod;
using vatel::demodulate::Ft8Demod;
using vatel::modulate::Ft4Mod;
using vatel::modulate::Ft8Mod;

// The docs below are the user's reference: units, dtypes, lengths and the
// errors of each call (the conventions all calls share head the type stubs).

const ClassDefBase& ft8_mod() {
  static const ClassDef<Ft8Mod> def =
      ClassDef<Ft8Mod>::make(
          "Ft8Mod(fs, base_hz, rf_hz, gain)",
          "FT8 modulator: 79 symbols of 1920 samples each (the 58 data tones between three "
          "Costas arrays), phase-continuous 8-FSK with tone k at base_hz + 6.25 * k Hz for the "
          "sample rate fs in Hz (12000 gives the standard timing), magnitude gain, then shifted "
          "by rf_hz Hz unless it is 0. No phase carries between calls.")
          .init<&construct<Ft8Mod, float, float, float, float>>()
          .def<&Ft8Mod::modulate>("modulate($self, tones)",
                                  "The burst for 58 data tones (uint8 array, as Ft8Codec.encode "
                                  "gives them): a complex64 array of 151680 samples. Raises "
                                  "ValueError \"Ft8Mod.modulate: expected 58 tone indices, got "
                                  "{n}\" for another count.");
  return def;
}
const ClassDefBase& ft8_demod() {
  static const ClassDef<Ft8Demod> def =
      ClassDef<Ft8Demod>::make(
          "Ft8Demod(fs, base_hz)",
          "FT8 tone demodulator of a burst already aligned in time and frequency (tone 0 at "
          "base_hz Hz, sample rate fs in Hz): the strongest of the eight tones in each symbol, "
          "with no search (ft8_sync finds bursts).")
          .init<&construct<Ft8Demod, float, float>>()
          .def<&Ft8Demod::demodulate>("demodulate($self, iq)",
                                      "The 58 data tones (uint8 array, 0..7) of the burst at the "
                                      "start of iq (complex64 array; samples after the first "
                                      "151680 are ignored). Raises ValueError \"Ft8Demod."
                                      "demodulate: input too short ({n} < 151680)\".");
  return def;
}
const ClassDefBase& ft8_codec() {
  static const ClassDef<Ft8CodecClass> def =
      ClassDef<Ft8CodecClass>::make(
          "Ft8Codec()",
          "FT8 codec, static methods only: a 10-byte payload (77 message bits, as the ft8_pack_ "
          "functions make it) with CRC-14 and LDPC(174, 91), Gray-mapped to 58 tones of 3 bits.")
          .init<&construct<Ft8CodecClass>>()
          .def_static<&encode<codec::Ft8Codec>>(
              "encode(payload)",
              "The 58 data tones (uint8 array, 0..7) of a 10-byte payload (bytes; the low three "
              "bits of byte 9 are not sent). Raises ValueError \"Ft8Codec.encode: expected "
              "10-byte payload, got {n}\".")
          .def_static<&decode_hard<codec::Ft8Codec>>(
              "decode_hard(tones)",
              "The 10-byte payload (bytes) of 58 received tones (uint8 array, taken modulo 8), or "
              "None when LDPC or CRC fails. Raises ValueError \"Ft8Codec.decode_hard: expected "
              "58 tones, got {n}\".")
          .def_static<&decode_soft<codec::Ft8Codec>>(
              "decode_soft(llr)",
              "The 10-byte payload (bytes) of 174 soft bits (float32 array, positive favours 0, "
              "as ft8_sync gives them), or None when LDPC or CRC fails. Raises ValueError "
              "\"Ft8Codec.decode_soft: expected 174 LLRs, got {n}\".");
  return def;
}
const ClassDefBase& ft4_mod() {
  static const ClassDef<Ft4Mod> def =
      ClassDef<Ft4Mod>::make(
          "Ft4Mod(fs, base_hz, rf_hz, gain)",
          "FT4 modulator: 105 symbols of 576 samples each (the 87 data tones between four sync "
          "blocks, with one tone-0 symbol at each end), phase-continuous 4-FSK with tone k at "
          "base_hz + 20.833 * k Hz for the sample rate fs in Hz (12000 gives the standard "
          "timing), magnitude gain, then shifted by rf_hz Hz unless it is 0.")
          .init<&construct<Ft4Mod, float, float, float, float>>()
          .def<&Ft4Mod::modulate>("modulate($self, tones)",
                                  "The burst for 87 data tones (uint8 array, as Ft4Codec.encode "
                                  "gives them): a complex64 array of 60480 samples. Raises "
                                  "ValueError \"Ft4Mod.modulate: expected 87 tone indices, got "
                                  "{n}\" for another count.");
  return def;
}
const ClassDefBase& ft4_demod() {
  static const ClassDef<Ft4Demod> def =
      ClassDef<Ft4Demod>::make(
          "Ft4Demod(fs, base_hz)",
          "FT4 tone demodulator of a burst already aligned in time and frequency (tone 0 at "
          "base_hz Hz, sample rate fs in Hz): the strongest of the four tones in each symbol, "
          "with no search (ft4_sync finds bursts).")
          .init<&construct<Ft4Demod, float, float>>()
          .def<&Ft4Demod::demodulate>("demodulate($self, iq)",
                                      "The 87 data tones (uint8 array, 0..3) of the burst at the "
                                      "start of iq (complex64 array; samples after the first "
                                      "60480 are ignored). Raises ValueError \"Ft4Demod."
                                      "demodulate: input too short ({n} < 60480)\".");
  return def;
}
const ClassDefBase& ft4_codec() {
  static const ClassDef<Ft4CodecClass> def =
      ClassDef<Ft4CodecClass>::make(
          "Ft4Codec()",
          "FT4 codec, static methods only: a 10-byte payload whitened, with CRC-14 and "
          "LDPC(174, 91), Gray-mapped to 87 tones of 2 bits.")
          .init<&construct<Ft4CodecClass>>()
          .def_static<&encode<codec::Ft4Codec>>(
              "encode(payload)",
              "The 87 data tones (uint8 array, 0..3) of a 10-byte payload (bytes; the low three "
              "bits of byte 9 are not sent). Raises ValueError \"Ft4Codec.encode: expected "
              "10-byte payload, got {n}\".")
          .def_static<&decode_hard<codec::Ft4Codec>>(
              "decode_hard(tones)",
              "The 10-byte payload (bytes) of 87 received tones (uint8 array, taken modulo 4), or "
              "None when LDPC or CRC fails. Raises ValueError \"Ft4Codec.decode_hard: expected "
              "87 tones, got {n}\".")
          .def_static<&decode_soft<codec::Ft4Codec>>(
              "decode_soft(llr)",
              "The 10-byte payload (bytes) of 174 soft bits (float32 array, positive favours 0, "
              "as ft4_sync gives them), or None when LDPC or CRC fails. Raises ValueError "
              "\"Ft4Codec.decode_soft: expected 174 LLRs, got {n}\".");
  return def;
}

const FunctionDef& ft8_sync_function() {
  static const FunctionDef def = FunctionDef::make<&ft8_sync>(
      "ft8_sync(iq, fs, base_hz, max_hz, t_min, t_max, max_cand)",
      "Searches iq (complex64 array at fs Hz) for FT8 bursts with tone 0 between base_hz and "
      "max_hz Hz and a start between symbols t_min and t_max (ints, 1920-sample symbols from "
      "the buffer start). Returns at most max_cand dicts, best first: \"time_sym\" (int, "
      "start symbol), \"freq_bin\" (int, tone 0 at base_hz + 6.25 * freq_bin Hz), "
      "\"score\" (float) and \"llr\" (float32 array of 174 for Ft8Codec.decode_soft). "
      "max_cand 0 raises PanicException; a search span too large to hold raises ValueError.");
  return def;
}
const FunctionDef& ft4_sync_function() {
  static const FunctionDef def = FunctionDef::make<&ft4_sync>(
      "ft4_sync(iq, fs, base_hz, max_hz, t_min, t_max, max_cand)",
      "Searches iq (complex64 array at fs Hz) for FT4 bursts with tone 0 between base_hz and "
      "max_hz Hz and a start between symbols t_min and t_max (ints, 576-sample symbols from "
      "the buffer start). Returns at most max_cand dicts, best first: \"time_sym\" (int), "
      "\"freq_bin\" (int, tone 0 at base_hz + 20.833 * freq_bin Hz), \"score\" (float) and "
      "\"llr\" (float32 array of 174 for Ft4Codec.decode_soft). max_cand 0 raises "
      "PanicException; a search span too large to hold raises ValueError.");
  return def;
}
const FunctionDef& ft8_pack_standard() {
  static const FunctionDef def = FunctionDef::make<&pack_standard>(
      "ft8_pack_standard(call_to, call_de, extra)",
      "Packs a standard message into its 10-byte payload (bytes): two callsigns (str, e.g. "
      "'CQ' and 'K1ABC') and extra, a grid ('FN42'), a report ('+07', 'R-12'), 'RRR', 'RR73', "
      "'73' or ''. Raises ValueError \"ft8_pack_standard: failed to pack message (invalid "
      "callsign?)\".");
  return def;
}
const FunctionDef& ft8_pack_free_text() {
  static const FunctionDef def = FunctionDef::make<&pack_free_text>(
      "ft8_pack_free_text(text)",
      "Packs free text (str, at most 13 of the characters space, 0-9, A-Z, + - . / ?) into its "
      "10-byte payload (bytes). Raises ValueError \"ft8_pack_free_text: failed to pack message "
      "(text too long or invalid chars?)\".");
  return def;
}
const FunctionDef& ft8_pack_telemetry() {
  static const FunctionDef def = FunctionDef::make<&pack_telemetry>(
      "ft8_pack_telemetry(data)",
      "Packs 9 bytes of telemetry (bytes; the top bit of the first byte is not sent) into its "
      "10-byte payload (bytes). Raises ValueError \"ft8_pack_telemetry: expected 9 bytes, got "
      "{n}\".");
  return def;
}
const FunctionDef& ft8_unpack() {
  static const FunctionDef def = FunctionDef::make<&unpack>(
      "ft8_unpack(payload)",
      "Unpacks a 10-byte payload (bytes) into a dict whose \"type\" is \"standard\" or "
      "\"nonstd\" (with \"call_to\", \"call_de\", \"extra\"), \"free_text\" (\"text\"), "
      "\"telemetry\" (\"data\", 9 bytes) or \"unknown\" (\"payload\"); hashed callsigns "
      "read \"<...>\". Raises ValueError \"ft8_unpack: expected 10 bytes, got {n}\".");
  return def;
}

}  // namespace ft8
}  // namespace vatel::python
