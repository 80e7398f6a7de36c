#include "multicarrier/training_smoother.hpp"

#include <algorithm>
#include <cmath>

#include "multicarrier/unit_sequence.hpp"

namespace vatel::multicarrier {
namespace {

using cd = std::complex<double>;

// Solves (M + ridge I) Z = B in place for a Hermitian positive definite M
// (t x t) and B (t x u), both row by row, by Cholesky.
void solve_hermitian(std::vector<cd>& m, std::vector<cd>& b, std::size_t t, std::size_t u) {
  // m = L L^H, L stored in the lower triangle.
  for (std::size_t j = 0; j < t; ++j) {
    double d = m[j * t + j].real();
    for (std::size_t k = 0; k < j; ++k) d -= std::norm(m[j * t + k]);
    d = std::sqrt(d);
    m[j * t + j] = d;
    for (std::size_t i = j + 1; i < t; ++i) {
      cd s = m[i * t + j];
      for (std::size_t k = 0; k < j; ++k) s -= m[i * t + k] * std::conj(m[j * t + k]);
      m[i * t + j] = s / d;
    }
  }
  for (std::size_t c = 0; c < u; ++c) {
    for (std::size_t i = 0; i < t; ++i) {  // L y = b
      cd s = b[i * u + c];
      for (std::size_t k = 0; k < i; ++k) s -= m[i * t + k] * b[k * u + c];
      b[i * u + c] = s / m[i * t + i].real();
    }
    for (std::size_t i = t; i-- > 0;) {  // L^H z = y
      cd s = b[i * u + c];
      for (std::size_t k = i + 1; k < t; ++k) s -= std::conj(m[k * t + i]) * b[k * u + c];
      b[i * u + c] = s / m[i * t + i].real();
    }
  }
}

}  // namespace

TrainingSmoother::TrainingSmoother(const CarrierPlan& plan) {
  const std::size_t n = plan.n_fft;
  if (n == 0) return;
  for (std::int32_t k : plan.data_carriers) bins_.push_back(plan.carrier_bin(k));
  for (const PilotCarrier& p : plan.pilot_carriers) bins_.push_back(plan.carrier_bin(p.index));
  std::sort(bins_.begin(), bins_.end());
  bins_.erase(std::unique(bins_.begin(), bins_.end()), bins_.end());
  const std::size_t u = bins_.size();
  const std::size_t t = std::min(plan.cp_len + 1, n) + kEarlyTaps;
  // Without clearly more bins than taps the fit would keep the noise.
  if (u > kMaxBins || u < 2 * t || t > n) {
    bins_.clear();
    return;
  }
  const std::vector<cf32> x = pseudo_random_unit_sequence(n, kTrainingSeed);
  for (std::size_t b : bins_) training_.push_back(x[b]);

  // F[k][l] = e^(-j 2 pi bin_k delay_l / n), delays -kEarlyTaps .. cp_len.
  const double w = 2.0 * 3.14159265358979323846 / static_cast<double>(n);
  const auto delay = [&](std::size_t l) {
    return static_cast<double>(static_cast<std::int64_t>(l) - static_cast<std::int64_t>(kEarlyTaps));
  };
  std::vector<cd> f(u * t);
  for (std::size_t k = 0; k < u; ++k)
    for (std::size_t l = 0; l < t; ++l)
      f[k * t + l] = std::polar(1.0, -w * static_cast<double>(bins_[k]) * delay(l));
  // M = F^H F with a small ridge: delays the used bins cannot tell apart
  // (the guard bands leave a few) are not blown up by the solve.
  std::vector<cd> m(t * t);
  for (std::size_t a = 0; a < t; ++a)
    for (std::size_t b = 0; b < t; ++b) {
      cd s = 0.0;
      for (std::size_t k = 0; k < u; ++k) s += std::conj(f[k * t + a]) * f[k * t + b];
      m[a * t + b] = s;
    }
  gram_ = m;
  for (std::size_t a = 0; a < t; ++a) m[a * t + a] += 0.01 * static_cast<double>(u);
  std::vector<cd> fh(t * u);
  for (std::size_t l = 0; l < t; ++l)
    for (std::size_t k = 0; k < u; ++k) fh[l * u + k] = std::conj(f[k * t + l]);
  solve_hermitian(m, fh, t, u);  // fh = M^-1 F^H
  fit_.resize(t * u);
  model_.resize(u * t);
  double trace = 0.0;  // of the projection F M^-1 F^H: the fit's degrees of freedom
  for (std::size_t l = 0; l < t; ++l) {
    for (std::size_t k = 0; k < u; ++k) {
      const cd a = fh[l * u + k];
      fit_[l * u + k] = cf32(static_cast<float>(a.real()), static_cast<float>(a.imag()));
      trace += (f[k * t + l] * a).real();
    }
  }
  for (std::size_t i = 0; i < u * t; ++i)
    model_[i] = cf32(static_cast<float>(f[i].real()), static_cast<float>(f[i].imag()));
  residual_dof_ = static_cast<float>(static_cast<double>(u) - trace);
  taps_.resize(t);
  raw_.resize(u);
}

void TrainingSmoother::fit_kept() {
  // The kept delays alone, by least squares: (F_K^H F_K) h = F_K^H raw.
  const std::size_t u = bins_.size();
  const std::size_t t = taps_.size();
  const std::size_t n = kept_.size();
  system_.resize(n * n);
  solution_.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t l = kept_[i];
    std::complex<double> b = 0.0;
    for (std::size_t k = 0; k < u; ++k)
      b += std::conj(std::complex<double>(model_[k * t + l])) * std::complex<double>(raw_[k]);
    solution_[i] = b;
    for (std::size_t j = 0; j < n; ++j) system_[i * n + j] = gram_[l * t + kept_[j]];
    system_[i * n + i] += 1e-6 * static_cast<double>(u);
  }
  solve_hermitian(system_, solution_, n, 1);
}

