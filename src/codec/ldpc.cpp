#include "codec/ldpc.hpp"

#include <bit>

namespace vatel::codec::ldpc {
namespace {

// The Tanner graph by edges: the edges of check c are check_start[c] ..
// check_start[c] + NRW[c] - 1 in the order of NM, and bit_edge[v] holds the
// edges of bit v in the order of its checks in MN.
struct Graph {
  std::uint16_t check_start[kM + 1];
  std::uint8_t edge_bit[kEdges];
  std::uint16_t bit_edge[kN][3];
};

Graph build_graph() {
  Graph g{};
  std::size_t e = 0;
  for (std::size_t c = 0; c < kM; ++c) {
    g.check_start[c] = static_cast<std::uint16_t>(e);
    for (std::size_t i = 0; i < NRW[c]; ++i) g.edge_bit[e++] = static_cast<std::uint8_t>(NM[c][i] - 1);
  }
  g.check_start[kM] = static_cast<std::uint16_t>(e);
  for (std::size_t v = 0; v < kN; ++v)
    for (std::size_t j = 0; j < 3; ++j) {
      const std::size_t c = MN[v][j] - 1u;
      for (std::size_t k = g.check_start[c]; k < g.check_start[c + 1]; ++k)
        if (g.edge_bit[k] == v) g.bit_edge[v][j] = static_cast<std::uint16_t>(k);
    }
  return g;
}

const Graph& graph() {
  static const Graph g = build_graph();
  return g;
}

void hard_decide(const float* llr, std::uint8_t* bits) {
  for (std::size_t v = 0; v < kN; ++v) bits[v] = llr[v] <= 0.0f ? 1 : 0;
}

}  // namespace

float tanh_approx(float x) {
  if (x < -4.97f) return -1.0f;
  if (x > 4.97f) return 1.0f;
  const float x2 = x * x;
  const float x4 = x2 * x2;
  return x * (945.0f + 105.0f * x2 + x4) / (945.0f + 420.0f * x2 + 15.0f * x4);
}

float atanh_approx(float y) {
  const float y2 = y * y;
  const float y4 = y2 * y2;
  return y * (945.0f - 735.0f * y2 + 64.0f * y4) / (945.0f - 1050.0f * y2 + 225.0f * y4);
}

Codeword ldpc_encode(const Block& block) {
  Codeword cw{};
  for (std::size_t i = 0; i < block.size(); ++i) cw[i] = block[i];
  for (std::size_t r = 0; r < kM; ++r) {
    unsigned ones = 0;
    for (std::size_t i = 0; i < 12; ++i) ones += std::popcount(static_cast<unsigned>(GENERATOR[r][i] & block[i]));
    if (ones & 1u) {
      const std::size_t k = kK + r;
      cw[k / 8] |= static_cast<std::uint8_t>(0x80u >> (k % 8));
    }
  }
  return cw;
}

unsigned ldpc_count_errors(std::span<const std::uint8_t, kN> bits) {
  unsigned errors = 0;
  for (std::size_t c = 0; c < kM; ++c) {
    unsigned x = 0;
    for (std::size_t i = 0; i < NRW[c]; ++i) x ^= bits[NM[c][i] - 1u];
    errors += x & 1u;
  }
  return errors;
}

unsigned ldpc_decode_soft(std::span<const float, kN> llr, std::span<std::uint8_t, kN> bits) {
  std::uint8_t best[kN];
  hard_decide(llr.data(), best);
  unsigned best_count = ldpc_count_errors(std::span<const std::uint8_t, kN>(best, kN));
  if (best_count == 0) {
    for (std::size_t v = 0; v < kN; ++v) bits[v] = best[v];
    return 0;
  }

  const Graph& g = graph();
  float q[kEdges], t[kEdges];
  for (std::size_t e = 0; e < kEdges; ++e) {
    q[e] = llr[g.edge_bit[e]];
    t[e] = 0.0f;
  }
  std::uint8_t dec[kN];
  for (unsigned it = 0; it < kMaxIterations; ++it) {
    // Check update: every outgoing message is the product over the other
    // incoming messages, formed afresh (no division by the own term, which
    // may be zero).
    for (std::size_t c = 0; c < kM; ++c) {
      const std::size_t b = g.check_start[c], n = g.check_start[c + 1] - b;
      float th[7] = {};
      for (std::size_t i = 0; i < n; ++i) th[i] = tanh_approx(q[b + i] / 2.0f);
      for (std::size_t i = 0; i < n; ++i) {
        float prod = 1.0f;
        for (std::size_t j = 0; j < n; ++j)
          if (j != i) prod *= th[j];
        t[b + i] = 2.0f * atanh_approx(prod);
      }
    }
    for (std::size_t v = 0; v < kN; ++v) {
      const auto* e = g.bit_edge[v];
      const float z = llr[v] + t[e[0]] + t[e[1]] + t[e[2]];
      dec[v] = z <= 0.0f ? 1 : 0;
    }
    const unsigned n = ldpc_count_errors(std::span<const std::uint8_t, kN>(dec, kN));
    if (n < best_count) {
      for (std::size_t v = 0; v < kN; ++v) best[v] = dec[v];
      best_count = n;
      if (n == 0) break;
    }
    for (std::size_t v = 0; v < kN; ++v) {
      const auto* e = g.bit_edge[v];
      q[e[0]] = llr[v] + t[e[1]] + t[e[2]];
      q[e[1]] = llr[v] + t[e[0]] + t[e[2]];
      q[e[2]] = llr[v] + t[e[0]] + t[e[1]];
    }
  }
  for (std::size_t v = 0; v < kN; ++v) bits[v] = best[v];
  return best_count;
}

}  // namespace vatel::codec::ldpc
