#pragma once
// The three irregular repeat-accumulate LDPC codes of the frame chain: every
// message bit joins three parity checks chosen by a seeded construction that
// balances the checks and avoids 4-cycles, and the parity bits form an
// accumulator chain (dual-diagonal parity part), so encoding is one pass.
// Decoding is flooding belief propagation under a chosen check-node rule.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/buffer.hpp"
#include "fec/frame.hpp"

namespace vatel::fec::ldpc_codes {

class Ldpc {
 public:
  // The code of an id; the same id always gives the same matrix.
  explicit Ldpc(LdpcCodeId id);

  LdpcCodeId id() const noexcept { return id_; }
  std::size_t n() const noexcept { return n_; }
  std::size_t k() const noexcept { return k_; }
  std::size_t m() const noexcept { return m_; }

  // For each message column, its three check rows in ascending order.
  const std::vector<std::array<std::size_t, 3>>& column_rows() const noexcept { return column_rows_; }
  // For each check row: its message columns in increasing order, then parity
  // column K + r, then (r >= 1) parity column K + r - 1.
  const std::vector<std::vector<std::size_t>>& check_vars() const noexcept { return check_vars_; }
  // For each variable node, its check rows in ascending order.
  const std::vector<std::vector<std::size_t>>& var_checks() const noexcept { return var_checks_; }
  // For each variable node and each of its checks, its position in that
  // row's check_vars list.
  const std::vector<std::vector<std::size_t>>& edge_slots() const noexcept { return edge_slots_; }

  // Flat views for the decoder: the edges of row r are row_start[r] ...
  // row_start[r + 1] - 1, edge e joins variable edge_var[e]; the edges of
  // variable v, in var_checks order, are var_edges[var_start[v] ...].
  const std::vector<std::uint32_t>& row_start() const noexcept { return row_start_; }
  const std::vector<std::uint32_t>& edge_var() const noexcept { return edge_var_; }
  const std::vector<std::uint32_t>& var_start() const noexcept { return var_start_; }
  const std::vector<std::uint32_t>& var_edges() const noexcept { return var_edges_; }
  std::size_t edges() const noexcept { return edge_var_.size(); }

  // The decoder's layout: every row padded to `row_degree` slots (row 0 has
  // one pad slot at its end), messages stored slot-major at slot * M + row so
  // that the check-node pass runs across rows.  Message column j's three
  // edges are message_edges[3j ...]; every row holds `row_messages` message
  // columns in slots 0 .. row_messages - 1, then its parity columns.
  std::size_t row_degree() const noexcept { return row_messages_ + 2; }
  std::size_t row_messages() const noexcept { return row_messages_; }
  const std::vector<std::uint32_t>& message_edges() const noexcept { return message_edges_; }

 private:
  LdpcCodeId id_;
  std::size_t n_, k_, m_;
  std::vector<std::array<std::size_t, 3>> column_rows_;
  std::vector<std::vector<std::size_t>> check_vars_, var_checks_, edge_slots_;
  std::vector<std::uint32_t> row_start_, edge_var_, var_start_, var_edges_;
  std::size_t row_messages_ = 0;
  std::vector<std::uint32_t> message_edges_;
};

// The N-bit codeword of exactly K message bits: the message, then the M
// accumulator parity bits.
std::vector<std::uint8_t> ldpc_encode(const Ldpc& code, std::span<const std::uint8_t> message);

struct LdpcDecoded {
  std::vector<std::uint8_t> bits;  // K hard bits
  bool ok = false;                 // the bits come from a word satisfying every check
};

// The iteration limit of the decoder.
inline constexpr unsigned kLdpcMaxIterations = 50;

// Message storage of the decoder, reusable across calls of one code size.
class LdpcDecoder {
 public:
  // `portable` forces the baseline build of the message passes even where
  // the CPU has AVX2 (both give the same bits).
  explicit LdpcDecoder(bool portable = false) : portable_(portable) {}

  // Decodes exactly N soft values (positive favours 0) into K bits written
  // to `bits`; returns the success flag.  `iterations`, when given, receives
  // the number of iterations run (0 when the channel decisions already
  // satisfy every check).
  bool decode(const Ldpc& code, std::span<const float> llr, LdpcDecodeRule rule,
              std::span<std::uint8_t> bits, unsigned* iterations = nullptr);

 private:
  void reserve(const Ldpc& code);
  bool portable_;
  core::Buffer<float> q_, c_, scratch_;
  core::Buffer<std::uint8_t> hard_, best_, syndrome_;
};

// Decodes exactly N soft values; allocates its message arrays per call.
LdpcDecoded ldpc_decode(const Ldpc& code, std::span<const float> llr, LdpcDecodeRule rule);

// The check-node kernels over one row's d incoming messages q, writing the
// d check-to-variable messages c: min-sum with a factor (1.0 for MinSum), and
// sum-product with the approximations below.
void check_node_min_sum(const float* q, float* c, std::size_t d, float factor) noexcept;
void check_node_sum_product(const float* q, float* c, std::size_t d) noexcept;

// The rational approximations of the sum-product rule, exposed for tests:
// the [5/4] Pade approximants of tanh(x) (saturating beyond |x| > 4.97) and
// of 2 atanh(p) (p clamped to [-1, 1]).
float pade_tanh(float x) noexcept;
float pade_two_atanh(float p) noexcept;

// The largest check-to-variable message of the sum-product rule: the
// approximant of 2 atanh at |p| = 1, 2 * 274 / 120.
inline constexpr float kMaxSumProductMessage = 2.0f * 274.0f / 120.0f;

}  // namespace vatel::fec::ldpc_codes

namespace vatel::fec {
using ldpc_codes::Ldpc;
using ldpc_codes::ldpc_decode;
using ldpc_codes::ldpc_encode;
}  // namespace vatel::fec
