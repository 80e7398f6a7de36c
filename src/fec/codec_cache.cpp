#include "fec/codec_cache.hpp"

#include <string>

#include "core/panic.hpp"

namespace vatel::fec::codec_cache {

namespace {

// Looks up `key` in the section, building and appending the code on a miss,
// all under the section's lock.  A build that throws leaves the section
// failed, with nothing appended.
template <class Section, class Match, class Build>
auto lookup(Section& section, const char* name, Match match, Build build) {
  std::lock_guard<std::mutex> lock(section.mutex);
  if (section.failed)
    core::panic(std::string("CodecCache: the ") + name +
                " section is unusable after a failed build");
  for (const auto& entry : section.entries)
    if (match(entry)) return entry.code;
  try {
    section.entries.push_back(build());
  } catch (...) {
    section.failed = true;
    throw;
  }
  return section.entries.back().code;
}

}  // namespace

std::shared_ptr<const ReedSolomon> CodecCache::rs(std::uint64_t n, std::uint64_t n_parity) {
  return lookup(
      rs_, "Reed-Solomon",
      [&](const RsEntry& e) { return e.n == n && e.n_parity == n_parity; },
      [&] { return RsEntry{n, n_parity, std::make_shared<const ReedSolomon>(n, n_parity)}; });
}

std::shared_ptr<const Bch> CodecCache::bch(std::uint64_t t) {
  constexpr std::uint64_t kMessageBits = 120;
  return lookup(
      bch_, "BCH", [&](const BchEntry& e) { return e.t == t && e.message_bits == kMessageBits; },
      [&] {
        return BchEntry{t, kMessageBits,
                        std::make_shared<const Bch>(Bch::for_120_bit_messages(t))};
      });
}

std::shared_ptr<const Ldpc> CodecCache::ldpc(LdpcCodeId id) {
  return lookup(
      ldpc_, "LDPC", [&](const LdpcEntry& e) { return e.id == id; },
      [&] { return LdpcEntry{id, std::make_shared<const Ldpc>(id)}; });
}

std::size_t CodecCache::rs_entries() const {
  std::lock_guard<std::mutex> lock(rs_.mutex);
  return rs_.entries.size();
}

std::size_t CodecCache::bch_entries() const {
  std::lock_guard<std::mutex> lock(bch_.mutex);
  return bch_.entries.size();
}

std::size_t CodecCache::ldpc_entries() const {
  std::lock_guard<std::mutex> lock(ldpc_.mutex);
  return ldpc_.entries.size();
}

}  // namespace vatel::fec::codec_cache
