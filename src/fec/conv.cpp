#include "fec/conv.hpp"

#include <immintrin.h>

#include <bit>
#include <cstring>

#include "core/buffer.hpp"
#include "core/checked.hpp"
#include "core/cpu.hpp"
#include "core/panic.hpp"

namespace vatel::fec::conv {

namespace {

// The metric of unreached states (bit pattern 0xFEFFFFFF).
constexpr float kUnreached = -1.7014117e38f;
static_assert(std::bit_cast<std::uint32_t>(kUnreached) == 0xFEFFFFFFu);

// Both outputs of both codes tap the newest and the oldest register bit, so
// the four branches of a butterfly carry one output o and its complement
// o ^ 3: (2i, 0) -> o, (2i + 1, 0) -> o ^ 3, (2i, 1) -> o ^ 3, (2i + 1, 1) -> o.
constexpr bool taps_both_ends(const ConvCode& c) {
  const unsigned top = 1u << c.memory;
  return (c.first_mask & 1u) && (c.second_mask & 1u) && (c.first_mask & top) &&
         (c.second_mask & top);
}
static_assert(taps_both_ends(kK5) && taps_both_ends(kK7));

constexpr std::array<PuncturePattern, 5> kPatterns{{
    {1, {1}, {1}, 2},
    {2, {1, 1}, {1, 0}, 3},
    {3, {1, 1, 0}, {1, 0, 1}, 4},
    {5, {1, 1, 0, 1, 0}, {1, 0, 1, 0, 1}, 6},
    {7, {1, 1, 1, 1, 0, 1, 0}, {1, 0, 0, 0, 1, 0, 1}, 8},
}};

unsigned parity(unsigned v) { return static_cast<unsigned>(__builtin_parity(v)); }

// Per trellis step: bit ns of `from_odd` is set when state ns took its
// survivor from the odd predecessor, bit ns of `written` when it took one at
// all (a state whose candidates never beat the unreached metric keeps the
// survivor 0).
struct Decision {
  std::uint64_t from_odd;
  std::uint64_t written;
};

std::vector<std::uint8_t> traceback(const Decision* d, std::size_t steps, const ConvCode& code,
                                    std::size_t message_len) {
  std::vector<std::uint8_t> bits(steps);
  const unsigned mask = code.states() - 1u;
  unsigned state = 0;  // the tail drives the encoder back to state 0
  for (std::size_t t = steps; t-- > 0;) {
    bits[t] = static_cast<std::uint8_t>((state >> (code.memory - 1)) & 1u);
    if ((d[t].written >> state) & 1u)
      state = ((state << 1) & mask) | static_cast<unsigned>((d[t].from_odd >> state) & 1u);
    else
      state = 0;
  }
  bits.resize(message_len);
  return bits;
}

std::size_t checked_steps(std::span<const float> soft, const ConvCode& code,
                          std::size_t message_len) {
  const std::size_t steps = core::checked_add(message_len, code.memory, "trellis length");
  VATEL_ENSURE(soft.size() / 2 == steps && soft.size() % 2 == 0,
               "Viterbi needs 2 * (message bits + memory) soft values");
  return steps;
}

// The butterfly sign pattern: lane i gives the metric of output o(2i, 0) as
// sa[i] * a + sb[i] * b (a bit 1 contributes the negated value).
void butterfly_signs(const ConvCode& code, float* sa, float* sb) {
  for (unsigned i = 0; i < code.states() / 2; ++i) {
    const unsigned reg = 2 * i;  // u = 0, s = 2i
    sa[i] = parity(reg & code.first_mask) ? -1.0f : 1.0f;
    sb[i] = parity(reg & code.second_mask) ? -1.0f : 1.0f;
  }
}

template <unsigned kVectors>
VATEL_TARGET_FMA void forward_avx2(const float* soft, std::size_t steps, const ConvCode& code,
                                   Decision* out) {
  constexpr unsigned kHalf = 8 * kVectors;  // butterflies
  alignas(32) float sa[kHalf], sb[kHalf], nsa[kHalf], nsb[kHalf];
  butterfly_signs(code, sa, sb);
  for (unsigned i = 0; i < kHalf; ++i) {
    nsa[i] = -sa[i];
    nsb[i] = -sb[i];
  }
  __m256 SA[kVectors], SB[kVectors], NSA[kVectors], NSB[kVectors];
  for (unsigned j = 0; j < kVectors; ++j) {
    SA[j] = _mm256_load_ps(sa + 8 * j);
    SB[j] = _mm256_load_ps(sb + 8 * j);
    NSA[j] = _mm256_load_ps(nsa + 8 * j);
    NSB[j] = _mm256_load_ps(nsb + 8 * j);
  }
  const __m256 unreached = _mm256_set1_ps(kUnreached);
  __m256 metric[2 * kVectors];
  for (auto& m : metric) m = unreached;
  metric[0] = _mm256_blend_ps(unreached, _mm256_setzero_ps(), 1);

  for (std::size_t t = 0; t < steps; ++t) {
    const __m256 a = _mm256_set1_ps(soft[2 * t]);
    const __m256 b = _mm256_set1_ps(soft[2 * t + 1]);
    __m256 next[2 * kVectors];
    std::uint64_t from_odd = 0, written = 0;
    for (unsigned j = 0; j < kVectors; ++j) {
      // Even and odd predecessors 2i and 2i + 1 of butterflies 8j ... 8j + 7.
      const __m256 lo = metric[2 * j], hi = metric[2 * j + 1];
      const __m256 even = _mm256_castpd_ps(_mm256_permute4x64_pd(
          _mm256_castps_pd(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0))),
          _MM_SHUFFLE(3, 1, 2, 0)));
      const __m256 odd = _mm256_castpd_ps(_mm256_permute4x64_pd(
          _mm256_castps_pd(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1))),
          _MM_SHUFFLE(3, 1, 2, 0)));
      const __m256 x = _mm256_add_ps(_mm256_mul_ps(SA[j], a), _mm256_mul_ps(SB[j], b));
      const __m256 nx = _mm256_add_ps(_mm256_mul_ps(NSA[j], a), _mm256_mul_ps(NSB[j], b));
      const __m256 even_reached = _mm256_cmp_ps(even, unreached, _CMP_GT_OQ);
      const __m256 odd_reached = _mm256_cmp_ps(odd, unreached, _CMP_GT_OQ);
      // Input 0 leads to state i, input 1 to state i + half; the even
      // predecessor is tried first, and only a strictly greater candidate
      // replaces the metric.
      const __m256 cand[2][2] = {
          {_mm256_add_ps(x, even), _mm256_add_ps(nx, odd)},
          {_mm256_add_ps(nx, even), _mm256_add_ps(x, odd)},
      };
      for (unsigned u = 0; u < 2; ++u) {
        const __m256 take_even =
            _mm256_and_ps(even_reached, _mm256_cmp_ps(cand[u][0], unreached, _CMP_GT_OQ));
        __m256 v = _mm256_blendv_ps(unreached, cand[u][0], take_even);
        const __m256 take_odd = _mm256_and_ps(odd_reached, _mm256_cmp_ps(cand[u][1], v, _CMP_GT_OQ));
        v = _mm256_blendv_ps(v, cand[u][1], take_odd);
        next[u * kVectors + j] = v;
        const unsigned shift = u * kHalf + 8 * j;
        from_odd |= std::uint64_t(unsigned(_mm256_movemask_ps(take_odd))) << shift;
        written |= std::uint64_t(unsigned(_mm256_movemask_ps(_mm256_or_ps(take_even, take_odd))))
                   << shift;
      }
    }
    for (unsigned q = 0; q < 2 * kVectors; ++q) metric[q] = next[q];
    out[t] = {from_odd, written};
  }
}

}  // namespace