void TrainingSmoother::smooth(std::span<cf32> spectrum) {
  const std::size_t u = bins_.size();
  if (fit_.empty() || spectrum.size() < u) return;
  bool finite = true;
  for (std::size_t k = 0; k < u; ++k) {
    const cf32 y = spectrum[bins_[k]];
    const cf32 x = training_[k];
    // Y / X with |X| = 1.
    raw_[k] = {y.real() * x.real() + y.imag() * x.imag(), y.imag() * x.real() - y.real() * x.imag()};
    finite = finite && std::isfinite(y.real()) && std::isfinite(y.imag());
  }
  if (!finite) return;
  const std::size_t t = taps_.size();
  for (std::size_t l = 0; l < t; ++l) {
    const cf32* a = fit_.data() + l * u;
    cf32 h{};
    for (std::size_t k = 0; k < u; ++k) h += a[k] * raw_[k];
    taps_[l] = h;
  }
  // The noise of the raw estimates, from what the full model leaves.
  float residual = 0.0f;
  for (std::size_t k = 0; k < u; ++k) {
    const cf32* m = model_.data() + k * t;
    cf32 g{};
    for (std::size_t l = 0; l < t; ++l) g += m[l] * taps_[l];
    residual = residual + std::norm(raw_[k] - g);
  }
  const float noise = residual / residual_dof_;
  // The delays are taken one at a time, each the one that best explains
  // what the delays kept so far leave, for as long as it stands clearly
  // above the noise.  Judged on the full fit instead, a strong path leaks
  // into its neighbouring delays (the guard bands make them nearly alike)
  // and those would be kept with their share of the noise.
  double power = 0.0;
  for (std::size_t k = 0; k < u; ++k) power += std::norm(raw_[k]);
  const double floor = std::max(static_cast<double>(noise), 1e-9 * power / static_cast<double>(u));
  const double threshold = kTapThreshold * static_cast<double>(u) * floor;
  kept_.clear();
  solution_.clear();
  residual_.assign(raw_.begin(), raw_.end());
  while (kept_.size() < t) {
    std::size_t best = t;
    double best_power = -1.0;
    for (std::size_t l = 0; l < t; ++l) {
      if (std::find(kept_.begin(), kept_.end(), l) != kept_.end()) continue;
      std::complex<double> c = 0.0;
      for (std::size_t k = 0; k < u; ++k)
        c += std::conj(std::complex<double>(model_[k * t + l])) * residual_[k];
      if (std::norm(c) > best_power) {
        best_power = std::norm(c);
        best = l;
      }
    }
    if (best == t || (!kept_.empty() && !(best_power > threshold))) break;
    kept_.push_back(best);
    fit_kept();
    for (std::size_t k = 0; k < u; ++k) {
      std::complex<double> g = 0.0;
      for (std::size_t i = 0; i < kept_.size(); ++i)
        g += std::complex<double>(model_[k * t + kept_[i]]) * solution_[i];
      residual_[k] = std::complex<double>(raw_[k]) - g;
    }
  }
  const std::size_t n = kept_.size();
  for (std::size_t k = 0; k < u; ++k) {
    std::complex<double> g = 0.0;
    for (std::size_t i = 0; i < n; ++i) g += std::complex<double>(model_[k * t + kept_[i]]) * solution_[i];
    spectrum[bins_[k]] = cf32(static_cast<float>(g.real()), static_cast<float>(g.imag())) * training_[k];
  }
}

}  // namespace vatel::multicarrier
