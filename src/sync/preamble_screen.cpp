#include "sync/preamble_screen.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <utility>

#include "core/checked.hpp"
#include "core/panic.hpp"

namespace vatel::sync {

PreambleScreen::PreambleScreen(std::size_t num_repeats, std::size_t repeat_len)
    : repeats_(num_repeats), len_(repeat_len) {
  VATEL_ENSURE(num_repeats >= 2 && repeat_len >= 1, "PreambleScreen: no repetition to correlate");
  core::checked_mul(num_repeats, repeat_len, "preamble length");
  // A segment of one sample has only its own period, and a preamble of one
  // line cannot be told from a tone.
  half_ = std::max<std::size_t>(repeat_len / 2, 1);
  quarter_ = std::max<std::size_t>(repeat_len / 4, 1);
}

template <bool kLag, bool kLine, bool kEnergy>
void PreambleScreen::fill(const cf32* a, std::size_t n) {
  const std::size_t L = len_;
  const cf32* c = a + L;
  const cf32* h = a + half_;
  const cf32* q = a + quarter_;
  double* lag_re = lag_re_.data();
  double* lag_im = lag_im_.data();
  double* half_re = half_re_.data();
  double* half_im = half_im_.data();
  double* quarter_re = quarter_re_.data();
  double* quarter_im = quarter_im_.data();
  double* energy = energy_.data();
  for (std::size_t i = 0; i < n; ++i) {
    const double ar = a[i].real(), ai = a[i].imag();
    if constexpr (kLag) {
      const double cr = c[i].real(), ci = c[i].imag();
      lag_re[i] = cr * ar + ci * ai;
      lag_im[i] = ci * ar - cr * ai;
    }
    if constexpr (kLine) {
      const double br = h[i].real(), bi = h[i].imag();
      const double dr = q[i].real(), di = q[i].imag();
      half_re[i] = br * ar + bi * ai;
      half_im[i] = bi * ar - br * ai;
      quarter_re[i] = dr * ar + di * ai;
      quarter_im[i] = di * ar - dr * ai;
    }
    if constexpr (kEnergy) energy[i] = ar * ar + ai * ai;
  }
  if constexpr (kEnergy)
    for (std::size_t i = n; i < n + L; ++i) energy[i] = std::norm(std::complex<double>(a[i]));
}

std::optional<std::size_t> PreambleScreen::first(std::span<const cf32> iq, std::size_t from,
                                                 std::size_t to, float threshold) {
  const std::size_t L = len_;
  const std::size_t W = (repeats_ - 1) * L;  // positions summed per start
  const std::size_t span = repeats_ * L;
  if (iq.size() < span) return std::nullopt;
  to = std::min(to, iq.size() - span + 1);
  const cf32* x = iq.data();
  // The exact search rounds its sums in single precision; a position within
  // a thousandth of the threshold is left for it to judge.
  const double t = static_cast<double>(threshold) * 0.999;
  const double lead = kMaxLeadRatio / static_cast<double>(repeats_ - 1);
  // One line of power p fills each lag correlation with W p, against a
  // window energy of R L p.
  const double line = kMaxLineShare * kMaxLineShare * static_cast<double>(W) *
                      static_cast<double>(W) / (static_cast<double>(span) * static_cast<double>(span));
  for (std::size_t b = from; b < to; b += kBlock) {
    const std::size_t m = std::min(kBlock, to - b);
    // For sample indices i = b .. b + n - 1: the products with the samples
    // L, L/2 and L/4 later; the energies run L further, so that each start d
    // sums W consecutive products and the energies of [d, d + L) and
    // [d + L, d + R L).
    const std::size_t n = m - 1 + W;
    for (std::vector<double>* v : {&lag_re_, &lag_im_, &half_re_, &half_im_, &quarter_re_, &quarter_im_})
      v->resize(n);
    energy_.resize(n + L);
    const cf32* a = x + b;
    const double* lag_re = lag_re_.data();
    const double* lag_im = lag_im_.data();
    const double* energy = energy_.data();
    // Sums of start k: P, E and the first repetition's energy.
    struct Sums {
      double pr = 0.0, pi = 0.0, e = 0.0, e0 = 0.0;
    };
    const auto sums_at = [&](std::size_t k) {
      Sums s;
      for (std::size_t i = k; i < k + W; ++i) {
        s.pr += lag_re[i];
        s.pi += lag_im[i];
        s.e += energy[i + L];
      }
      for (std::size_t i = k; i < k + L; ++i) s.e0 += energy[i];
      return s;
    };
    Sums s;
    // The values that enter and leave the sums of start k when it moves on.
    const double* lag_re_in = lag_re + W;
    const double* lag_im_in = lag_im + W;
    const double* energy_l = energy + L;
    const double* energy_in = energy + L + W;
    const auto advance = [&](std::size_t k) {  // from start k to k + 1
      s.pr += lag_re_in[k] - lag_re[k];
      s.pi += lag_im_in[k] - lag_im[k];
      s.e += energy_in[k] - energy_l[k];
      s.e0 += energy_l[k] - energy[k];
      // A non-finite sample would spoil the running sums after it has left
      // the window; they start afresh while it is inside.
      if (!std::isfinite(s.pr + s.pi + s.e + s.e0)) s = sums_at(k + 1);
    };
    // An empty or non-finite window cannot hold a preamble; a NaN fails
    // every test.
    const auto passes = [&] {
      return s.e > 0.0 && s.e <= std::numeric_limits<double>::max() &&
             s.pr * s.pr + s.pi * s.pi >= t * (s.e * s.e) && s.e0 <= lead * s.e;
    };
    // From start k, the run of starts whose window is essentially one line
    // (their score does not matter): the first start after it, or the
    // block's last start, and whether that start is one line as well.
    const auto line_run = [&](std::size_t k) -> std::pair<std::size_t, bool> {
      const double* hre = half_re_.data();
      const double* him = half_im_.data();
      const double* qre = quarter_re_.data();
      const double* qim = quarter_im_.data();
      double hr = 0.0, hi = 0.0, qr = 0.0, qi = 0.0, all = 0.0;  // all: energy of [k, k + R L)
      for (std::size_t i = k; i < k + W; ++i) {
        hr += hre[i];
        hi += him[i];
        qr += qre[i];
        qi += qim[i];
      }
      for (std::size_t i = k; i < k + span; ++i) all += energy[i];
      // A non-finite value ends the run: every comparison with a NaN fails,
      // and an infinity becomes one when it leaves the window.
      const auto one_line = [&] {
        const double limit = line * all * all;
        return hr * hr + hi * hi > limit && qr * qr + qi * qi > limit;
      };
      while (one_line()) {
        if (k + 1 == m) return {k, true};
        all += energy[k + span] - energy[k];
        hr += hre[k + W] - hre[k];
        hi += him[k + W] - him[k];
        qr += qre[k + W] - qre[k];
        qi += qim[k + W] - qim[k];
        ++k;
      }
      return {k, false};
    };

    // The line products are only needed where the other tests pass: in
    // noise hardly ever, under a tone everywhere.  So a block is scanned
    // score first, and its line products formed when a start first passes;
    // but a block that follows one that ended inside a run of one-line
    // starts (a tone that goes on) is scanned lines first, its other sums
    // formed only where the run ends.  Both orders find the same start.
    std::size_t k = 0;
    bool have_line = line_first_;
    line_first_ = false;
    if (have_line) {
      fill<false, true, true>(a, n);
      const auto [end, one_line] = line_run(0);
      if (one_line) {
        line_first_ = true;
        continue;
      }
      fill<true, false, false>(a, n);
      k = end;
    } else {
      fill<true, false, true>(a, n);
    }
    s = sums_at(k);
    for (;;) {
      // The scan of the starts that fail the score: in noise, nearly all.
      while (!passes() && k + 1 != m) advance(k++);
      if (!passes()) break;  // the block's last start
      if (!have_line) {
        fill<false, true, false>(a, n);
        have_line = true;
      }
      const auto [end, one_line] = line_run(k);
      if (one_line) {
        // Through the block's last start: the tone is likely to go on.
        line_first_ = true;
        break;
      }
      k = end;
      s = sums_at(k);
      if (passes()) return b + k;
      if (k + 1 == m) break;
      advance(k++);
    }
  }
  return std::nullopt;
}

}  // namespace vatel::sync
