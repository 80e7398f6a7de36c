#include "sync/dvb_t_gi_sync.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/cpu.hpp"
#include "core/panic.hpp"
#include "dsp/rotator.hpp"

namespace vatel::sync::dvb_t_gi_sync {
namespace {

constexpr std::size_t kSymbolsSummed = 4;
// 2 pi 2048 as a 32-bit float.
constexpr float kTwoPiFft = 12867.964f;

// The IEEE total order of 32-bit floats as a signed integer key.
inline std::int32_t total_order_key(float x) {
  auto bits = std::bit_cast<std::int32_t>(x);
  bits ^= static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 31) >> 1);
  return bits;
}

// Adds p[j + i] for i = 0 .. len-1, in that order, to acc[j] for
// j = 0 .. fit-1, for the three arrays at once.  Blocks of candidates stay
// in registers over the whole window; the order of the additions per
// candidate, and so every rounding, is that of the plain double loop.
struct Sums {
  float* re;
  float* im;
  float* power;
};
struct Products {
  const float* re;
  const float* im;
  const float* power;
};

// Eight lanes; the additions are lane-wise, so the order per candidate is
// unchanged by the vector width.
// (The helpers are always inlined, so the vector argument ABI note of GCC
// does not apply.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
typedef float Lanes __attribute__((vector_size(32)));

VATEL_INLINE Lanes load(const float* p) {
  Lanes v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
VATEL_INLINE void store(float* p, Lanes v) { std::memcpy(p, &v, sizeof v); }

// Sixteen candidates from j0 on.
VATEL_INLINE void add_block(const Products& p, const Sums& acc, std::size_t j0, std::size_t len) {
  Lanes re0 = load(acc.re + j0), re1 = load(acc.re + j0 + 8);
  Lanes im0 = load(acc.im + j0), im1 = load(acc.im + j0 + 8);
  Lanes pw0 = load(acc.power + j0), pw1 = load(acc.power + j0 + 8);
  const float* a = p.re + j0;
  const float* b = p.im + j0;
  const float* c = p.power + j0;
  for (std::size_t i = 0; i < len; ++i) {
    re0 += load(a + i);
    re1 += load(a + i + 8);
    im0 += load(b + i);
    im1 += load(b + i + 8);
    pw0 += load(c + i);
    pw1 += load(c + i + 8);
  }
  store(acc.re + j0, re0);
  store(acc.re + j0 + 8, re1);
  store(acc.im + j0, im0);
  store(acc.im + j0 + 8, im1);
  store(acc.power + j0, pw0);
  store(acc.power + j0 + 8, pw1);
}

VATEL_INLINE void window_sums_body(Products p, Sums acc, std::size_t fit, std::size_t len) {
  constexpr std::size_t kBlock = 16;
  std::size_t j0 = 0;
  for (; j0 + kBlock <= fit; j0 += kBlock) add_block(p, acc, j0, len);
  for (; j0 < fit; ++j0)
    for (std::size_t i = 0; i < len; ++i) {
      acc.re[j0] += p.re[j0 + i];
      acc.im[j0] += p.im[j0 + i];
      acc.power[j0] += p.power[j0 + i];
    }
}

VATEL_FMA_KERNEL(void, window_sums, (Products p, Sums acc, std::size_t fit, std::size_t len),
                 (p, acc, fit, len))
#pragma GCC diagnostic pop

inline float quality_of(float c_re, float c_im, float half_energy) {
  if (!(half_energy > 0.0f)) return 0.0f;
  return std::fmin(std::hypot(c_re, c_im) / half_energy, 1.0f);
}

}  // namespace

