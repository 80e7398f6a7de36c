#include "sync/preamble_screen.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

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

std::optional<std::size_t> PreambleScreen::first(std::span<const cf32> iq, std::size_t from,
                                                 std::size_t to, float threshold) {
  const std::size_t L = len_;
  const std::size_t W = (repeats_ - 1) * L;  // positions summed per start
  const std::size_t span = repeats_ * L;
  if (iq.size() < span) return std::nullopt;
  to = std::min(to, iq.size() - span + 1);
  const cf32* x = iq.data();
  for (std::size_t b = from; b < to; b += kBlock) {
    const std::size_t m = std::min(kBlock, to - b);
    // For sample indices i = b .. b + n - 1: the products with the sample L
    // later; the energies run L further, so that each start d sums W
    // consecutive products and the energies of [d, d + L) and
    // [d + L, d + R L).
    const std::size_t n = m - 1 + W;
    lag_re_.resize(n);
    lag_im_.resize(n);
    energy_.resize(n + L);
    double* lag_re = lag_re_.data();
    double* lag_im = lag_im_.data();
    double* energy = energy_.data();
    const cf32* a = x + b;
    const cf32* c = x + b + L;
    for (std::size_t i = 0; i < n; ++i) {
      const double ar = a[i].real(), ai = a[i].imag();
      const double cr = c[i].real(), ci = c[i].imag();
      lag_re[i] = cr * ar + ci * ai;
      lag_im[i] = ci * ar - cr * ai;
      energy[i] = ar * ar + ai * ai;
    }
    for (std::size_t i = n; i < n + L; ++i) energy[i] = std::norm(std::complex<double>(a[i]));
    // Sums of start k: P, E and the first repetition's energy.
    double pr = 0.0, pi = 0.0, e = 0.0, e0 = 0.0;
    const auto restart = [&](std::size_t k) {
      pr = pi = e = e0 = 0.0;
      for (std::size_t i = k; i < k + W; ++i) {
        pr += lag_re[i];
        pi += lag_im[i];
        e += energy[i + L];
      }
      for (std::size_t i = k; i < k + L; ++i) e0 += energy[i];
    };
    const auto advance = [&](std::size_t k) {  // from start k to k + 1
      pr += lag_re[k + W] - lag_re[k];
      pi += lag_im[k + W] - lag_im[k];
      e += energy[k + L + W] - energy[k + L];
      e0 += energy[k + L] - energy[k];
      // A non-finite sample would spoil the running sums after it has left
      // the window; they start afresh while it is inside.
      if (!std::isfinite(pr + pi + e + e0)) restart(k + 1);
    };
    restart(0);
    // The exact search rounds its sums in single precision; a position
    // within a thousandth of the threshold is left for it to judge.
    const double t = static_cast<double>(threshold) * 0.999;
    const double lead = kMaxLeadRatio / static_cast<double>(repeats_ - 1);
    // An empty or non-finite window cannot hold a preamble; a NaN fails
    // every test.
    const auto passes = [&] {
      return e > 0.0 && e <= std::numeric_limits<double>::max() && pr * pr + pi * pi >= t * (e * e) &&
             e0 <= lead * e;
    };
    // One line of power p fills each lag correlation with W p, against a
    // window energy of R L p.
    const double line = kMaxLineShare * kMaxLineShare * static_cast<double>(W) *
                        static_cast<double>(W) / (static_cast<double>(span) * static_cast<double>(span));
    // The correlations at L/2 and L/4 are only needed where the other tests
    // pass: in noise hardly ever, under a tone everywhere.  The scan runs
    // without them until a start passes.  From there it follows only the
    // line sums and the window's energy through the run of starts that
    // they refuse (whatever their score), and takes up the other sums again
    // at the first start that is not one line.
    std::size_t k = 0;
    bool products = false;
    for (;;) {
      while (!passes()) {
        if (k + 1 == m) break;
        advance(k++);
      }
      if (!passes()) break;  // the block's last start
      if (!products) {
        line_products(a, n);
        products = true;
      }
      const double* hre = half_re_.data();
      const double* him = half_im_.data();
      const double* qre = quarter_re_.data();
      const double* qim = quarter_im_.data();
      double hr = 0.0, hi = 0.0, qr = 0.0, qi = 0.0;
      for (std::size_t i = k; i < k + W; ++i) {
        hr += hre[i];
        hi += him[i];
        qr += qre[i];
        qi += qim[i];
      }
      // A non-finite value ends the run: every comparison with a NaN fails,
      // and an infinity becomes one when it leaves the window.
      double all = e0 + e;  // the energy of [k, k + R L)
      for (double limit = line * all * all; hr * hr + hi * hi > limit && qr * qr + qi * qi > limit;
           limit = line * all * all) {
        if (k + 1 == m) break;
        all += energy[k + span] - energy[k];
        hr += hre[k + W] - hre[k];
        hi += him[k + W] - him[k];
        qr += qre[k + W] - qre[k];
        qi += qim[k + W] - qim[k];
        ++k;
      }
      restart(k);
      const double limit = line * (e0 + e) * (e0 + e);
      if (passes() && !(hr * hr + hi * hi > limit && qr * qr + qi * qi > limit)) return b + k;
      if (k + 1 == m) break;
      advance(k++);
    }
  }
  return std::nullopt;
}

void PreambleScreen::line_products(const cf32* a, std::size_t n) {
  for (std::vector<double>* v : {&half_re_, &half_im_, &quarter_re_, &quarter_im_}) v->resize(n);
  const cf32* h = a + half_;
  const cf32* q = a + quarter_;
  for (std::size_t i = 0; i < n; ++i) {
    const double ar = a[i].real(), ai = a[i].imag();
    const double br = h[i].real(), bi = h[i].imag();
    const double cr = q[i].real(), ci = q[i].imag();
    half_re_[i] = br * ar + bi * ai;
    half_im_[i] = bi * ar - br * ai;
    quarter_re_[i] = cr * ar + ci * ai;
    quarter_im_[i] = ci * ar - cr * ai;
  }
}

}  // namespace vatel::sync