std::vector<Branch> branch_table(const ConvCode& code) {
  const unsigned m = code.memory;
  std::vector<Branch> table(2 * code.states());
  for (unsigned s = 0; s < code.states(); ++s)
    for (unsigned u = 0; u < 2; ++u) {
      const unsigned reg = (u << m) | s;
      table[2 * s + u] = {static_cast<std::uint16_t>((s >> 1) | (u << (m - 1))),
                          static_cast<std::uint8_t>(parity(reg & code.first_mask) * 2 +
                                                    parity(reg & code.second_mask))};
    }
  return table;
}

const PuncturePattern& puncture_pattern(PunctureRate rate) noexcept {
  const auto i = static_cast<std::size_t>(rate);
  return kPatterns[i < kPatterns.size() ? i : 0];
}

namespace {

// Register bit b holds the input m - b steps back, so with the input laid
// out after m zeros, output t is the XOR of u[t + b] over the mask's bits:
// no state carried from step to step, and the loop vectorises.
template <unsigned M, unsigned First, unsigned Second>
void encode_kernel(const std::uint8_t* u, std::size_t steps, std::uint8_t* out) noexcept {
  for (std::size_t t = 0; t < steps; ++t) {
    std::uint8_t x = 0, y = 0;
    for (unsigned b = 0; b <= M; ++b) {
      if ((First >> b) & 1u) x ^= u[t + b];
      if ((Second >> b) & 1u) y ^= u[t + b];
    }
    out[2 * t] = x;
    out[2 * t + 1] = y;
  }
}

}  // namespace

std::vector<std::uint8_t> conv_encode(std::span<const std::uint8_t> bits, bool k7) {
  const ConvCode& code = code_of(k7);
  const std::size_t steps = core::checked_add(bits.size(), code.memory, "convolutional input");
  std::vector<std::uint8_t> out(core::checked_mul(steps, 2, "convolutional output"));
  // m zeros (the start state), the input bits, m zeros (the tail).
  std::vector<std::uint8_t> u(core::checked_add(steps, code.memory, "convolutional input"), 0);
  for (std::size_t i = 0; i < bits.size(); ++i) u[code.memory + i] = bits[i] & 1u;
  if (k7)
    encode_kernel<kK7.memory, kK7.first_mask, kK7.second_mask>(u.data(), steps, out.data());
  else
    encode_kernel<kK5.memory, kK5.first_mask, kK5.second_mask>(u.data(), steps, out.data());
  return out;
}

