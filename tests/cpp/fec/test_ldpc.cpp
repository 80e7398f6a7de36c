#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "fec/ldpc_codes.hpp"
#include "test_helpers.hpp"

namespace vatel::fec {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr LdpcCodeId kIds[] = {LdpcCodeId::N512R12, LdpcCodeId::N576R23, LdpcCodeId::N512R34};

bool satisfies_all_checks(const Ldpc& code, const Bytes& word) {
  for (const auto& row : code.check_vars()) {
    unsigned x = 0;
    for (std::size_t v : row) x ^= word[v];
    if (x) return false;
  }
  return true;
}

TEST(LdpcConstruction, KnownColumnAndRowDegrees) {
  const Ldpc code(LdpcCodeId::N512R12);
  EXPECT_EQ(code.column_rows()[0], (std::array<std::size_t, 3>{41, 100, 196}));
  const std::size_t per_row[] = {3, 6, 9};
  for (std::size_t c = 0; c < 3; ++c) {
    const Ldpc l(kIds[c]);
    ASSERT_EQ(l.check_vars().size(), l.m());
    for (std::size_t r = 0; r < l.m(); ++r) {
      const auto& row = l.check_vars()[r];
      ASSERT_EQ(row.size(), per_row[c] + (r == 0 ? 1 : 2)) << "row " << r;
      for (std::size_t i = 0; i < per_row[c]; ++i) {
        EXPECT_LT(row[i], l.k());
        if (i) {
          EXPECT_LT(row[i - 1], row[i]);
        }
      }
      EXPECT_EQ(row[per_row[c]], l.k() + r);
      if (r) {
        EXPECT_EQ(row[per_row[c] + 1], l.k() + r - 1);
      }
    }
    // No two message columns share two rows: no cycles of length four.
    std::set<std::pair<std::size_t, std::size_t>> pairs;
    for (const auto& col : l.column_rows()) {
      EXPECT_TRUE(col[0] < col[1] && col[1] < col[2]);
      EXPECT_TRUE(pairs.insert({col[0], col[1]}).second);
      EXPECT_TRUE(pairs.insert({col[0], col[2]}).second);
      EXPECT_TRUE(pairs.insert({col[1], col[2]}).second);
    }
    // Parity columns form the accumulator; the slots point back to the rows.
    EXPECT_EQ(l.var_checks()[l.n() - 1], std::vector<std::size_t>{l.m() - 1});
    EXPECT_EQ(l.var_checks()[l.k()], (std::vector<std::size_t>{0, 1}));
    for (std::size_t v = 0; v < l.n(); ++v)
      for (std::size_t e = 0; e < l.var_checks()[v].size(); ++e)
        EXPECT_EQ(l.check_vars()[l.var_checks()[v][e]][l.edge_slots()[v][e]], v);
    const Ldpc again(kIds[c]);
    EXPECT_EQ(again.column_rows(), l.column_rows());
    EXPECT_EQ(again.check_vars(), l.check_vars());
  }
}

TEST(LdpcEncode, CodewordsSatisfyEveryCheck) {
  for (auto id : kIds) {
    const Ldpc code(id);
    EXPECT_EQ(ldpc_encode(code, Bytes(code.k(), 0)), Bytes(code.n(), 0));
    for (std::uint32_t seed = 0; seed < 5; ++seed) {
      const auto msg = test::random_bits(code.k(), seed);
      const auto cw = ldpc_encode(code, msg);
      ASSERT_EQ(cw.size(), code.n());
      EXPECT_TRUE(std::equal(msg.begin(), msg.end(), cw.begin()));
      EXPECT_TRUE(satisfies_all_checks(code, cw));
    }
    EXPECT_PANIC_TEXT(ldpc_encode(code, Bytes(code.k() + 1)), "LDPC message must be exactly K bits");
    EXPECT_PANIC_TEXT(ldpc_decode(code, std::vector<float>(code.n() - 1), LdpcDecodeRule{}),
                      "LDPC LLR slice must be N long");
  }
}

const LdpcDecodeRule kRules[] = {LdpcDecodeRule::sum_product(), LdpcDecodeRule::min_sum(),
                                 LdpcDecodeRule::scaled_min_sum(0.75f)};

TEST(LdpcDecode, CleanWordReturnsAtOnce) {
  for (auto id : kIds) {
    const Ldpc code(id);
    const auto msg = test::random_bits(code.k(), 1);
    const auto soft = test::to_soft(ldpc_encode(code, msg));
    for (const auto& rule : kRules) {
      ldpc_codes::LdpcDecoder dec;
      Bytes bits(code.k());
      unsigned iterations = 99;
      EXPECT_TRUE(dec.decode(code, soft, rule, bits, &iterations));
      EXPECT_EQ(iterations, 0u);
      EXPECT_EQ(bits, msg);
    }
  }
}

TEST(LdpcDecode, ZeroSoftValuesDecideOneAndNeverConverge) {
  for (auto id : kIds) {
    const Ldpc code(id);
    for (const auto& rule : kRules) {
      ldpc_codes::LdpcDecoder dec;
      Bytes bits(code.k());
      unsigned iterations = 0;
      EXPECT_FALSE(dec.decode(code, std::vector<float>(code.n(), 0.0f), rule, bits, &iterations));
      EXPECT_EQ(iterations, ldpc_codes::kLdpcMaxIterations);
      EXPECT_EQ(bits, Bytes(code.k(), 1));
    }
  }
}

// BPSK over AWGN at 5.5 dB Eb/N0, above each code's waterfall.  The soft
// values are y / sigma^2, half the true LLR: the sum-product messages are
// bounded by 2 * 274 / 120, so channel values much larger than that would
// pin wrongly received bits (min-sum does not depend on the scale).
TEST(LdpcDecode, RecoversCodewordsThroughNoiseUnderEveryRule) {
  const double ebn0_db[] = {5.5, 5.5, 5.5};
  for (std::size_t c = 0; c < 3; ++c) {
    const Ldpc code(kIds[c]);
    const double rate = static_cast<double>(code.k()) / static_cast<double>(code.n());
    const float sigma = static_cast<float>(std::sqrt(1.0 / (2.0 * rate * std::pow(10.0, ebn0_db[c] / 10.0))));
    for (const auto& rule : kRules) {
      std::mt19937 rng(17);
      std::normal_distribution<float> noise(0.0f, sigma);
      std::size_t raw_errors = 0;
      ldpc_codes::LdpcDecoder dec;
      for (int block = 0; block < 40; ++block) {
        const auto msg = test::random_bits(code.k(), 1000 + block);
        const auto cw = ldpc_encode(code, msg);
        std::vector<float> llr(code.n());
        for (std::size_t i = 0; i < llr.size(); ++i) {
          const float y = (cw[i] ? -1.0f : 1.0f) + noise(rng);
          raw_errors += (y <= 0.0f) != (cw[i] == 1);
          llr[i] = y / (sigma * sigma);
        }
        Bytes bits(code.k());
        ASSERT_TRUE(dec.decode(code, llr, rule, bits)) << "code " << c << " block " << block
                                                       << " rule " << int(rule.tag);
        ASSERT_EQ(bits, msg);
      }
      EXPECT_GT(raw_errors, 100u);
    }
  }
}

TEST(LdpcDecode, FailureReturnsTheBestIterate) {
  // Heavy noise: the decoder gives up after 50 iterations, reports failure
  // and still returns K bits.
  const Ldpc code(LdpcCodeId::N512R34);
  std::mt19937 rng(5);
  std::normal_distribution<float> noise(0.0f, 1.5f);
  std::vector<float> llr(code.n());
  for (auto& v : llr) v = 1.0f + noise(rng);
  const auto d = ldpc_decode(code, llr, LdpcDecodeRule::min_sum());
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.bits.size(), code.k());
}

