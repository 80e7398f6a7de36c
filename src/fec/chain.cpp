#include "fec/chain.hpp"

#include <algorithm>
#include <optional>

#include "core/checked.hpp"
#include "fec/bits.hpp"
#include "fec/conv.hpp"
#include "fec/crc.hpp"
#include "fec/interleaver.hpp"
#include "fec/scrambler.hpp"

namespace vatel::fec::chain {

namespace {

using core::checked_add;
using core::checked_mul;
using Bits = std::vector<std::uint8_t>;

std::uint64_t ceil_div(std::uint64_t a, std::uint64_t b) noexcept { return a / b + (a % b != 0); }

// Whole blocks of `block` values covering `x`.
std::uint64_t blocks_of(std::uint64_t x, std::uint64_t block, const char* what) {
  return checked_mul(ceil_div(x, block), block, what);
}

// The count after an interleaving stage.  Zero dimensions are left to the
// coding, which refuses them; here they only must not divide by zero.
std::uint64_t interleaved_count(const InterleaverKind& kind, std::uint64_t x) {
  switch (kind.tag) {
    case InterleaverKind::Tag::None: return x;
    case InterleaverKind::Tag::Block: {
      const std::uint64_t b = checked_mul(kind.a, kind.b, "block interleaver size rows * cols");
      return b == 0 ? x : blocks_of(x, b, "block interleaver output");
    }
    case InterleaverKind::Tag::Convolutional: {
      const std::uint64_t branches = kind.a, depth = kind.b;
      std::uint64_t bytes = ceil_div(x, 8);
      if (branches != 0) bytes = blocks_of(bytes, branches, "convolutional interleaver input");
      // With I = 0 the product is 0 before I - 1 could wrap.
      const std::uint64_t flush = checked_mul(
          checked_mul(depth, branches, "convolutional interleaver I * M"),
          branches == 0 ? 0 : branches - 1, "convolutional interleaver delay I * (I - 1) * M");
      return checked_mul(checked_add(bytes, flush, "convolutional interleaver output"), 8,
                         "convolutional interleaver output bits");
    }
  }
  return x;
}

// An interleaving stage that passes the bits on without copying them.
Bits interleaved(const InterleaverKind& kind, Bits bits) {
  if (kind.tag == InterleaverKind::Tag::None) return bits;
  return interleaver::interleave_bits(kind, bits);
}

// One codeword, by whichever encoder the code offers.
Bits codeword(const Bch& code, std::span<const std::uint8_t> message) {
  return code.encode_block(message);
}
Bits codeword(const Ldpc& code, std::span<const std::uint8_t> message) {
  return ldpc_encode(code, message);
}

// Splits `in` into messages of the code's k symbols (the last one padded
// with zeros) and concatenates their codewords.
template <class Code>
Bits encode_blocks(const Code& code, std::span<const std::uint8_t> in, const char* what) {
  const std::size_t k = code.k(), n = code.n();
  const std::size_t blocks = ceil_div(in.size(), k);
  Bits coded(checked_mul(blocks, n, what));
  Bits message(k);
  for (std::size_t b = 0; b < blocks; ++b) {
    const std::size_t from = b * k, take = std::min(k, in.size() - from);
    std::copy_n(in.begin() + from, take, message.begin());
    std::fill(message.begin() + take, message.end(), 0);
    const auto word = std::span(coded).subspan(b * n, n);
    if constexpr (requires { code.encode_into(message, word); }) {
      code.encode_into(message, word);
    } else {
      const Bits w = codeword(code, message);
      std::copy(w.begin(), w.end(), word.begin());
    }
  }
  return coded;
}

Bits outer_encode(const OuterFec& outer, const Bits& bytes, CodecCache& cache) {
  switch (outer.tag) {
    case OuterFec::Tag::None: return bits::bytes_to_bits(bytes);
    case OuterFec::Tag::ReedSolomon:
      return bits::bytes_to_bits(encode_blocks(*cache.rs(outer.a, outer.b), bytes, "Reed-Solomon output"));
    case OuterFec::Tag::Bch:
      return encode_blocks(*cache.bch(outer.a), bits::bytes_to_bits(bytes), "BCH output");
  }
  return {};
}

Bits inner_encode(const InnerFec& inner, const Bits& in, CodecCache& cache) {
  switch (inner.kind) {
    case InnerFec::Kind::None: return in;
    case InnerFec::Kind::Ldpc: return encode_blocks(*cache.ldpc(inner.code), in, "LDPC output");
    case InnerFec::Kind::Convolutional:
      return conv::puncture(conv::conv_encode(in, inner.k7), inner.rate);
  }
  return {};
}

}  // namespace

BlockPlan block_plan(std::uint64_t payload_len, CrcKind crc, const OuterFec& outer,
                     const InnerFec& inner, const InterleaverKind& outer_interleaver,
                     const InterleaverKind& inner_interleaver, CodecCache& cache) {
  BlockPlan plan;
  plan.payload_bytes = payload_len;
  plan.with_crc_bytes = checked_add(payload_len, crc_bytes(crc), "payload with CRC");
  const std::uint64_t bytes_bits = checked_mul(plan.with_crc_bytes, 8, "payload bits");

  switch (outer.tag) {
    case OuterFec::Tag::None: plan.outer_bits = bytes_bits; break;
    case OuterFec::Tag::Bch: {
      const auto code = cache.bch(outer.a);
      plan.outer_bits = checked_mul(ceil_div(bytes_bits, code->k()), code->n(), "BCH output");
      break;
    }
    case OuterFec::Tag::ReedSolomon: {
      const auto code = cache.rs(outer.a, outer.b);
      plan.outer_bits = checked_mul(
          checked_mul(ceil_div(plan.with_crc_bytes, code->k()), code->n(), "Reed-Solomon output"),
          8, "Reed-Solomon output bits");
      break;
    }
  }

  plan.outer_interleaved_bits = interleaved_count(outer_interleaver, plan.outer_bits);

  const std::uint64_t x = plan.outer_interleaved_bits;
  switch (inner.kind) {
    case InnerFec::Kind::None: plan.inner_bits = x; break;
    case InnerFec::Kind::Ldpc: {
      const auto code = cache.ldpc(inner.code);
      plan.inner_bits = checked_mul(ceil_div(x, code->k()), code->n(), "LDPC output");
      break;
    }
    case InnerFec::Kind::Convolutional: {
      const std::uint64_t pairs =
          checked_add(x, conv::code_of(inner.k7).memory, "convolutional input");
      plan.inner_bits = conv::punctured_length(pairs, inner.rate);
      break;
    }
  }

  plan.coded_bits = interleaved_count(inner_interleaver, plan.inner_bits);
  return plan;
}

EncodedStages encode_chain_stages(std::span<const std::uint8_t> payload, CrcKind crc,
                                  const OuterFec& outer, const InnerFec& inner,
                                  const InterleaverKind& outer_interleaver,
                                  const InterleaverKind& inner_interleaver,
                                  const ScramblerKind& scrambler, ScramblerPosition position,
                                  std::uint32_t frame_seed, CodecCache& cache) {
  Bits bytes(payload.begin(), payload.end());
  crc::append_crc(crc, bytes);
  // An unusable LFSR stops the call before any coding, wherever it sits.
  std::optional<PnScrambler> lfsr;
  if (scrambler.kind == ScramblerKind::Kind::Lfsr)
    lfsr = PnScrambler::from_kind(scrambler, frame_seed);
  if (position == ScramblerPosition::BeforeOuter)
    scrambler::scramble_bytes(scrambler, frame_seed, bytes);

  EncodedStages out;
  out.outer_stage_bits = interleaved(outer_interleaver, outer_encode(outer, bytes, cache));
  out.coded_bits = interleaved(inner_interleaver, inner_encode(inner, out.outer_stage_bits, cache));
  // Energy dispersal acts on bytes only; after the inner code it is a no-op.
  if (position == ScramblerPosition::AfterInner && lfsr)
    scrambler::scramble_bits(*lfsr, out.coded_bits);
  return out;
}

}  // namespace vatel::fec::chain