std::size_t punctured_length(std::size_t pairs, PunctureRate rate) {
  const PuncturePattern& p = puncture_pattern(rate);
  std::size_t len = core::checked_mul(pairs / p.period, p.kept_per_period, "punctured length");
  std::size_t rest = 0;
  for (std::size_t j = 0; j < pairs % p.period; ++j) rest += p.first[j] + p.second[j];
  return core::checked_add(len, rest, "punctured length");
}

std::vector<std::uint8_t> puncture(std::span<const std::uint8_t> coded, PunctureRate rate) {
  const PuncturePattern& p = puncture_pattern(rate);
  const std::size_t pairs = coded.size() / 2;
  std::vector<std::uint8_t> out(punctured_length(pairs, rate));
  // The kept positions of one period's 2p coded bits, in sending order.
  std::array<std::uint8_t, 14> kept{};
  std::size_t n_kept = 0;
  for (std::size_t j = 0; j < p.period; ++j) {
    if (p.first[j]) kept[n_kept++] = static_cast<std::uint8_t>(2 * j);
    if (p.second[j]) kept[n_kept++] = static_cast<std::uint8_t>(2 * j + 1);
  }
  const std::size_t periods = pairs / p.period;
  const std::uint8_t* c = coded.data();
  std::uint8_t* o = out.data();
  for (std::size_t q = 0; q < periods; ++q, c += 2 * p.period, o += n_kept)
    for (std::size_t t = 0; t < n_kept; ++t) o[t] = c[kept[t]];
  for (std::size_t j = 0; j < pairs % p.period; ++j) {
    if (p.first[j]) *o++ = c[2 * j];
    if (p.second[j]) *o++ = c[2 * j + 1];
  }
  return out;
}

std::vector<float> depuncture(std::span<const float> soft, PunctureRate rate, std::size_t pairs) {
  const PuncturePattern& p = puncture_pattern(rate);
  std::vector<float> out(core::checked_mul(pairs, 2, "depunctured length"), 0.0f);
  std::size_t next = 0, phase = 0;
  for (std::size_t i = 0; i < pairs && next < soft.size(); ++i) {
    if (p.first[phase] && next < soft.size()) out[2 * i] = soft[next++];
    if (p.second[phase] && next < soft.size()) out[2 * i + 1] = soft[next++];
    if (++phase == p.period) phase = 0;
  }
  return out;
}

std::vector<std::uint8_t> viterbi_decode_portable(std::span<const float> soft, bool k7,
                                                  std::size_t message_len) {
  const ConvCode& code = code_of(k7);
  const std::size_t steps = checked_steps(soft, code, message_len);
  const auto branches = branch_table(code);
  const unsigned n_states = code.states();
  core::Buffer<Decision> decisions(steps);
  std::array<float, 64> metric, next;
  metric.fill(kUnreached);
  metric[0] = 0.0f;
  for (std::size_t t = 0; t < steps; ++t) {
    const float a = soft[2 * t], b = soft[2 * t + 1];
    const float bm[4] = {a + b, a - b, b - a, -a - b};
    next.fill(kUnreached);
    Decision d{0, 0};
    for (unsigned s = 0; s < n_states; ++s) {
      if (!(metric[s] > kUnreached)) continue;
      for (unsigned u = 0; u < 2; ++u) {
        const Branch& br = branches[2 * s + u];
        const float cand = bm[br.output] + metric[s];
        if (cand > next[br.next]) {
          next[br.next] = cand;
          const std::uint64_t bit = std::uint64_t{1} << br.next;
          d.written |= bit;
          d.from_odd = (s & 1u) ? (d.from_odd | bit) : (d.from_odd & ~bit);
        }
      }
    }
    metric = next;
    decisions[t] = d;
  }
  return traceback(decisions.data(), steps, code, message_len);
}

bool viterbi_avx2_available() noexcept {
  static const bool hw = core::cpu_has_fma();  // FMA implies AVX2 in that probe
  return hw;
}

std::vector<std::uint8_t> viterbi_decode_avx2(std::span<const float> soft, bool k7,
                                              std::size_t message_len) {
  VATEL_ENSURE(viterbi_avx2_available(), "the AVX2 Viterbi needs a CPU with AVX2");
  const ConvCode& code = code_of(k7);
  const std::size_t steps = checked_steps(soft, code, message_len);
  core::Buffer<Decision> decisions(steps);
  if (k7)
    forward_avx2<4>(soft.data(), steps, code, decisions.data());
  else
    forward_avx2<1>(soft.data(), steps, code, decisions.data());
  return traceback(decisions.data(), steps, code, message_len);
}

std::vector<std::uint8_t> viterbi_decode(std::span<const float> soft, bool k7,
                                         std::size_t message_len) {
  return viterbi_avx2_available() ? viterbi_decode_avx2(soft, k7, message_len)
                                  : viterbi_decode_portable(soft, k7, message_len);
}

}  // namespace vatel::fec::conv
