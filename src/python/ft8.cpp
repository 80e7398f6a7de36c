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

const ClassDefBase& ft8_mod() {
  static const ClassDef<Ft8Mod> def =
      ClassDef<Ft8Mod>::make("Ft8Mod(fs, base_hz, rf_hz, gain)", "FT8 modulator: 58 data tones to a 79-symbol burst.")
          .init<&construct<Ft8Mod, float, float, float, float>>()
          .def<&Ft8Mod::modulate>("modulate($self, tones)", "Returns the complex64 burst.");
  return def;
}
const ClassDefBase& ft8_demod() {
  static const ClassDef<Ft8Demod> def =
      ClassDef<Ft8Demod>::make("Ft8Demod(fs, base_hz)", "FT8 tone demodulator of a time-aligned burst.")
          .init<&construct<Ft8Demod, float, float>>()
          .def<&Ft8Demod::demodulate>("demodulate($self, iq)", "Returns the 58 data tones.");
  return def;
}
const ClassDefBase& ft8_codec() {
  static const ClassDef<Ft8CodecClass> def =
      ClassDef<Ft8CodecClass>::make("Ft8Codec()", "FT8 codec: CRC-14, LDPC(174, 91) and the Gray tone map.")
          .init<&construct<Ft8CodecClass>>()
          .def_static<&encode<codec::Ft8Codec>>("encode(payload)", "10 payload bytes to 58 tones.")
          .def_static<&decode_hard<codec::Ft8Codec>>("decode_hard(tones)", "58 tones to the payload, or None.")
          .def_static<&decode_soft<codec::Ft8Codec>>("decode_soft(llr)", "174 soft bits to the payload, or None.");
  return def;
}
const ClassDefBase& ft4_mod() {
  static const ClassDef<Ft4Mod> def =
      ClassDef<Ft4Mod>::make("Ft4Mod(fs, base_hz, rf_hz, gain)", "FT4 modulator: 87 data tones to a 105-symbol burst.")
          .init<&construct<Ft4Mod, float, float, float, float>>()
          .def<&Ft4Mod::modulate>("modulate($self, tones)", "Returns the complex64 burst.");
  return def;
}
const ClassDefBase& ft4_demod() {
  static const ClassDef<Ft4Demod> def =
      ClassDef<Ft4Demod>::make("Ft4Demod(fs, base_hz)", "FT4 tone demodulator of a time-aligned burst.")
          .init<&construct<Ft4Demod, float, float>>()
          .def<&Ft4Demod::demodulate>("demodulate($self, iq)", "Returns the 87 data tones.");
  return def;
}
const ClassDefBase& ft4_codec() {
  static const ClassDef<Ft4CodecClass> def =
      ClassDef<Ft4CodecClass>::make("Ft4Codec()", "FT4 codec: CRC-14, LDPC(174, 91), whitening and the Gray tone map.")
          .init<&construct<Ft4CodecClass>>()
          .def_static<&encode<codec::Ft4Codec>>("encode(payload)", "10 payload bytes to 87 tones.")
          .def_static<&decode_hard<codec::Ft4Codec>>("decode_hard(tones)", "87 tones to the payload, or None.")
          .def_static<&decode_soft<codec::Ft4Codec>>("decode_soft(llr)", "174 soft bits to the payload, or None.");
  return def;
}

const FunctionDef& ft8_sync_function() {
  static const FunctionDef def = FunctionDef::make<&ft8_sync>(
      "ft8_sync(iq, fs, base_hz, max_hz, t_min, t_max, max_cand)", "Costas-array search for FT8 bursts.");
  return def;
}
const FunctionDef& ft4_sync_function() {
  static const FunctionDef def = FunctionDef::make<&ft4_sync>(
      "ft4_sync(iq, fs, base_hz, max_hz, t_min, t_max, max_cand)", "Sync-block search for FT4 bursts.");
  return def;
}
const FunctionDef& ft8_pack_standard() {
  static const FunctionDef def =
      FunctionDef::make<&pack_standard>("ft8_pack_standard(call_to, call_de, extra)", "Packs a standard message.");
  return def;
}
const FunctionDef& ft8_pack_free_text() {
  static const FunctionDef def = FunctionDef::make<&pack_free_text>("ft8_pack_free_text(text)", "Packs free text.");
  return def;
}
const FunctionDef& ft8_pack_telemetry() {
  static const FunctionDef def =
      FunctionDef::make<&pack_telemetry>("ft8_pack_telemetry(data)", "Packs 9 bytes of telemetry.");
  return def;
}
const FunctionDef& ft8_unpack() {
  static const FunctionDef def = FunctionDef::make<&unpack>("ft8_unpack(payload)", "Unpacks a 10-byte payload.");
  return def;
}

}  // namespace ft8
}  // namespace vatel::python