TEST(LdpcCheckNode, MinSumTiesAndSigns) {
  // Two smallest magnitudes equal: every edge gets that magnitude.
  const float q[] = {3.0f, -1.0f, 1.0f, 2.0f};
  float c[4];
  ldpc_codes::check_node_min_sum(q, c, 4, 1.0f);
  // sigma = -1; signs: other edges' product.
  EXPECT_EQ(c[0], -1.0f);
  EXPECT_EQ(c[1], 1.0f);  // first to reach the minimum: receives min2 = 1
  EXPECT_EQ(c[2], -1.0f);
  EXPECT_EQ(c[3], -1.0f);
  const float r[] = {-0.5f, 4.0f, 2.0f};
  ldpc_codes::check_node_min_sum(r, c, 3, 0.75f);
  EXPECT_EQ(c[0], 0.75f * 2.0f);
  EXPECT_EQ(c[1], -0.75f * 0.5f);
  EXPECT_EQ(c[2], -0.75f * 0.5f);
  // Zero counts as positive.
  const float z[] = {0.0f, -3.0f, 5.0f};
  ldpc_codes::check_node_min_sum(z, c, 3, 1.0f);
  EXPECT_EQ(c[0], -3.0f);
  EXPECT_EQ(c[1], 0.0f);
}

TEST(LdpcCheckNode, PadeApproximations) {
  EXPECT_EQ(ldpc_codes::pade_tanh(0.0f), 0.0f);
  EXPECT_EQ(ldpc_codes::pade_tanh(4.98f), 1.0f);
  EXPECT_EQ(ldpc_codes::pade_tanh(-5.0f), -1.0f);
  for (float x : {0.1f, 0.5f, 1.0f, 2.0f, -3.0f}) EXPECT_NEAR(ldpc_codes::pade_tanh(x), std::tanh(x), 2e-3f);
  // |P| = 1 gives the bound 2 * 274 / 120 on every message.
  EXPECT_EQ(ldpc_codes::pade_two_atanh(1.0f), 2.0f * (274.0f / 120.0f));
  EXPECT_EQ(ldpc_codes::pade_two_atanh(3.0f), 2.0f * (274.0f / 120.0f));
  EXPECT_EQ(ldpc_codes::pade_two_atanh(-1.0f), -2.0f * (274.0f / 120.0f));
  EXPECT_NEAR(ldpc_codes::pade_two_atanh(0.5f), 2.0f * std::atanh(0.5f), 1e-3f);
  // The product for each edge excludes that edge.
  const float q[] = {2.0f, -4.0f, 20.0f};
  float c[3];
  ldpc_codes::check_node_sum_product(q, c, 3);
  const float t0 = ldpc_codes::pade_tanh(1.0f), t1 = ldpc_codes::pade_tanh(-2.0f);
  EXPECT_EQ(c[2], ldpc_codes::pade_two_atanh(1.0f * t0 * t1));
  EXPECT_EQ(c[0], ldpc_codes::pade_two_atanh(1.0f * t1 * 1.0f));
}

}  // namespace
}  // namespace vatel::fec

