#include "sync/ofdm_sync.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "core/checked.hpp"
#include "core/cpu.hpp"
#include "core/panic.hpp"
#include "dsp/rotator.hpp"
#include "multicarrier/cyclic_prefix.hpp"
#include "multicarrier/fft.hpp"
#include "multicarrier/unit_sequence.hpp"

namespace vatel::sync::ofdm_sync {

namespace {

// The sums of W neighbouring start positions at once: the lanes are the
// positions, so every position still adds its terms in sample order and the
// inner loop runs over contiguous floats.
template <std::size_t W>
VATEL_INLINE void correlate_positions(const float* re, const float* im, std::size_t repeats,
                                      std::size_t len, float* p_re, float* p_im, float* e) {
  float pr[W] = {}, pi[W] = {}, en[W] = {};
  for (std::size_t j = 0; j + 1 < repeats; ++j) {
    const float* ar = re + j * len;
    const float* ai = im + j * len;
    const float* br = ar + len;
    const float* bi = ai + len;
    float sr[W] = {}, si[W] = {}, se[W] = {};
    for (std::size_t i = 0; i < len; ++i) {
      for (std::size_t w = 0; w < W; ++w) {
        const float xr = ar[i + w], xi = ai[i + w], yr = br[i + w], yi = bi[i + w];
        sr[w] = sr[w] + (xr * yr + xi * yi);
        si[w] = si[w] + (yi * xr - xi * yr);
        se[w] = se[w] + (yi * yi + yr * yr);
      }
    }
    for (std::size_t w = 0; w < W; ++w) {
      pr[w] = pr[w] + sr[w];
      pi[w] = pi[w] + si[w];
      en[w] = en[w] + se[w];
    }
  }
  for (std::size_t w = 0; w < W; ++w) {
    p_re[w] = pr[w];
    p_im[w] = pi[w];
    e[w] = en[w];
  }
}

VATEL_INLINE void repeat_correlation_kernel_body(const float* re, const float* im,
                                                 std::size_t count, std::size_t repeats,
                                                 std::size_t len, float* p_re, float* p_im,
                                                 float* e) {
  constexpr std::size_t kLanes = 16;
  std::size_t d = 0;
  for (; d + kLanes <= count; d += kLanes)
    correlate_positions<kLanes>(re + d, im + d, repeats, len, p_re + d, p_im + d, e + d);
  for (; d < count; ++d) correlate_positions<1>(re + d, im + d, repeats, len, p_re + d, p_im + d, e + d);
}

// The order of ranked candidates: descending key, equal keys by position,
// NaN keys last by position.  Keys are (E / max E) * score, so the numbers
// lie in [0, 1], where the order of non-negative floats is the order of
// their bit patterns; the sort is then a stable radix sort of those bits,
// which keeps position order among equal keys by construction.
std::vector<std::uint32_t> rank_order(std::span<const float> keys) {
  const std::size_t n = keys.size();
  std::vector<std::uint32_t> order(n), nan_order;
  core::Buffer<std::uint32_t> code(n);
  std::size_t m = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::isnan(keys[i])) {
      nan_order.push_back(static_cast<std::uint32_t>(i));
      continue;
    }
    // +0 for -0, so that both zeros are one key.
    const float k = keys[i] == 0.0f ? 0.0f : keys[i];
    std::uint32_t bits;
    std::memcpy(&bits, &k, sizeof bits);
    order[m] = static_cast<std::uint32_t>(i);
    code[m] = ~bits;  // ascending ~bits is descending key
    ++m;
  }
  order.resize(m);
  std::vector<std::uint32_t> order2(m);
  core::Buffer<std::uint32_t> code2(m);
  constexpr unsigned kDigit = 11, kBuckets = 1u << kDigit;
  for (unsigned shift = 0; shift < 32; shift += kDigit) {
    std::size_t count[kBuckets + 1] = {};
    for (std::size_t i = 0; i < m; ++i) ++count[((code[i] >> shift) & (kBuckets - 1)) + 1];
    for (unsigned b = 0; b < kBuckets; ++b) count[b + 1] += count[b];
    for (std::size_t i = 0; i < m; ++i) {
      const std::size_t at = count[(code[i] >> shift) & (kBuckets - 1)]++;
      order2[at] = order[i];
      code2[at] = code[i];
    }
    order.swap(order2);
    std::swap(code, code2);
  }
  order.insert(order.end(), nan_order.begin(), nan_order.end());
  return order;
}

