#include "fec/interleaver.hpp"

#include <algorithm>

#include "core/checked.hpp"
#include "core/panic.hpp"
#include "fec/bits.hpp"

namespace vatel::fec::interleaver {

namespace {

constexpr const char* kBlockZero = "interleaver dimensions must be nonzero";
constexpr const char* kConvZero = "convolutional interleaver dimensions must be nonzero";

std::size_t block_size(std::uint64_t rows, std::uint64_t cols) {
  if (rows == 0 || cols == 0) core::panic(kBlockZero);
  return core::checked_mul(rows, cols, "block interleaver size rows * cols");
}

void check_conv(std::uint64_t branches, std::uint64_t depth) {
  if (branches == 0 || depth == 0) core::panic(kConvZero);
}

// Output unit q of the stream that a convolutional interleaver (forward) or
// deinterleaver (reverse) produces from `in`: branch j = q mod I delays by
// j * M * I (forward) or (I - 1 - j) * M * I (reverse) unit positions, and a
// position before the start reads the branches' initial zeros.  Units are
// groups of `unit` values.
template <class T>
void conv_permute(std::size_t branches, std::size_t depth, bool reverse, const T* in,
                  std::size_t in_units, std::size_t unit, std::size_t first, T* out,
                  std::size_t out_units) {
  const std::size_t step = depth * branches;  // checked by conv_delay beforehand
  for (std::size_t q = first; q < first + out_units; ++q) {
    const std::size_t j = q % branches;
    const std::size_t delay = (reverse ? branches - 1 - j : j) * step;
    T* dst = out + (q - first) * unit;
    if (q >= delay && q - delay < in_units)
      std::copy_n(in + (q - delay) * unit, unit, dst);
    else
      std::fill_n(dst, unit, T{});
  }
}

}  // namespace

template <class T>
std::vector<T> block_interleave(std::uint64_t rows, std::uint64_t cols, std::span<const T> in) {
  const std::size_t b = block_size(rows, cols);
  const std::size_t blocks = in.size() / b + (in.size() % b != 0);
  std::vector<T> out(core::checked_mul(blocks, b, "block interleaver output"), T{});
  for (std::size_t blk = 0; blk < blocks; ++blk) {
    const std::size_t base = blk * b;
    const std::size_t avail = std::min(b, in.size() - base);
    T* dst = out.data() + base;
    for (std::size_t i = 0; i < avail; ++i) {
      const std::size_t r = i / cols, c = i % cols;
      dst[c * rows + r] = in[base + i];
    }
  }
  return out;
}

template <class T>
std::vector<T> block_deinterleave(std::uint64_t rows, std::uint64_t cols, std::span<const T> in) {
  const std::size_t b = block_size(rows, cols);
  std::vector<T> out(in.begin(), in.end());
  const std::size_t blocks = in.size() / b;
  for (std::size_t blk = 0; blk < blocks; ++blk) {
    const std::size_t base = blk * b;
    for (std::size_t r = 0; r < rows; ++r)
      for (std::size_t c = 0; c < cols; ++c) out[base + r * cols + c] = in[base + c * rows + r];
  }
  return out;
}

template std::vector<std::uint8_t> block_interleave(std::uint64_t, std::uint64_t,
                                                    std::span<const std::uint8_t>);
template std::vector<float> block_interleave(std::uint64_t, std::uint64_t, std::span<const float>);
template std::vector<std::uint8_t> block_deinterleave(std::uint64_t, std::uint64_t,
                                                      std::span<const std::uint8_t>);
template std::vector<float> block_deinterleave(std::uint64_t, std::uint64_t,
                                               std::span<const float>);

std::size_t conv_delay(std::uint64_t branches, std::uint64_t depth) {
  check_conv(branches, depth);
  const std::size_t step = core::checked_mul(branches, depth, "convolutional interleaver I * M");
  return core::checked_mul(step, branches - 1, "convolutional interleaver delay I * (I - 1) * M");
}

ConvInterleaver::ConvInterleaver(std::uint64_t branches, std::uint64_t depth)
    : ConvInterleaver(branches, depth, false) {}

ConvInterleaver::ConvInterleaver(std::uint64_t branches, std::uint64_t depth, bool reversed)
    : branches_(branches), depth_(depth) {
  // The queues hold M * I * (I - 1) / 2 bytes in all.
  const std::size_t total = conv_delay(branches, depth) / 2;
  storage_.assign(total, 0);
  offset_.resize(branches_);
  length_.resize(branches_);
  head_.assign(branches_, 0);
  std::size_t at = 0;
  for (std::size_t j = 0; j < branches_; ++j) {
    offset_[j] = at;
    length_[j] = (reversed ? branches_ - 1 - j : j) * depth_;
    at += length_[j];
  }
}

void ConvInterleaver::feed_into(std::span<const std::uint8_t> in, std::uint8_t* out) noexcept {
  for (std::size_t i = 0; i < in.size(); ++i) {
    const std::size_t j = fed_ % branches_;
    ++fed_;
    const std::size_t len = length_[j];
    if (len == 0) {
      out[i] = in[i];
      continue;
    }
    std::uint8_t& slot = storage_[offset_[j] + head_[j]];
    out[i] = slot;
    slot = in[i];
    if (++head_[j] == len) head_[j] = 0;
  }
}

std::vector<std::uint8_t> ConvInterleaver::feed(std::span<const std::uint8_t> in) {
  std::vector<std::uint8_t> out(in.size());
  feed_into(in, out.data());
  return out;
}

ConvDeinterleaver::ConvDeinterleaver(std::uint64_t branches, std::uint64_t depth)
    : queues_(branches, depth, true) {}

void ConvDeinterleaver::feed_into(std::span<const std::uint8_t> in, std::uint8_t* out) noexcept {
  queues_.feed_into(in, out);
}

std::vector<std::uint8_t> ConvDeinterleaver::feed(std::span<const std::uint8_t> in) {
  return queues_.feed(in);
}

std::vector<std::uint8_t> interleave_bits(const InterleaverKind& kind,
                                          std::span<const std::uint8_t> bits) {
  switch (kind.tag) {
    case InterleaverKind::Tag::None: return {bits.begin(), bits.end()};
    case InterleaverKind::Tag::Block: return block_interleave<std::uint8_t>(kind.a, kind.b, bits);
    case InterleaverKind::Tag::Convolutional: {
      const std::size_t branches = kind.a, depth = kind.b;
      const std::size_t delay = conv_delay(branches, depth);
      std::size_t bytes = bits.size() / 8 + (bits.size() % 8 != 0);
      if (bytes % branches != 0) bytes = core::checked_add(bytes, branches - bytes % branches);
      std::vector<std::uint8_t> packed(bytes, 0);
      bits::pack_padded_into(bits, packed.data());
      const std::size_t total = core::checked_add(bytes, delay, "convolutional interleaver output");
      std::vector<std::uint8_t> mixed(total);
      conv_permute(branches, depth, false, packed.data(), bytes, 1, 0, mixed.data(), total);
      std::vector<std::uint8_t> out(core::checked_mul(total, 8, "convolutional interleaver output"));
      bits::unpack_into(mixed, out.data());
      return out;
    }
  }
  return {};
}

std::vector<std::uint8_t> deinterleave_bits(const InterleaverKind& kind,
                                            std::span<const std::uint8_t> bits) {
  switch (kind.tag) {
    case InterleaverKind::Tag::None: return {bits.begin(), bits.end()};
    case InterleaverKind::Tag::Block: return block_deinterleave<std::uint8_t>(kind.a, kind.b, bits);
    case InterleaverKind::Tag::Convolutional: {
      const std::size_t delay = conv_delay(kind.a, kind.b);
      const std::size_t bytes = bits.size() / 8;
      if (bytes <= delay) return {};
      std::vector<std::uint8_t> packed(bytes);
      bits::pack_padded_into(bits.first(bytes * 8), packed.data());
      std::vector<std::uint8_t> mixed(bytes - delay);
      conv_permute(kind.a, kind.b, true, packed.data(), bytes, 1, delay, mixed.data(),
                   bytes - delay);
      std::vector<std::uint8_t> out(mixed.size() * 8);
      bits::unpack_into(mixed, out.data());
      return out;
    }
  }
  return {};
}

std::vector<float> deinterleave_soft(const InterleaverKind& kind, std::span<const float> soft) {
  switch (kind.tag) {
    case InterleaverKind::Tag::None: return {soft.begin(), soft.end()};
    case InterleaverKind::Tag::Block: return block_deinterleave<float>(kind.a, kind.b, soft);
    case InterleaverKind::Tag::Convolutional: {
      const std::size_t delay = conv_delay(kind.a, kind.b);
      const std::size_t groups = soft.size() / 8;
      if (groups <= delay) return {};
      std::vector<float> out((groups - delay) * 8);
      conv_permute(kind.a, kind.b, true, soft.data(), groups, 8, delay, out.data(), groups - delay);
      return out;
    }
  }
  return {};
}

}  // namespace vatel::fec::interleaver
