// Python classes of the COFDM frame link.
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "demodulate/ofdm_frame.hpp"
#include "demodulate/ofdm_frame_stream.hpp"
#include "fec/codec_cache.hpp"
#include "modulate/ofdm_frame.hpp"
#include "multicarrier/config.hpp"
#include "waveform/frame_packet.hpp"
#include "waveform/mcs.hpp"
#include "python/registry.hpp"

namespace vatel::python {
namespace ofdm_frame {

// The native frame-link values (`modulate` alone names the binding family).
namespace native = vatel::waveform::ofdm_frame;
using native::FramePacket;
using native::Mcs;

// The Python CodecCache holds one shared handle; frame objects given it as
// their `cache` take handles of their own.
struct SharedCodecCache {
  std::shared_ptr<fec::CodecCache> cache = std::make_shared<fec::CodecCache>();
};

// The Python McsTable: its entries, the position of each being its mcs_index.
struct PyMcsTable {
  std::vector<Mcs> entries;
};

// The cache argument of the frame objects: None for a private cache, or a
// CodecCache whose handle they share.
struct OptionalCache {
  std::shared_ptr<fec::CodecCache> cache;
};

}  // namespace ofdm_frame

VATEL_PY_CLASS(ofdm_frame::SharedCodecCache);
VATEL_PY_CLASS(ofdm_frame::FramePacket);
VATEL_PY_CLASS(ofdm_frame::PyMcsTable);
VATEL_PY_CLASS(vatel::multicarrier::OfdmConfig);
VATEL_PY_CLASS(vatel::modulate::ofdm_frame::OfdmFrameMod);
VATEL_PY_CLASS(vatel::demodulate::ofdm_frame::OfdmFrameDemod);
VATEL_PY_CLASS(vatel::demodulate::ofdm_frame::OfdmFrameStreamDemod);

template <>
struct Arg<ofdm_frame::OptionalCache> {
  ofdm_frame::OptionalCache v;
  explicit Arg(PyObject* o) {
    if (o == Py_None) return;
    Instance<ofdm_frame::SharedCodecCache>* inst = instance_of<ofdm_frame::SharedCodecCache>(o);
    SharedBorrow borrow(&inst->borrow);
    v.cache = inst->value().cache;
  }
  explicit Arg(const std::string&) {}  // the default, None
  const ofdm_frame::OptionalCache& get() const { return v; }
};
template <>
struct Annotation<ofdm_frame::OptionalCache> {
  static std::string text() { return annotation_of<ofdm_frame::SharedCodecCache>() + " | None"; }
};

namespace ofdm_frame {
namespace {

SharedCodecCache new_cache() { return {}; }

// The array is only read once every argument has converted.
FramePacket new_packet(std::span<const std::uint8_t> payload, std::uint32_t sequence_num,
                       std::uint8_t mcs_index, std::uint8_t flags) {
  return {{payload.begin(), payload.end()}, sequence_num, mcs_index, flags};
}

// A copy at every read, so that changing it changes nothing in the packet.
std::vector<std::uint8_t> payload(const FramePacket& p) { return p.payload; }
std::uint32_t sequence_num(const FramePacket& p) { return p.sequence_num; }
std::uint8_t mcs_index(const FramePacket& p) { return p.mcs_index; }
std::uint8_t flags(const FramePacket& p) { return p.flags; }

PyMcsTable new_table() { return {}; }
PyMcsTable default_table() { return {native::default_ladder()}; }
std::size_t table_len(const PyMcsTable& t) { return t.entries.size(); }

// The table is unchanged unless every keyword matches.
core::Result<void> add(PyMcsTable& table, std::string_view constellation,
                       std::string_view inner_kind, std::string_view inner_code,
                       std::string_view outer_kind, std::uint64_t outer_a,
                       std::uint64_t outer_b) {
  auto mcs = native::mcs_from_keywords(constellation, inner_kind, inner_code, outer_kind, outer_a,
                                       outer_b);
  if (!mcs) return mcs.error();
  table.entries.push_back(mcs.value());
  return {};
}

using vatel::demodulate::ofdm_frame::OfdmFrameDemod;
using vatel::demodulate::ofdm_frame::OfdmFrameStreamDemod;
using vatel::demodulate::ofdm_frame::RxFrame;
using vatel::demodulate::ofdm_frame::StreamResult;
using vatel::modulate::ofdm_frame::OfdmFrameMod;
using vatel::multicarrier::OfdmConfig;

core::Result<OfdmFrameMod> new_frame_mod(const OfdmConfig& cfg, const PyMcsTable& table,
                                         std::uint64_t num_repeats, std::uint64_t repeat_len,
                                         const OptionalCache& cache) {
  return OfdmFrameMod::create(cfg, table.entries, num_repeats, repeat_len, cache.cache);
}

core::Result<OfdmFrameDemod> new_frame_demod(const OfdmConfig& cfg, const PyMcsTable& table,
                                             const OptionalCache& cache) {
  return OfdmFrameDemod::create(cfg, table.entries, cache.cache);
}

core::Result<OfdmFrameStreamDemod> new_stream(const OfdmConfig& cfg, const PyMcsTable& table,
                                              std::uint64_t num_repeats, std::uint64_t repeat_len,
                                              const OptionalCache& cache) {
  return OfdmFrameStreamDemod::create(cfg, table.entries, num_repeats, repeat_len, cache.cache);
}

FramePacket packet_of(RxFrame&& f) {
  return {std::move(f.payload), f.sequence_num, f.mcs_index, f.flags};
}

// Decoded frames only; receive errors are dropped.
std::vector<FramePacket> packets(std::vector<StreamResult>&& results) {
  std::vector<FramePacket> out;
  for (StreamResult& r : results)
    if (auto* f = std::get_if<RxFrame>(&r)) out.push_back(packet_of(std::move(*f)));
  return out;
}

using Pair = std::tuple<std::optional<FramePacket>, std::optional<std::string_view>>;

std::vector<Pair> pairs(std::vector<StreamResult>&& results) {
  std::vector<Pair> out;
  for (StreamResult& r : results) {
    if (auto* f = std::get_if<RxFrame>(&r))
      out.emplace_back(packet_of(std::move(*f)), std::nullopt);
    else
      out.emplace_back(std::nullopt, fec::frame::rx_error_text(std::get<fec::RxError>(r)));
  }
  return out;
}

core::Buffer<cf32> modulate_frame(const OfdmFrameMod& m, const FramePacket& frame,
                                  std::uint32_t per_frame_seed) {
  return m.modulate_frame(frame, per_frame_seed);
}
std::vector<FramePacket> feed(OfdmFrameStreamDemod& s, std::span<const cf32> iq) {
  return packets(s.feed(iq));
}
std::vector<Pair> feed_with_errors(OfdmFrameStreamDemod& s, std::span<const cf32> iq) {
  return pairs(s.feed(iq));
}
std::vector<FramePacket> flush(OfdmFrameStreamDemod& s) { return packets(s.flush()); }
void clear(OfdmFrameStreamDemod& s) { s.clear(); }
std::size_t buffered(const OfdmFrameStreamDemod& s) { return s.buffered(); }

}  // namespace

// The docs below are the user's reference: units, dtypes, lengths and the
// errors of each call (the conventions all calls share head the type stubs).

const ClassDefBase& codec_cache() {
  static const ClassDef<SharedCodecCache> def =
      ClassDef<SharedCodecCache>::make(
          "CodecCache()",
          "A cache of built Reed-Solomon, BCH and LDPC codes, shared by the frame modulators and "
          "demodulators it is passed to as cache, so that each code is built once. After a code "
          "of unusable parameters has raised PanicException, that kind of code cannot be had "
          "from this cache any more (PanicException again).")
          .init<&new_cache>();
  return def;
}

const ClassDefBase& frame_packet() {
  static const ClassDef<FramePacket> def =
      ClassDef<FramePacket>::make(
          "FramePacket(payload, sequence_num=0, mcs_index=0, flags=0)",
          "One frame's content: payload, a uint8 array (copied; bytes are refused with "
          "TypeError), and the header fields sequence_num (0 .. 2**32 - 1), mcs_index (the "
          "McsTable entry, 0 .. 255) and flags (0 .. 255); OverflowError outside those ranges.")
          .init<&new_packet>()
          .prop<&payload>("payload", "A new uint8 array holding a copy of the payload.")
          .prop<&sequence_num>("sequence_num", "The sequence number the header carries (int).")
          .prop<&mcs_index>("mcs_index",
                            "The index of the McsTable entry that codes the payload (int).")
          .prop<&flags>("flags", "The flags byte the header carries (int).");
  return def;
}

const ClassDefBase& mcs_table() {
  static const ClassDef<PyMcsTable> def =
      ClassDef<PyMcsTable>::make(
          "McsTable()",
          "The modulation-and-coding schemes a frame's mcs_index selects, in order; sender and "
          "receiver must hold equal tables (frame objects copy the entries when built). A new "
          "table is empty.")
          .init<&new_table>()
          .def<&add>(
              "add($self, constellation, inner_kind='none', inner_code='', outer_kind='none', "
              "outer_a=0, outer_b=0)",
              "Appends a scheme: constellation 'bpsk', 'qpsk', 'qam16', 'qam64' or 'qam256'; "
              "inner_kind 'none', 'ldpc' (inner_code 'n512r12', 'n576r23', 'n512r34'), 'conv' "
              "(K=5) or 'conv_k7' (K=7) with inner_code a rate '1/2' .. '7/8'; outer_kind 'none', "
              "'bch' (t = outer_a) or 'rs' (n = outer_a, n_parity = outer_b). Raises ValueError "
              "for an unknown keyword, leaving the table unchanged.")
          .def_static<&default_table>("default_ladder()",
                                      "A new McsTable of four schemes: BPSK, QPSK, 16-QAM and "
                                      "64-QAM, each LDPC n512r12 inside BCH t = 8.")
          .prop<&table_len>("len", "The number of entries (int).");
  return def;
}

const ClassDefBase& ofdm_frame_mod() {
  static const ClassDef<OfdmFrameMod> def =
      ClassDef<OfdmFrameMod>::make(
          "OfdmFrameMod(cfg, mcs_table, num_repeats=4, repeat_len=16, cache=None)",
          "COFDM frame transmitter for the OfdmConfig cfg and McsTable mcs_table (both copied): "
          "a preamble of num_repeats repeats of repeat_len samples and a training symbol, the "
          "14-byte header (with cfg's default header format 'vatel_sdr' only), then the payload "
          "coded by the packet's MCS entry and cfg's frame settings. cache: a CodecCache to "
          "share, or None for a private one. Raises ValueError \"McsTable must have at least one "
          "entry\"; a cfg.rf_hz other than 0 raises PanicException (bursts are baseband).")
          .init<&new_frame_mod>()
          .def<&modulate_frame>(
              "modulate_frame($self, frame, per_frame_seed=0)",
              "One burst (complex64 array) for the FramePacket frame; per_frame_seed (0 .. "
              "2**32 - 1) travels in the header and seeds a per-frame scrambler. An mcs_index "
              "beyond the table, or code parameters that give no code, raise PanicException.");
  return def;
}

const ClassDefBase& ofdm_frame_stream_demod() {
  static const ClassDef<OfdmFrameStreamDemod> def =
      ClassDef<OfdmFrameStreamDemod>::make(
          "OfdmFrameStreamDemod(cfg, mcs_table, num_repeats=4, repeat_len=16, cache=None)",
          "COFDM stream receiver for the bursts of an OfdmFrameMod built with the same "
          "arguments: finds preambles in baseband IQ fed in pieces of any size, removes the "
          "frequency offset, equalises on the training symbol and decodes. Raises the "
          "transmitter's errors, and ValueError when num_repeats < 2 or repeat_len < 1.")
          .init<&new_stream>()
          .def<&feed>("feed($self, iq)",
                      "Appends iq (complex64 array) and returns the FramePackets of the frames "
                      "it completes, in order (a list, often empty); failed frames are dropped.")
          .def<&feed_with_errors>(
              "feed_with_errors($self, iq)",
              "As feed, with one pair per frame found: (packet, None), or (None, text) with "
              "\"malformed frame header\", \"header CRC mismatch\" or \"payload CRC "
              "mismatch\".")
          .def<&flush>("flush($self)",
                       "Decodes what the buffer holds now, adding nothing, and returns the "
                       "FramePackets as feed does; an incomplete frame stays buffered.")
          .def<&clear>("clear($self)", "Forgets every buffered sample.")
          .prop<&buffered>("buffered",
                           "The number of samples held (int); samples that can no longer start "
                           "a frame are not kept.");
  return def;
}

const ClassDefBase& ofdm_frame_demod() {
  static const ClassDef<OfdmFrameDemod> def =
      ClassDef<OfdmFrameDemod>::make(
          "OfdmFrameDemod(cfg, mcs_table, cache=None)",
          "One-frame receiver for bursts of an OfdmFrameMod of the same cfg and mcs_table, given "
          "samples that start at the first header sample (after the training symbol); no "
          "equaliser. Construction fails as for OfdmFrameMod.")
          .init<&new_frame_demod>()
          .def<&OfdmFrameDemod::decode>(
              "decode($self, iq)",
              "The FramePacket decoded from iq (complex64 array; samples after the frame are "
              "ignored). Raises ValueError \"malformed frame header\" (also for samples that "
              "end early), \"header CRC mismatch\" or \"payload CRC mismatch\".");
  return def;
}

bool register_module(PyObject* module) {
  return add_class(module, codec_cache()) && add_class(module, frame_packet()) &&
         add_class(module, mcs_table()) && add_class(module, ofdm_frame_mod()) &&
         add_class(module, ofdm_frame_stream_demod()) && add_class(module, ofdm_frame_demod());
}

}  // namespace ofdm_frame
}  // namespace vatel::python
