// Python classes of the COFDM frame link.
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fec/codec_cache.hpp"
#include "modulate/frame_packet.hpp"
#include "modulate/mcs.hpp"
#include "python/registry.hpp"

namespace vatel::python {
namespace ofdm_frame {

// The native frame-link values (`modulate` alone names the binding family).
namespace native = vatel::modulate::ofdm_frame;
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

}  // namespace ofdm_frame

VATEL_PY_CLASS(ofdm_frame::SharedCodecCache);
VATEL_PY_CLASS(ofdm_frame::FramePacket);
VATEL_PY_CLASS(ofdm_frame::PyMcsTable);

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

}  // namespace

const ClassDefBase& codec_cache() {
  static const ClassDef<SharedCodecCache> def =
      ClassDef<SharedCodecCache>::make(
          "CodecCache()",
          "A cache of built Reed-Solomon, BCH and LDPC codes, shared by the frame\n"
          "modulators and demodulators it is passed to as `cache`.")
          .init<&new_cache>();
  return def;
}

const ClassDefBase& frame_packet() {
  static const ClassDef<FramePacket> def =
      ClassDef<FramePacket>::make(
          "FramePacket(payload, sequence_num=0, mcs_index=0, flags=0)",
          "One frame's content: a uint8 payload array (copied) with the sequence number,\n"
          "MCS index and flags that the frame header carries.")
          .init<&new_packet>()
          .prop<&payload>("payload", "A new uint8 array holding a copy of the payload.")
          .prop<&sequence_num>("sequence_num")
          .prop<&mcs_index>("mcs_index")
          .prop<&flags>("flags");
  return def;
}

const ClassDefBase& mcs_table() {
  static const ClassDef<PyMcsTable> def =
      ClassDef<PyMcsTable>::make(
          "McsTable()",
          "The modulation-and-coding schemes a frame's mcs_index selects, in order;\n"
          "sender and receiver must hold equal tables.")
          .init<&new_table>()
          .def<&add>(
              "add($self, constellation, inner_kind='none', inner_code='', outer_kind='none', "
              "outer_a=0, outer_b=0)",
              "Appends a scheme: a constellation, an inner code (none, ldpc with a code name, "
              "or a convolutional kind with a puncture rate) and an outer code (none, bch with "
              "t = outer_a, or rs with n = outer_a and n_parity = outer_b).")
          .def_static<&default_table>("default_ladder()",
                                      "BPSK, QPSK, 16-QAM and 64-QAM, each with LDPC n512r12 "
                                      "inside BCH t = 8.")
          .prop<&table_len>("len", "The number of entries.");
  return def;
}

bool register_module(PyObject* module) {
  return add_class(module, codec_cache()) && add_class(module, frame_packet()) &&
         add_class(module, mcs_table());
}

}  // namespace ofdm_frame
}  // namespace vatel::python
