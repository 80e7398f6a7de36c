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
// Most channels have a few strong paths: a delay whose fitted tap does not
// stand clearly above the noise (estimated from what the model leaves) is
// dropped and the kept delays are fitted again on their own, so a short
// channel keeps little more noise than its few taps.
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
  // A tap is kept when its power exceeds this many times its noise power:
  // a tap of noise alone passes with probability e^-4.
  static constexpr float kTapThreshold = 4.0f;

 private:
  std::vector<std::size_t> bins_;  // used bins, ascending
  std::vector<cf32> training_;     // X at those bins
  std::vector<cf32> fit_;          // taps x bins: the ridge least-squares fit
  std::vector<cf32> model_;        // bins x taps: the spectrum of each delay
  std::vector<float> tap_gain_;    // noise power of each fitted tap per unit bin noise
  float residual_dof_ = 0.0f;      // bins less the fit's degrees of freedom
  std::vector<std::complex<double>> gram_;  // F^H F, taps x taps
  std::vector<cf32> raw_;          // one raw estimate per used bin
  std::vector<cf32> taps_;
  std::vector<std::size_t> kept_;
  std::vector<std::complex<double>> system_, solution_;
};

}  // namespace vatel::multicarrier
