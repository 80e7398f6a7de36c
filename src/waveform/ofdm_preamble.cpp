#include "waveform/ofdm_preamble.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/checked.hpp"
#include "core/panic.hpp"
#include "multicarrier/cyclic_prefix.hpp"
#include "multicarrier/fft.hpp"

namespace vatel::waveform::ofdm_preamble {

std::optional<std::size_t> BandLimitedRepeatBase::next() noexcept {
  if (done_ || step_ == 0 || k_ > t_) return std::nullopt;
  const std::size_t k = k_;
  if (!negative_) {
    negative_ = true;
    return k;
  }
  negative_ = false;
  if (t_ - k_ < step_)
    done_ = true;
  else
    k_ += step_;
  return n_fft_ - k;
}

core::Buffer<cf32> generate_ofdm_preamble(const OfdmPreambleParams& params,
                                          const multicarrier::OfdmConfig& cfg) {
  const multicarrier::CarrierPlan& plan = cfg.plan;
  const std::size_t n_fft = plan.n_fft;
  const std::size_t len = params.repeat_len;
  const std::size_t t = plan.largest_abs_index();

  std::size_t total = core::checked_mul(params.num_repeats, len, "preamble length");
  if (params.with_training_symbol) {
    const auto [nt, cp] = *params.with_training_symbol;
    VATEL_ENSURE(cp <= nt, "generate_ofdm_preamble: training cyclic prefix of " +
                               std::to_string(cp) + " samples is longer than the " +
                               std::to_string(nt) + "-point training symbol");
    total = core::checked_add(total, core::checked_add(nt, cp, "training symbol length"),
                              "preamble length");
  }
  core::Buffer<cf32> out(total);

  // The segment: pseudo-random values on every step-th carrier up to the
  // band edge make the inverse transform periodic in repeat_len.
  std::vector<cf32> segment;
  std::vector<std::size_t> bins;
  if (n_fft != 0 && len != 0 && t != 0 && n_fft % len == 0) {
    BandLimitedRepeatBase it(n_fft / len, t, n_fft);
    while (auto b = it.next()) {
      // Bins lie inside the spectrum for every validated plan.
      VATEL_ENSURE(*b < n_fft, "generate_ofdm_preamble: carrier beyond the FFT");
      bins.push_back(*b);
    }
  }
  if (!bins.empty()) {
    const std::vector<cf32> x = pseudo_random_unit_sequence(bins.size(), kPreambleSeed);
    multicarrier::AlignedSamples spectrum(n_fft), y(n_fft);
    for (std::size_t i = 0; i < bins.size(); ++i) spectrum[bins[i]] = x[i];
    multicarrier::IfftBlock ifft(n_fft);
    ifft.process(spectrum, y);
    segment.assign(y.begin(), y.begin() + static_cast<std::ptrdiff_t>(len));
    float energy = 0.0f;
    for (const cf32& v : segment) energy = energy + (v.real() * v.real() + v.imag() * v.imag());
    const float mean = energy / static_cast<float>(len);
    if (mean > 0.0f) {
      // RMS 2 sqrt(D) / n_fft: a level in proportion to the data symbols'.
      const float d = std::sqrt(static_cast<float>(plan.data_carriers.size()));
      const float k = ((d + d) / static_cast<float>(n_fft)) / std::sqrt(mean);
      for (cf32& v : segment) v = {v.real() * k, v.imag() * k};
    }
  } else {
    segment = pseudo_random_unit_sequence(len, kPreambleSeed);
  }

  cf32* o = out.data();
  for (std::size_t r = 0; r < params.num_repeats; ++r, o += len)
    std::copy(segment.begin(), segment.end(), o);

  if (params.with_training_symbol) {
    const auto [nt, cp] = *params.with_training_symbol;
    std::vector<cf32> x = pseudo_random_unit_sequence(nt, kTrainingSeed);
    if (n_fft != 0) {
      std::vector<bool> used(nt, false);
      bool any = false;
      for (std::int32_t k : plan.data_carriers) {
        any = true;
        if (const std::size_t b = plan.carrier_bin(k); b < nt) used[b] = true;
      }
      for (const multicarrier::PilotCarrier& p : plan.pilot_carriers) {
        any = true;
        if (const std::size_t b = plan.carrier_bin(p.index); b < nt) used[b] = true;
      }
      if (any)
        for (std::size_t i = 0; i < nt; ++i)
          if (!used[i]) x[i] = cf32{};
    }
    multicarrier::AlignedSamples time(nt);
    multicarrier::IfftBlock ifft(nt);
    ifft.process(x, time);
    multicarrier::cyclic_prefix::add_cyclic_prefix(time, nt, cp, {o, nt + cp});
  }

  // A NaN gain counts as not 1.
  if (!(cfg.gain == 1.0f)) {
    float* f = reinterpret_cast<float*>(out.data());
    for (std::size_t i = 0, n = 2 * out.size(); i < n; ++i) f[i] = f[i] * cfg.gain;
  }
  return out;
}

}  // namespace vatel::waveform::ofdm_preamble