namespace vatel::fec {
namespace {

// The flooding decoder written plainly over the row-major lists: check-node
// kernels row by row, posteriors in var_checks order, messages through
// edge_slots.  The decoder proper (slot-major, vectorised) must give the
// same bits, flag and iteration count.
struct Reference {
  Bytes bits;
  bool ok;
  unsigned iterations;
};

Reference reference_decode(const Ldpc& code, const std::vector<float>& llr, LdpcDecodeRule rule) {
  const std::size_t n = code.n(), k = code.k(), m = code.m();
  auto count_unsat = [&](const Bytes& hard) {
    std::size_t u = 0;
    for (const auto& row : code.check_vars()) {
      unsigned x = 0;
      for (std::size_t v : row) x ^= hard[v];
      u += x;
    }
    return u;
  };
  Bytes hard(n);
  for (std::size_t v = 0; v < n; ++v) hard[v] = llr[v] <= 0.0f;
  std::size_t best = count_unsat(hard);
  if (best == 0) return {Bytes(hard.begin(), hard.begin() + static_cast<long>(k)), true, 0};
  Bytes best_bits = hard;
  std::vector<std::vector<float>> q(m), c(m);
  for (std::size_t r = 0; r < m; ++r) {
    for (std::size_t v : code.check_vars()[r]) q[r].push_back(llr[v]);
    c[r].resize(q[r].size());
  }
  unsigned it = 1;
  for (; it <= ldpc_codes::kLdpcMaxIterations; ++it) {
    for (std::size_t r = 0; r < m; ++r) {
      if (rule.tag == LdpcDecodeRule::Tag::SumProduct)
        ldpc_codes::check_node_sum_product(q[r].data(), c[r].data(), q[r].size());
      else
        ldpc_codes::check_node_min_sum(q[r].data(), c[r].data(), q[r].size(), rule.factor());
    }
    std::vector<float> post(n);
    for (std::size_t v = 0; v < n; ++v) {
      float l = llr[v];
      for (std::size_t e = 0; e < code.var_checks()[v].size(); ++e)
        l += c[code.var_checks()[v][e]][code.edge_slots()[v][e]];
      post[v] = l;
      hard[v] = l <= 0.0f;
    }
    const std::size_t count = count_unsat(hard);
    if (count < best) {
      best = count;
      best_bits = hard;
    }
    if (count == 0) break;
    for (std::size_t v = 0; v < n; ++v)
      for (std::size_t e = 0; e < code.var_checks()[v].size(); ++e) {
        const std::size_t r = code.var_checks()[v][e], slot = code.edge_slots()[v][e];
        q[r][slot] = post[v] - c[r][slot];
      }
  }
  return {Bytes(best_bits.begin(), best_bits.begin() + static_cast<long>(k)), best == 0,
          std::min(it, ldpc_codes::kLdpcMaxIterations)};
}

TEST(LdpcDecode, MatchesThePlainFloodingDecoderBitForBit) {
  std::mt19937 rng(31);
  for (auto id : kIds) {
    const Ldpc code(id);
    for (const auto& rule : kRules) {
      for (int trial = 0; trial < 12; ++trial) {
        const auto cw = ldpc_encode(code, test::random_bits(code.k(), 500 + trial));
        std::vector<float> llr(code.n());
        for (std::size_t i = 0; i < llr.size(); ++i) {
          const float y = cw[i] ? -1.0f : 1.0f;
          // Gaussian noise, or small integers that make many exact ties.
          llr[i] = trial % 3 == 0 ? static_cast<float>(static_cast<int>(rng() % 5) - 2) + 0.5f * y
                                  : 2.0f * (y + std::normal_distribution<float>(0.0f, 0.8f)(rng));
        }
        const auto ref = reference_decode(code, llr, rule);
        for (bool portable : {false, true}) {
          ldpc_codes::LdpcDecoder dec(portable);
          Bytes bits(code.k());
          unsigned iterations = 0;
          const bool ok = dec.decode(code, llr, rule, bits, &iterations);
          ASSERT_EQ(ok, ref.ok) << "trial " << trial;
          ASSERT_EQ(iterations, ref.iterations) << "trial " << trial;
          ASSERT_EQ(bits, ref.bits) << "trial " << trial;
        }
      }
    }
  }
}

}  // namespace
}  // namespace vatel::fec
