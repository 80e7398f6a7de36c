// Python classes of the COFDM frame link.
#include <memory>

#include "fec/codec_cache.hpp"
#include "python/registry.hpp"

namespace vatel::python {
namespace ofdm_frame {

// The Python CodecCache holds one shared handle; frame objects given it as
// their `cache` take handles of their own.
struct SharedCodecCache {
  std::shared_ptr<fec::CodecCache> cache = std::make_shared<fec::CodecCache>();
};

}  // namespace ofdm_frame

VATEL_PY_CLASS(ofdm_frame::SharedCodecCache);

namespace ofdm_frame {
namespace {

SharedCodecCache new_cache() { return {}; }

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

bool register_module(PyObject* module) { return add_class(module, codec_cache()); }

}  // namespace ofdm_frame
}  // namespace vatel::python