// out[k] = x[k+1] conj x[k], circularly, over interleaved floats so that the
// loop vectorises.
void neighbour_products(const cf32* x, cf32* out, std::size_t n) {
  const float* f = reinterpret_cast<const float*>(x);
  float* o = reinterpret_cast<float*>(out);
  const auto one = [&](std::size_t k, std::size_t next) {
    const float ar = f[2 * k], ai = f[2 * k + 1], br = f[2 * next], bi = f[2 * next + 1];
    o[2 * k] = br * ar + bi * ai;
    o[2 * k + 1] = bi * ar - br * ai;
  };
  for (std::size_t k = 0; k + 1 < n; ++k) one(k, k + 1);
  if (n != 0) one(n - 1, 0);
}

// out[k] = conj(a[k]) b[k].
void conj_products(const cf32* a, const cf32* b, cf32* out, std::size_t n) {
  const float* fa = reinterpret_cast<const float*>(a);
  const float* fb = reinterpret_cast<const float*>(b);
  float* o = reinterpret_cast<float*>(out);
  for (std::size_t k = 0; k < n; ++k) {
    const float ar = fa[2 * k], ai = fa[2 * k + 1], br = fb[2 * k], bi = fb[2 * k + 1];
    o[2 * k] = ar * br + ai * bi;
    o[2 * k + 1] = ar * bi - ai * br;
  }
}

// Start positions scored per pass: the scratch holds this many positions
// plus one preamble span of samples.
constexpr std::size_t kChunk = 4096;
// Candidates whose integer offset is estimated.
constexpr std::size_t kIntegerCandidates = 5;

}  // namespace

VATEL_FMA_KERNEL(void, repeat_correlation_kernel,
                 (const float* re, const float* im, std::size_t count, std::size_t repeats,
                  std::size_t len, float* p_re, float* p_im, float* e),
                 (re, im, count, repeats, len, p_re, p_im, e))

std::vector<OfdmSyncResult> ofdm_sync(std::span<const cf32> iq, float fs,
                                      const OfdmPreambleParams& params, std::size_t search_start,
                                      std::size_t search_end) {
  const std::size_t repeats = params.num_repeats, len = params.repeat_len;
  if (!(fs > 0.0f) || len == 0 || repeats < 2) return {};
  // Spans come from the caller unchecked: one that wraps fits nowhere.
  std::size_t repeated = 0, span = 0;
  if (__builtin_mul_overflow(repeats, len, &repeated)) return {};
  span = repeated;
  if (params.with_training_symbol) {
    const auto [nt, cp] = *params.with_training_symbol;
    std::size_t training = 0;
    if (__builtin_add_overflow(nt, cp, &training) || __builtin_add_overflow(span, training, &span))
      return {};
  }
  const std::size_t n = iq.size();
  if (span > n) return {};
  // Every start whose span ends inside the buffer, the last one included.
  const std::size_t end = std::min(n - span + 1, search_end);
  if (end <= search_start) return {};

  // One entry per position with energy, in position order; written once
  // each, so left uninitialised.
  const std::size_t positions = end - search_start;
  core::Buffer<std::size_t> starts(positions);
  core::Buffer<float> cfo(positions), score(positions), keys(positions);
  std::size_t recorded = 0;
  // Each position reads repeated - 1 samples past its start.
  std::vector<float> re(kChunk + repeated - 1), im(kChunk + repeated - 1);
  std::vector<float> p_re(kChunk), p_im(kChunk), energy(kChunk);
  const float radians_per_hz = (static_cast<float>(len) * dsp::kTwoPi) / fs;
  float max_energy = 0.0f;
  for (std::size_t d0 = search_start; d0 < end; d0 += kChunk) {
    const std::size_t count = std::min(kChunk, end - d0);
    const std::size_t samples = count + repeated - 1;
    const cf32* x = iq.data() + d0;
    for (std::size_t k = 0; k < samples; ++k) {
      re[k] = x[k].real();
      im[k] = x[k].imag();
    }
    repeat_correlation_kernel(re.data(), im.data(), count, repeats, len, p_re.data(),
                              p_im.data(), energy.data());
    for (std::size_t k = 0; k < count; ++k) {
      const float e = energy[k];
      if (e <= 0.0f) continue;
      const float r = (p_im[k] * p_im[k] + p_re[k] * p_re[k]) / (e * e);
      starts[recorded] = d0 + k;
      cfo[recorded] = ::atan2f(p_im[k], p_re[k]) / radians_per_hz;
      score[recorded] = r > 1.0f ? 1.0f : r;
      keys[recorded] = e;  // the energy until max E is known
      ++recorded;
      if (e > max_energy) max_energy = e;
    }
  }
  if (recorded == 0 || !(max_energy > 0.0f)) return {};
  // Positions are counted in 32 bits by the ranking.
  VATEL_ENSURE(recorded <= std::numeric_limits<std::uint32_t>::max(),
               "ofdm_sync: more than 2^32 candidate positions in one call");
  for (std::size_t i = 0; i < recorded; ++i) keys[i] = (keys[i] / max_energy) * score[i];

  std::vector<OfdmSyncResult> out;
  out.reserve(recorded);
  for (const std::uint32_t i : rank_order({keys.data(), recorded}))
    out.push_back({starts[i], cfo[i], 0, score[i]});

  if (params.with_training_symbol) {
    const auto [nt, cp] = *params.with_training_symbol;
    if (nt != 0) {
      IntegerCfoSearch search(nt, cp);
      for (std::size_t i = 0; i < std::min(kIntegerCandidates, out.size()); ++i) {
        OfdmSyncResult& c = out[i];
        const std::size_t ts = c.start_sample + repeated;  // inside iq: d + span <= n
        c.integer_cfo_bins = search.estimate(iq.subspan(ts, nt + cp), c.cfo_hz, fs);
      }
    }
  }
  return out;
}