std::optional<GiSyncResult> GiSearch::run(std::span<const cf32> samples, std::size_t cp_len,
                                          std::size_t count) {
  const std::size_t len = samples.size();
  std::size_t need = 0;
  if (cp_len == 0 || count == 0 || __builtin_add_overflow(cp_len, count, &need) ||
      __builtin_add_overflow(need, kFftLen - 1, &need) || len < need)
    return std::nullopt;
  const std::size_t period = kFftLen + cp_len;
  // Every candidate symbol that fits reads products below len - 2048.
  const std::size_t late = len - kFftLen;
  // (No overflow: count + cp_len and the period are at most len + 1.)
  const std::size_t n_prod = std::min(late, count - 1 + cp_len + (kSymbolsSummed - 1) * period);

  prod_re_.resize(n_prod);
  prod_im_.resize(n_prod);
  power_.resize(n_prod);
  const cf32* r = samples.data();
  for (std::size_t a = 0; a < n_prod; ++a) {
    const float ar = r[a].real(), ai = r[a].imag();
    const float br = r[a + kFftLen].real(), bi = r[a + kFftLen].imag();
    prod_re_[a] = ar * br + ai * bi;
    prod_im_[a] = ai * br - ar * bi;
    power_[a] = (ar * ar + ai * ai) + (br * br + bi * bi);
  }

  c_re_.assign(count, 0.0f);
  c_im_.assign(count, 0.0f);
  half_energy_.assign(count, 0.0f);
  float* cre = c_re_.data();
  float* cim = c_im_.data();
  float* en = half_energy_.data();
  // Symbol s of candidate j counts when j + s P + cp_len <= len - 2048; the
  // candidates are contiguous, so each pass over i adds to a run of them.
  for (std::size_t s = 0; s < kSymbolsSummed; ++s) {
    const std::size_t base = s * period;
    if (base + cp_len > late) break;
    const std::size_t fit = std::min(count, late - cp_len - base + 1);
    window_sums({prod_re_.data() + base, prod_im_.data() + base, power_.data() + base},
                {cre, cim, en}, fit, cp_len);
  }

  std::size_t best = 0;
  std::int32_t best_key = std::numeric_limits<std::int32_t>::min();
  for (std::size_t j = 0; j < count; ++j) {
    en[j] = en[j] / 2.0f;
    const float metric = std::hypot(cre[j], cim[j]) - 0.95f * en[j];
    const std::int32_t key = total_order_key(metric);
    if (key >= best_key) {
      best_key = key;
      best = j;
    }
  }

  // A peak within the last half guard of a period is usually the next
  // symbol's start seen through a channel echo; prefer the period boundary
  // below it when that boundary still correlates at least half as well.
  std::size_t chosen = best;
  const std::size_t o = best % period;
  if (o != 0 && period - o <= cp_len - cp_len / 2) {
    auto rho = [&](std::size_t x) {
      if (x + cp_len > late) return 0.0f;
      float c_re = 0.0f, c_im = 0.0f, e = 0.0f;
      for (std::size_t i = 0; i < cp_len; ++i) {
        c_re += prod_re_[x + i];
        c_im += prod_im_[x + i];
        e += power_[x + i];
      }
      return quality_of(c_re, c_im, e / 2.0f);
    };
    const std::size_t boundary = best - o;
    if (rho(boundary) >= 0.5f * rho(best)) chosen = boundary;
  }

  GiSyncResult result;
  result.offset = chosen;
  result.cfo_hz = std::atan2(cim[chosen], cre[chosen]) * -kReferenceFs / kTwoPiFft;
  result.quality = quality_of(cre[chosen], cim[chosen], en[chosen]);
  return result;
}

std::optional<GiSyncResult> dvb_t_gi_sync(std::span<const cf32> samples, std::size_t cp_len,
                                          std::size_t count) {
  GiSearch search;
  return search.run(samples, cp_len, count);
}

IntegerCfoSearch::IntegerCfoSearch(std::span<const std::size_t> pilot_bins)
    : pilot_bins_(pilot_bins.begin(), pilot_bins.end()), spectrum_(kFftLen), power_(kFftLen) {
  for (std::size_t b : pilot_bins_) VATEL_ENSURE(b < kFftLen, "pilot bin must be below 2048");
}

std::int32_t IntegerCfoSearch::find(std::span<const cf32> samples, std::size_t cp_len,
                                    std::size_t offset) {
  constexpr std::size_t kWindows = 8;
  const std::size_t len = samples.size();
  const std::size_t period = kFftLen + cp_len;
  std::fill(power_.begin(), power_.end(), 0.0f);
  std::size_t start = offset;  // start of symbol p
  for (std::size_t p = 0; p < kWindows; ++p) {
    if (start > len || len - start < cp_len + kFftLen) break;
    fft_.process(samples.subspan(start + cp_len, kFftLen), spectrum_);
    for (std::size_t k = 0; k < kFftLen; ++k) {
      const float re = spectrum_[k].real(), im = spectrum_[k].imag();
      power_[k] += re * re + im * im;
    }
    if (len - start < period) break;
    start += period;
  }
  std::int32_t best = 0;
  float best_sum = -std::numeric_limits<float>::infinity();
  for (std::int32_t t = -kMaxShift; t <= kMaxShift; ++t) {
    float sum = 0.0f;
    for (std::size_t b : pilot_bins_) {
      const auto bin = static_cast<std::size_t>(static_cast<std::int64_t>(b + kFftLen) + t);
      sum += power_[bin % kFftLen];
    }
    if (sum > best_sum) {
      best_sum = sum;
      best = t;
    }
  }
  return best;
}

void derotate_carriers(std::span<const cf32> in, std::int32_t shift, std::span<cf32> out) {
  VATEL_ENSURE(out.size() >= in.size(), "derotation output must hold the input");
  const float freq_hz = (static_cast<float>(shift) * -kReferenceFs) * 0.00048828125f;
  dsp::Rotator rot(freq_hz, kReferenceFs);
  dsp::mix_kernel(rot, in.data(), out.data(), in.size(), 1.0f);
}

}  // namespace vatel::sync::dvb_t_gi_sync
