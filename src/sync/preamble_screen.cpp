#include "sync/preamble_screen.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/checked.hpp"
#include "core/panic.hpp"

namespace vatel::sync {

PreambleScreen::PreambleScreen(std::size_t num_repeats, std::size_t repeat_len)
    : repeats_(num_repeats), len_(repeat_len) {
  VATEL_ENSURE(num_repeats >= 2 && repeat_len >= 1, "PreambleScreen: no repetition to correlate");
  core::checked_mul(num_repeats, repeat_len, "preamble length");
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
    // Products for sample indices b .. b + m + W - 1 (lag) and the energies
    // of the samples L later; each start d then sums W consecutive ones.
    const std::size_t n = m - 1 + W;
    lag_re_.resize(n);
    lag_im_.resize(n);
    energy_.resize(n);
    lead_energy_.resize(n);
    sample_re_.resize(n);
    sample_im_.resize(n);
    const cf32* a = x + b;
    const cf32* c = x + b + L;
    for (std::size_t i = 0; i < n; ++i) {
      const double ar = a[i].real(), ai = a[i].imag();
      const double cr = c[i].real(), ci = c[i].imag();
      lag_re_[i] = cr * ar + ci * ai;
      lag_im_[i] = ci * ar - cr * ai;
      energy_[i] = cr * cr + ci * ci;
      lead_energy_[i] = ar * ar + ai * ai;
      sample_re_[i] = ar;
      sample_im_[i] = ai;
    }
    // Sums of start k: P, E, the first repetition's energy, and the sum of
    // the samples of the first R - 1 repetitions (with the last one's
    // through the lag products' partner, sample i + L).
    double pr = 0.0, pi = 0.0, e = 0.0, e0 = 0.0, mr = 0.0, mi = 0.0;
    const auto restart = [&](std::size_t k) {
      pr = pi = e = e0 = mr = mi = 0.0;
      for (std::size_t i = k; i < k + W; ++i) {
        pr += lag_re_[i];
        pi += lag_im_[i];
        e += energy_[i];
        mr += sample_re_[i];
        mi += sample_im_[i];
      }
      for (std::size_t i = k; i < k + L; ++i) e0 += lead_energy_[i];
    };
    restart(0);
    // The exact search rounds its sums in single precision; a position
    // within a thousandth of the threshold is left for it to judge.
    const double t = static_cast<double>(threshold) * 0.999;
    const double lead = kMaxLeadRatio / static_cast<double>(repeats_ - 1);
    // A constant fills |sum|^2 = W^2 |c|^2 of the W summed samples against
    // R L |c|^2 of energy in the window.
    const double dc = kMaxDcShare * static_cast<double>(W) * static_cast<double>(W);
    for (std::size_t k = 0;; ++k) {
      // An empty or non-finite window cannot hold a preamble; a NaN fails
      // every test.
      if (e > 0.0 && e <= std::numeric_limits<double>::max() && pr * pr + pi * pi >= t * (e * e) &&
          e0 <= lead * e && (mr * mr + mi * mi) * span <= dc * (e0 + e))
        return b + k;
      if (k + 1 == m) break;
      pr += lag_re_[k + W] - lag_re_[k];
      pi += lag_im_[k + W] - lag_im_[k];
      e += energy_[k + W] - energy_[k];
      e0 += lead_energy_[k + L] - lead_energy_[k];
      mr += sample_re_[k + W] - sample_re_[k];
      mi += sample_im_[k + W] - sample_im_[k];
      // A non-finite sample would spoil the running sums after it has left
      // the window; they start afresh while it is inside.
      if (!std::isfinite(pr + pi + e + e0 + mr + mi)) restart(k + 1);
    }
  }
  return std::nullopt;
}

}  // namespace vatel::sync
