#include <algorithm>
#include <limits>

#include "core/checked.hpp"
#include "fec/bits.hpp"
#include "fec/chain.hpp"
#include "fec/conv.hpp"
#include "fec/crc.hpp"
#include "fec/interleaver.hpp"
#include "fec/scrambler.hpp"

namespace vatel::fec::chain {

namespace {

using Bits = std::vector<std::uint8_t>;

template <class T>
void keep_at_most(std::vector<T>& v, std::uint64_t count) {
  if (v.size() > count) v.resize(count);
}

// The inner decoder's output into out.inner_bits, clearing out.inner_ok when
// a block fails or is cut short.
void inner_decode(const InnerFec& inner, const std::vector<float>& values,
                  std::uint64_t outer_interleaved_bits, CodecCache& cache, LdpcDecodeRule rule,
                  ChainOutcome& out) {
  switch (inner.kind) {
    case InnerFec::Kind::None:
      out.inner_bits.resize(values.size());
      // A value of zero carries no preference and decides for bit 1.
      for (std::size_t i = 0; i < values.size(); ++i) out.inner_bits[i] = values[i] <= 0.0f;
      return;
    case InnerFec::Kind::Ldpc: {
      const auto code = cache.ldpc(inner.code);
      const std::size_t n = code->n(), k = code->k();
      const std::size_t blocks = values.size() / n;
      if (values.size() % n != 0) out.inner_ok = false;
      out.inner_bits.resize(blocks * k);
      ldpc_codes::LdpcDecoder decoder;
      for (std::size_t b = 0; b < blocks; ++b)
        if (!decoder.decode(*code, std::span(values).subspan(b * n, n), rule,
                            std::span(out.inner_bits).subspan(b * k, k)))
          out.inner_ok = false;
      return;
    }
    case InnerFec::Kind::Convolutional: {
      // Missing values depuncture to zeros (no information), so the trellis
      // always runs over the whole terminated block.
      const std::size_t pairs =
          core::checked_add(outer_interleaved_bits, conv::code_of(inner.k7).memory,
                            "convolutional input");
      out.inner_bits = conv::viterbi_decode(conv::depuncture(values, inner.rate, pairs), inner.k7,
                                            outer_interleaved_bits);
      return;
    }
  }
}

// The whole bytes of `bits`; bits short of a byte at the end are dropped.
Bits whole_bytes(std::span<const std::uint8_t> bits) {
  return bits::bits_to_bytes(bits.first(bits.size() / 8 * 8));
}

// The outer decoder over `bits`: the CRC-protected bytes, with any fill
// that follows them.
Bits outer_decode(const OuterFec& outer, const Bits& bits, CodecCache& cache, ChainOutcome& out) {
  switch (outer.tag) {
    case OuterFec::Tag::None: return whole_bytes(bits);
    case OuterFec::Tag::Bch: {
      const auto code = cache.bch(outer.a);
      const std::size_t n = code->n(), k = code->k();
      const std::size_t blocks = bits.size() / n;
      if (bits.size() % n != 0) out.outer_ok = false;
      Bits message(blocks * k);
      for (std::size_t b = 0; b < blocks; ++b)
        if (!code->decode_into(std::span(bits).subspan(b * n, n),
                               std::span(message).subspan(b * k, k)))
          out.outer_ok = false;
      return whole_bytes(message);
    }
    case OuterFec::Tag::ReedSolomon: {
      const auto code = cache.rs(outer.a, outer.b);
      const std::size_t n = code->n(), k = code->k();
      // Bits short of a whole byte can only come from a short input, and lie
      // in a final codeword that is cut short anyway.
      const Bits received = whole_bytes(bits);
      const std::size_t words = received.size() / n;
      if (bits.size() % (8 * n) != 0) out.outer_ok = false;
      Bits bytes(words * k);
      std::uint64_t corrected = 0;
      for (std::size_t w = 0; w < words; ++w) {
        const auto status = code->decode_into(std::span(received).subspan(w * n, n),
                                              std::span(bytes).subspan(w * k, k));
        if (status.ok)
          corrected += status.corrected;
        else
          out.outer_ok = false;
      }
      out.rs_corrected = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(corrected, std::numeric_limits<std::uint32_t>::max()));
      return bytes;
    }
  }
  return {};
}

}  // namespace

ChainResult decode_chain(std::span<const float> soft, const BlockPlan& plan, CrcKind crc,
                         const OuterFec& outer, const InnerFec& inner,
                         const InterleaverKind& outer_interleaver,
                         const InterleaverKind& inner_interleaver,
                         const ScramblerKind& scrambler, ScramblerPosition position,
                         std::uint32_t frame_seed, CodecCache& cache, LdpcDecodeRule rule) {
  std::vector<float> values(soft.begin(),
                            soft.begin() + std::min<std::uint64_t>(soft.size(), plan.coded_bits));
  // An unusable LFSR stops the call before any decoding, wherever it sits.
  std::optional<PnScrambler> lfsr;
  if (scrambler.kind == ScramblerKind::Kind::Lfsr)
    lfsr = PnScrambler::from_kind(scrambler, frame_seed);
  if (position == ScramblerPosition::AfterInner && lfsr) scrambler::descramble_soft(*lfsr, values);

  if (inner_interleaver.tag != InterleaverKind::Tag::None)
    values = interleaver::deinterleave_soft(inner_interleaver, values);
  keep_at_most(values, plan.inner_bits);

  ChainOutcome out;
  out.has_crc = crc != CrcKind::None;
  out.has_outer = outer.tag != OuterFec::Tag::None;
  inner_decode(inner, values, plan.outer_interleaved_bits, cache, rule, out);

  Bits bits(out.inner_bits.begin(),
            out.inner_bits.begin() +
                std::min<std::uint64_t>(out.inner_bits.size(), plan.outer_interleaved_bits));
  if (outer_interleaver.tag != InterleaverKind::Tag::None)
    bits = interleaver::deinterleave_bits(outer_interleaver, bits);
  keep_at_most(bits, plan.outer_bits);

  Bits bytes = outer_decode(outer, bits, cache, out);
  if (bytes.size() < plan.with_crc_bytes) return RxError::MalformedHeader;
  bytes.resize(plan.with_crc_bytes);

  if (position == ScramblerPosition::BeforeOuter)
    scrambler::scramble_bytes(scrambler, frame_seed, bytes);
  out.crc_ok = crc::crc_matches(crc, bytes);
  bytes.resize(bytes.size() - std::min(bytes.size(), crc_bytes(crc)));
  out.payload = std::move(bytes);
  return out;
}

}  // namespace vatel::fec::chain
