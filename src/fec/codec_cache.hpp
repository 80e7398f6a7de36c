#pragma once
// A cache of constructed codes, shared by the frame objects that code with
// it.  Each kind of code (LDPC, BCH, Reed-Solomon) has its own section: a
// mutex over a list of entries appended in order of first request and never
// removed.  A build that stops the call marks its section failed for good;
// the other sections and the codes already handed out are unaffected.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "fec/bch.hpp"
#include "fec/frame.hpp"
#include "fec/ldpc_codes.hpp"
#include "fec/reed_solomon.hpp"

namespace vatel::fec::codec_cache {

class CodecCache {
 public:
  CodecCache() = default;
  CodecCache(const CodecCache&) = delete;
  CodecCache& operator=(const CodecCache&) = delete;

  // The code for (n, n_parity), built on first request; an invalid pair stops
  // the call with the "valid RS config" panic.
  std::shared_ptr<const ReedSolomon> rs(std::uint64_t n, std::uint64_t n_parity);
  // The 120-bit-message BCH code for t, built on first request; an unusable
  // t stops the call with the "valid BCH t" or "valid shortened BCH" panic.
  std::shared_ptr<const Bch> bch(std::uint64_t t);
  // The LDPC code of an id, built on first request.
  std::shared_ptr<const Ldpc> ldpc(LdpcCodeId id);

  // Entry counts, for inspection.
  std::size_t rs_entries() const;
  std::size_t bch_entries() const;
  std::size_t ldpc_entries() const;

 private:
  struct RsEntry {
    std::uint64_t n, n_parity;
    std::shared_ptr<const ReedSolomon> code;
  };
  struct BchEntry {
    std::uint64_t t, message_bits;
    std::shared_ptr<const Bch> code;
  };
  struct LdpcEntry {
    LdpcCodeId id;
    std::shared_ptr<const Ldpc> code;
  };
  template <class Entry>
  struct Section {
    mutable std::mutex mutex;
    std::vector<Entry> entries;
    bool failed = false;
  };

  Section<LdpcEntry> ldpc_;
  Section<BchEntry> bch_;
  Section<RsEntry> rs_;
};

}  // namespace vatel::fec::codec_cache

namespace vatel::fec {
using codec_cache::CodecCache;
}  // namespace vatel::fec