IntegerCfoSearch::IntegerCfoSearch(std::size_t nt, std::size_t cp)
    : symbol_fft_(nt, cp),
      fft_(nt),
      derotated_(core::checked_add(nt, cp, "training symbol length")),
      products_(nt),
      spectrum_(nt),
      reference_(nt),
      nt_(nt) {
  VATEL_ENSURE(nt >= 1, "IntegerCfoSearch: empty training symbol");
  const std::vector<cf32> x = multicarrier::pseudo_random_unit_sequence(nt, multicarrier::kTrainingSeed);
  neighbour_products(x.data(), products_.data(), nt);
  fft_.process(products_, reference_);
}

std::int32_t IntegerCfoSearch::estimate(std::span<const cf32> symbol, float cfo_hz, float fs) {
  const std::size_t total = derotated_.size();
  VATEL_ENSURE(symbol.size() >= total, "IntegerCfoSearch: training symbol of " +
                                           std::to_string(symbol.size()) + " samples, expected " +
                                           std::to_string(total));
  // The mixer of the modulators with a gain of 1, which changes no bit.
  dsp::Rotator rot(-cfo_hz, fs);
  std::copy_n(symbol.data(), total, derotated_.data());
  dsp::mix_kernel(rot, derotated_.data(), derotated_.data(), total, 1.0f);
  symbol_fft_.process(derotated_);
  const cf32* s = symbol_fft_.spectrum().data();
  const std::size_t nt = nt_;
  neighbour_products(s, products_.data(), nt);
  fft_.process(products_, spectrum_);
  // corr(m) = IDFT(F conj G)(m) = conj(DFT(conj(F) G)(m)) / nt: one more
  // forward transform, and only the magnitude is compared.
  conj_products(spectrum_.data(), reference_.data(), products_.data(), nt);
  fft_.process(products_, spectrum_);
  const std::int64_t half = static_cast<std::int64_t>(nt / 2);
  const std::int64_t n = static_cast<std::int64_t>(nt);
  float best = -1.0f;
  std::int64_t shift = 0;
  for (std::int64_t m = -half; m <= half; ++m) {
    const cf32 c = spectrum_[static_cast<std::size_t>(m < 0 ? m + n : m)];
    const float metric = c.imag() * c.imag() + c.real() * c.real();
    if (metric > best) {
      best = metric;
      shift = m;
    }
  }
  return static_cast<std::int32_t>(shift);
}

}  // namespace vatel::sync::ofdm_sync
