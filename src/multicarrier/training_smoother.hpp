#pragma once
// Noise removal for a channel measured on one training symbol.  The raw
// estimate Y[k] / X[k] of each bin carries as much noise as the symbols it
// will equalise, which costs the receiver 3 dB.  A channel whose impulse
// response fits inside the cyclic prefix (as every channel the prefix
// protects does) has a spectrum that is a sum of cp_len + 1 delays; fitting
// that model by least squares to the used bins keeps the channel and drops
// most of the noise (all but taps / used bins of it).  The fit reaches a few
// taps before zero as well, for a start found slightly late.
//
// Most channels have a few strong paths: the noise is estimated from what
// the full model leaves, and the delays are then taken one at a time, each
// the one that best explains what the delays kept so far leave, for as long
// as it stands clearly above that noise.  A short channel keeps little more
// noise than its few taps.
//
// The fit's matrices are made once per carrier plan; a plan with too many
// used bins for that (or too few for the taps) is left as it is.
#include <complex>
#include <cstddef>
#include <span>
#include <vector>

#include "core/types.hpp"
#include "multicarrier/config.hpp"

namespace vatel::multicarrier {

class TrainingSmoother {
 public:
  TrainingSmoother() = default;
  explicit TrainingSmoother(const CarrierPlan& plan);

  // False when the plan is left as it is.
  bool active() const noexcept { return !fit_.empty(); }

  // Replaces the used bins of a received training spectrum (n_fft bins in
  // FFT order) by the training values times the fitted channel; the other
  // bins are left alone.  Non-finite values stay as they came.
  void smooth(std::span<cf32> spectrum);

  // Taps before delay 0 and the largest number of used bins fitted.
  static constexpr std::size_t kEarlyTaps = 4;
  static constexpr std::size_t kMaxBins = 256;
  // A delay is taken when its correlation with what is left exceeds this
  // many times its noise power: noise alone passes at one of the 21 delays
  // of a 16-sample prefix with probability 21 e^-8, under 1 %.
  static constexpr double kTapThreshold = 8.0;

 private:
  std::vector<std::size_t> bins_;  // used bins, ascending
  std::vector<cf32> training_;     // X at those bins
  std::vector<cf32> fit_;          // taps x bins: the ridge least-squares fit
  std::vector<cf32> model_;        // bins x taps: the spectrum of each delay
  float residual_dof_ = 0.0f;      // bins less the fit's degrees of freedom
  std::vector<std::complex<double>> gram_;  // F^H F, taps x taps
  std::vector<cf32> raw_;          // one raw estimate per used bin
  std::vector<cf32> taps_;
  std::vector<std::size_t> kept_;
  std::vector<std::complex<double>> system_, solution_, residual_;
  // solution_ = the least-squares taps of the kept delays.
  void fit_kept();
};

}  // namespace vatel::multicarrier
