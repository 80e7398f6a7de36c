#pragma once
// The two interleavers of the frame chain: the rectangular block interleaver
// over bits (or soft values), and the Forney convolutional interleaver over
// bytes of EN 300 744, clause 4.3.2 (branch j delays by j * M bytes).
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fec/frame.hpp"

namespace vatel::fec::interleaver {

// Block interleaving: blocks of rows * cols values, written by rows and read
// by columns; the last block is padded with zeros.  Zero dimensions, and
// dimensions whose product overflows, stop the call.
template <class T>
std::vector<T> block_interleave(std::uint64_t rows, std::uint64_t cols, std::span<const T> in);
// The inverse over every whole block; a final incomplete block passes unchanged.
template <class T>
std::vector<T> block_deinterleave(std::uint64_t rows, std::uint64_t cols, std::span<const T> in);

// I branches; branch j holds j * M bytes, initially zero.
class ConvInterleaver {
 public:
  ConvInterleaver(std::uint64_t branches, std::uint64_t depth);
  // One byte out per byte in.
  std::vector<std::uint8_t> feed(std::span<const std::uint8_t> in);
  void feed_into(std::span<const std::uint8_t> in, std::uint8_t* out) noexcept;
  std::size_t branches() const noexcept { return branches_; }
  std::size_t depth() const noexcept { return depth_; }

 private:
  friend class ConvDeinterleaver;
  ConvInterleaver(std::uint64_t branches, std::uint64_t depth, bool reversed);
  std::size_t branches_, depth_;
  std::size_t fed_ = 0;
  std::vector<std::uint8_t> storage_;  // the branch queues, back to back
  std::vector<std::size_t> offset_;    // start of branch j in storage_
  std::vector<std::size_t> length_;    // queue length of branch j
  std::vector<std::size_t> head_;      // front of branch j's queue
};

// The inverse: branch j holds (I - 1 - j) * M bytes, so that every byte is
// delayed by I * (I - 1) * M through interleaver and deinterleaver.
class ConvDeinterleaver {
 public:
  ConvDeinterleaver(std::uint64_t branches, std::uint64_t depth);
  std::vector<std::uint8_t> feed(std::span<const std::uint8_t> in);
  void feed_into(std::span<const std::uint8_t> in, std::uint8_t* out) noexcept;

 private:
  ConvInterleaver queues_;
};

// The end-to-end delay I * (I - 1) * M of a convolutional pair, checked.
std::size_t conv_delay(std::uint64_t branches, std::uint64_t depth);

// Interleaving of a bit stream by a stage kind.  Convolutional: the bits
// packed most significant first, padded with zero bytes to a multiple of I,
// followed by I * (I - 1) * M zero bytes that flush the branches.
std::vector<std::uint8_t> interleave_bits(const InterleaverKind& kind,
                                          std::span<const std::uint8_t> bits);
// Its inverse on hard bits.  Convolutional: whole bytes only, the flush
// delay removed; a stream not longer than the delay gives nothing.
std::vector<std::uint8_t> deinterleave_bits(const InterleaverKind& kind,
                                            std::span<const std::uint8_t> bits);
// Its inverse on soft values.  Convolutional: each group of eight soft values
// travels as the byte it was packed into; an incomplete final group is
// dropped, and so is the flush delay.
std::vector<float> deinterleave_soft(const InterleaverKind& kind, std::span<const float> soft);

}  // namespace vatel::fec::interleaver

namespace vatel::fec {
using interleaver::ConvDeinterleaver;
using interleaver::ConvInterleaver;
}  // namespace vatel::fec
