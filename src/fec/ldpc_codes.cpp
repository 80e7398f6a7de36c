#include "fec/ldpc_codes.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/cpu.hpp"
#include "core/panic.hpp"
#include "core/xorshift.hpp"

namespace vatel::fec::ldpc_codes {

namespace {

constexpr std::uint64_t kSeedBase = 0x4C44504335313200ull;  // "LDPC512\0"
constexpr std::size_t kColumnWeight = 3;

}  // namespace

Ldpc::Ldpc(LdpcCodeId id) : id_(id) {
  const auto dims = frame::ldpc_dimensions(id);
  n_ = dims.n;
  k_ = dims.k;
  m_ = dims.m;
  VATEL_ENSURE(n_ != 0, "unknown LDPC code id");

  // Message columns: three distinct rows each, the least-used candidate in
  // probe order, never a pair of rows that another column already joins.
  std::uint64_t s = kSeedBase | static_cast<std::uint64_t>(id);
  std::vector<std::uint32_t> deg(m_, 0);
  std::vector<std::uint8_t> pair_used(m_ * m_, 0);
  column_rows_.resize(k_);
  for (std::size_t j = 0; j < k_; ++j) {
    const bool pairs_exist = j > 0;  // every finished column adds three pairs
    std::array<std::size_t, kColumnWeight> chosen{};
    for (std::size_t i = 0; i < kColumnWeight; ++i) {
      const std::size_t start = static_cast<std::size_t>(core::xorshift64(s) % m_);
      std::size_t best = m_;
      for (std::size_t o = 0; o < m_; ++o) {
        const std::size_t r = (start + o) % m_;
        bool ok = true;
        for (std::size_t c = 0; c < i && ok; ++c) {
          if (chosen[c] == r) ok = false;
          else if (pairs_exist && pair_used[chosen[c] * m_ + r]) ok = false;
        }
        if (ok && (best == m_ || deg[r] < deg[best])) best = r;
      }
      if (best == m_) {
        for (std::size_t o = 0; o < m_ && best == m_; ++o) {
          const std::size_t r = (start + o) % m_;
          if (std::find(chosen.begin(), chosen.begin() + static_cast<long>(i), r) ==
              chosen.begin() + static_cast<long>(i))
            best = r;
        }
        if (best == m_) core::panic("m > col_weight guarantees a free row");
      }
      chosen[i] = best;
    }
    for (std::size_t a = 0; a < kColumnWeight; ++a) {
      ++deg[chosen[a]];
      for (std::size_t b = a + 1; b < kColumnWeight; ++b) {
        pair_used[chosen[a] * m_ + chosen[b]] = 1;
        pair_used[chosen[b] * m_ + chosen[a]] = 1;
      }
    }
    std::sort(chosen.begin(), chosen.end());
    column_rows_[j] = chosen;
  }

  check_vars_.assign(m_, {});
  var_checks_.assign(n_, {});
  for (std::size_t j = 0; j < k_; ++j) {
    for (std::size_t r : column_rows_[j]) check_vars_[r].push_back(j);
    var_checks_[j].assign(column_rows_[j].begin(), column_rows_[j].end());
  }
  // The accumulator: row 0 holds parity bit 0, row r parity bits r and r - 1.
  check_vars_[0].push_back(k_);
  for (std::size_t r = 1; r < m_; ++r) {
    check_vars_[r].push_back(k_ + r);
    check_vars_[r].push_back(k_ + r - 1);
  }
  for (std::size_t r = 0; r < m_; ++r)
    var_checks_[k_ + r] = r + 1 < m_ ? std::vector<std::size_t>{r, r + 1} : std::vector<std::size_t>{r};

  edge_slots_.assign(n_, {});
  for (std::size_t v = 0; v < n_; ++v) {
    for (std::size_t r : var_checks_[v]) {
      const auto& row = check_vars_[r];
      const auto it = std::find(row.begin(), row.end(), v);
      if (it == row.end()) core::panic("bit is incident to its check");
      edge_slots_[v].push_back(static_cast<std::size_t>(it - row.begin()));
    }
  }

  row_start_.resize(m_ + 1);
  row_start_[0] = 0;
  for (std::size_t r = 0; r < m_; ++r) {
    row_start_[r + 1] = row_start_[r] + static_cast<std::uint32_t>(check_vars_[r].size());
    for (std::size_t v : check_vars_[r]) edge_var_.push_back(static_cast<std::uint32_t>(v));
  }
  row_messages_ = 3 * k_ / m_;
  for (std::size_t r = 0; r < m_; ++r)
    VATEL_ENSURE(check_vars_[r].size() == row_messages_ + (r == 0 ? 1 : 2),
                 "LDPC rows must hold equal numbers of message columns");
  message_edges_.resize(3 * k_);
  for (std::size_t j = 0; j < k_; ++j)
    for (std::size_t e = 0; e < 3; ++e)
      message_edges_[3 * j + e] =
          static_cast<std::uint32_t>(edge_slots_[j][e] * m_ + var_checks_[j][e]);
  var_start_.resize(n_ + 1);
  var_start_[0] = 0;
  for (std::size_t v = 0; v < n_; ++v) {
    var_start_[v + 1] = var_start_[v] + static_cast<std::uint32_t>(var_checks_[v].size());
    for (std::size_t e = 0; e < var_checks_[v].size(); ++e)
      var_edges_.push_back(row_start_[var_checks_[v][e]] + static_cast<std::uint32_t>(edge_slots_[v][e]));
  }
}

std::vector<std::uint8_t> ldpc_encode(const Ldpc& code, std::span<const std::uint8_t> message) {
  if (message.size() != code.k()) core::panic("LDPC message must be exactly K bits");
  const std::size_t k = code.k(), m = code.m();
  std::vector<std::uint8_t> out(code.n());
  std::vector<std::uint8_t> a(m, 0);
  for (std::size_t j = 0; j < k; ++j) {
    out[j] = message[j] & 1u;
    if (out[j])
      for (std::size_t r : code.column_rows()[j]) a[r] ^= 1u;
  }
  // Row 0 holds a[0] + p_0, row r >= 1 holds a[r] + p_r + p_(r-1).
  std::uint8_t p = 0;
  for (std::size_t r = 0; r < m; ++r) {
    p ^= a[r];
    out[k + r] = p;
  }
  return out;
}

namespace {

VATEL_INLINE float tanh_approx(float x) noexcept {
  const float x2 = x * x;
  const float v = (x * (x2 * (x2 + 105.0f) + 945.0f)) / (x2 * (15.0f * x2 + 420.0f) + 945.0f);
  // Written as selects so that the row loops vectorise; beyond |x| > 4.97
  // the approximant is replaced by the saturated value.
  const float lo = x < -4.97f ? -1.0f : v;
  return x > 4.97f ? 1.0f : lo;
}

VATEL_INLINE float two_atanh_approx(float p) noexcept {
  // min(1, max(-1, p)); a NaN product clamps to -1 as max(-1, NaN) does.
  p = p > -1.0f ? p : -1.0f;
  p = p < 1.0f ? p : 1.0f;
  const float p2 = p * p;
  return 2.0f * ((p * (p2 * (64.0f * p2 - 735.0f) + 945.0f)) / (p2 * (225.0f * p2 - 1050.0f) + 945.0f));
}

}  // namespace

float pade_tanh(float x) noexcept { return tanh_approx(x); }
float pade_two_atanh(float p) noexcept { return two_atanh_approx(p); }

void check_node_min_sum(const float* q, float* c, std::size_t d, float factor) noexcept {
  float min1 = std::numeric_limits<float>::infinity();
  float min2 = min1;
  std::size_t pos = 0;
  float sigma = 1.0f;
  for (std::size_t i = 0; i < d; ++i) {
    const float a = std::fabs(q[i]);
    if (a < min1) {
      min2 = min1;
      min1 = a;
      pos = i;
    } else if (a < min2) {
      min2 = a;
    }
    if (q[i] < 0.0f) sigma = -sigma;
  }
  for (std::size_t i = 0; i < d; ++i) {
    const float si = q[i] < 0.0f ? -sigma : sigma;
    c[i] = (si * factor) * (i == pos ? min2 : min1);
  }
}

void check_node_sum_product(const float* q, float* c, std::size_t d) noexcept {
  float tau[64];
  for (std::size_t i = 0; i < d; ++i) tau[i] = tanh_approx(0.5f * q[i]);
  for (std::size_t i = 0; i < d; ++i) {
    float p = 1.0f;
    for (std::size_t k = 0; k < d; ++k)
      if (k != i) p *= tau[k];
    c[i] = two_atanh_approx(p);
  }
}

namespace {

std::size_t unsatisfied(const Ldpc& code, const std::uint8_t* hard) noexcept {
  const std::uint32_t* start = code.row_start().data();
  const std::uint32_t* var = code.edge_var().data();
  std::size_t count = 0;
  for (std::size_t r = 0; r < code.m(); ++r) {
    unsigned x = 0;
    for (std::uint32_t e = start[r]; e < start[r + 1]; ++e) x ^= hard[var[e]];
    count += x;
  }
  return count;
}

// One decoder iteration over the slot-major layout (see Ldpc::row_degree).
struct Pass {
  const float* llr;
  float* q;
  float* c;
  float* scratch;  // max(4, row degree) * M floats
  std::uint8_t* hard;
  std::uint8_t* syndrome;
  const std::uint32_t* message_edges;
  const std::array<std::size_t, 3>* column_rows;
  std::size_t k, m, degree, row_messages;
  float factor;
  bool sum_product;
};

// The check-node pass for every row, then the posteriors, hard decisions,
// variable-to-check messages and the count of unsatisfied checks.  The
// padding slot of row 0 holds q = +inf, which changes neither rule's result
// (|q| never beats a minimum, tanh saturates to exactly 1.0).
VATEL_INLINE std::size_t iteration_body(const Pass& p) {
  const std::size_t m = p.m, d = p.degree;
  float* __restrict q = p.q;
  float* __restrict c = p.c;
  if (p.sum_product) {
    float* __restrict tau = p.scratch;
    for (std::size_t i = 0; i < d * m; ++i) tau[i] = tanh_approx(0.5f * q[i]);
    for (std::size_t i = 0; i < d; ++i) {
      float* __restrict ci = c + i * m;
      for (std::size_t r = 0; r < m; ++r) ci[r] = 1.0f;
      // The product over the other edges, in increasing edge order.
      for (std::size_t k = 0; k < d; ++k) {
        if (k == i) continue;
        const float* __restrict tk = tau + k * m;
        for (std::size_t r = 0; r < m; ++r) ci[r] *= tk[r];
      }
      for (std::size_t r = 0; r < m; ++r) ci[r] = two_atanh_approx(ci[r]);
    }
  } else {
    float* __restrict min1 = p.scratch;
    float* __restrict min2 = min1 + m;
    float* __restrict pos = min2 + m;
    float* __restrict sigma = pos + m;
    const float inf = std::numeric_limits<float>::infinity();
    for (std::size_t r = 0; r < m; ++r) {
      min1[r] = inf;
      min2[r] = inf;
      pos[r] = 0.0f;
      sigma[r] = 1.0f;
    }
    for (std::size_t s = 0; s < d; ++s) {
      const float* __restrict qs = q + s * m;
      const float slot = static_cast<float>(s);
      for (std::size_t r = 0; r < m; ++r) {
        const float a = std::fabs(qs[r]);
        const bool below1 = a < min1[r];
        const bool below2 = a < min2[r];
        // A value replaces min1 only when strictly smaller (the old min1
        // becoming min2), otherwise min2 when strictly smaller.
        const float m2 = below2 ? a : min2[r];
        min2[r] = below1 ? min1[r] : m2;
        pos[r] = below1 ? slot : pos[r];
        min1[r] = below1 ? a : min1[r];
        sigma[r] = qs[r] < 0.0f ? -sigma[r] : sigma[r];
      }
    }
    const float f = p.factor;
    for (std::size_t s = 0; s < d; ++s) {
      const float* __restrict qs = q + s * m;
      float* __restrict cs = c + s * m;
      const float slot = static_cast<float>(s);
      for (std::size_t r = 0; r < m; ++r) {
        const float si = qs[r] < 0.0f ? -sigma[r] : sigma[r];
        cs[r] = (si * f) * (pos[r] == slot ? min2[r] : min1[r]);
      }
    }
  }

  // Posteriors, summed in var_checks order from the channel value.
  std::uint8_t* __restrict hard = p.hard;
  std::uint8_t* __restrict syn = p.syndrome;
  const float* __restrict llr = p.llr;
  for (std::size_t r = 0; r < m; ++r) syn[r] = 0;
  const std::uint32_t* me = p.message_edges;
  for (std::size_t j = 0; j < p.k; ++j) {
    const std::uint32_t e0 = me[3 * j], e1 = me[3 * j + 1], e2 = me[3 * j + 2];
    const float l = ((llr[j] + c[e0]) + c[e1]) + c[e2];
    const std::uint8_t h = l <= 0.0f;
    hard[j] = h;
    q[e0] = l - c[e0];
    q[e1] = l - c[e1];
    q[e2] = l - c[e2];
    const auto& rows = p.column_rows[j];
    syn[rows[0]] ^= h;
    syn[rows[1]] ^= h;
    syn[rows[2]] ^= h;
  }
  // Parity column K + r sits in row r at slot row_messages and in row r + 1
  // at slot row_messages + 1; the last one only in row M - 1.
  float* __restrict qa = q + p.row_messages * m;
  float* __restrict qb = q + (p.row_messages + 1) * m + 1;
  const float* __restrict ca = c + p.row_messages * m;
  const float* __restrict cb = c + (p.row_messages + 1) * m + 1;
  const float* __restrict lp = llr + p.k;
  std::uint8_t* __restrict hp = hard + p.k;
  for (std::size_t r = 0; r + 1 < m; ++r) {
    const float l = (lp[r] + ca[r]) + cb[r];
    hp[r] = l <= 0.0f;
    qa[r] = l - ca[r];
    qb[r] = l - cb[r];
  }
  {
    const std::size_t r = m - 1;
    const float l = lp[r] + ca[r];
    hp[r] = l <= 0.0f;
    qa[r] = l - ca[r];
  }
  std::size_t count = 0;
  syn[0] ^= hp[0];
  for (std::size_t r = 1; r < m; ++r) syn[r] ^= static_cast<std::uint8_t>(hp[r] ^ hp[r - 1]);
  for (std::size_t r = 0; r < m; ++r) count += syn[r];
  return count;
}

std::size_t iteration_portable(const Pass& p) { return iteration_body(p); }
VATEL_TARGET_FMA std::size_t iteration_avx2(const Pass& p) { return iteration_body(p); }

}  // namespace

void LdpcDecoder::reserve(const Ldpc& code) {
  const std::size_t slots = code.row_degree() * code.m();
  if (q_.size() < slots) {
    q_ = core::Buffer<float>(slots);
    c_ = core::Buffer<float>(slots);
    scratch_ = core::Buffer<float>(std::max<std::size_t>(4, code.row_degree()) * code.m());
  }
  if (hard_.size() < code.n()) {
    hard_ = core::Buffer<std::uint8_t>(code.n());
    best_ = core::Buffer<std::uint8_t>(code.n());
  }
  if (syndrome_.size() < code.m()) syndrome_ = core::Buffer<std::uint8_t>(code.m());
}

bool LdpcDecoder::decode(const Ldpc& code, std::span<const float> llr, LdpcDecodeRule rule,
                         std::span<std::uint8_t> bits, unsigned* iterations) {
  if (llr.size() != code.n()) core::panic("LDPC LLR slice must be N long");
  VATEL_ENSURE(bits.size() == code.k(), "LDPC output must hold K bits");
  if (iterations) *iterations = 0;
  const std::size_t n = code.n(), k = code.k(), m = code.m();
  reserve(code);
  std::uint8_t* hard = hard_.data();
  for (std::size_t v = 0; v < n; ++v) hard[v] = llr[v] <= 0.0f;
  std::size_t best = unsatisfied(code, hard);
  if (best == 0) {
    std::memcpy(bits.data(), hard, k);
    return true;
  }
  std::uint8_t* best_bits = best_.data();
  std::memcpy(best_bits, hard, k);

  // Variable-to-check messages start as the channel values.
  const std::size_t rm = code.row_messages(), degree = code.row_degree();
  float* q = q_.data();
  for (std::size_t j = 0; j < k; ++j)
    for (std::size_t e = 0; e < 3; ++e) q[code.message_edges()[3 * j + e]] = llr[j];
  for (std::size_t r = 0; r < m; ++r) {
    q[rm * m + r] = llr[k + r];
    if (r >= 1) q[(rm + 1) * m + r] = llr[k + r - 1];
  }
  q[(rm + 1) * m] = std::numeric_limits<float>::infinity();  // row 0's pad slot

  const Pass pass{llr.data(), q, c_.data(), scratch_.data(), hard, syndrome_.data(),
                  code.message_edges().data(), code.column_rows().data(), k, m, degree, rm,
                  rule.factor(), rule.tag == LdpcDecodeRule::Tag::SumProduct};
  static const bool hw = core::cpu_has_fma();
  const bool vector = hw && !portable_;
  for (unsigned it = 1; it <= kLdpcMaxIterations; ++it) {
    if (iterations) *iterations = it;
    const std::size_t count = vector ? iteration_avx2(pass) : iteration_portable(pass);
    if (count < best) {
      best = count;
      std::memcpy(best_bits, hard, k);
    }
    if (count == 0) break;
  }
  std::memcpy(bits.data(), best_bits, k);
  return best == 0;
}

LdpcDecoded ldpc_decode(const Ldpc& code, std::span<const float> llr, LdpcDecodeRule rule) {
  if (llr.size() != code.n()) core::panic("LDPC LLR slice must be N long");
  LdpcDecoded out;
  out.bits.resize(code.k());
  LdpcDecoder decoder;
  out.ok = decoder.decode(code, llr, rule, out.bits);
  return out;
}

}  // namespace vatel::fec::ldpc_codes
