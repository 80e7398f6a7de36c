#include "demodulate/ofdm_frame_section.hpp"

#include <algorithm>
#include <cmath>

#include "core/checked.hpp"
#include "demodulate/ofdm.hpp"
#include "dsp/constellation.hpp"
#include "fec/ldpc_codes.hpp"

namespace vatel::demodulate::ofdm_frame::section {
namespace {

using demodulate::ofdm::OfdmSoftDemod;

constexpr std::size_t kMinTrackedSymbols = 4;
// The largest noise figure relative to the channel's mean power that a
// section is credited with: -40 dB.
constexpr float kNoiseFloor = 1e-4f;
// The sum-product decoder's check messages never exceed
// kMaxSumProductMessage, so a soft value beyond what the checks of its bit
// can outweigh would be final, right or wrong; at a high SNR, where the
// noise figure leaves every value far beyond it, the decoder would correct
// nothing.  Values handed to it stay below what two checks (a parity bit's)
// overturn.  Measured on a clean channel with a few inverted bits per
// codeword, bounds from 7 up leave ten times as many codewords uncorrected
// as 6.5; in noise, bounds below 6 cost 16- and 64-QAM about 0.1 dB at their
// working SNR, 6.5 nothing measurable.
constexpr float kSoftBound = 6.5f;
static_assert(kSoftBound < 2.0f * fec::ldpc_codes::kMaxSumProductMessage);

// The demapper's soft values are distances in units of squared amplitude,
// whatever the noise; the decoders want log-likelihood ratios: the sum-product
// LDPC decoder loses several dB and most of its iterations on values far too
// small (a dense constellation at a high SNR), and every decoder gains from
// knowing which cells to trust.  An equalised cell k carries the noise power
// of its bin divided by |H_k|^2, so its value is weighted by |H_k|^2 / N0: a
// cell on a faded carrier counts for little.  N0, the noise per bin before
// equalisation, is measured against the decided points symbol by symbol, so
// an impulse that spoils one symbol makes that symbol less trusted rather
// than the whole section; the section's median keeps a symbol whose few
// cells happen to lie close to their points from being trusted beyond it.
// A positive factor changes no hard decision.
void weigh_soft_values(ConstellationOrder c, std::span<const cf32> cells,
                       std::span<const float> gains, std::size_t D, std::span<float> soft,
                       FrameScratch::Work& w) {
  if (cells.empty() || D == 0) return;
  const std::size_t count = cells.size() / D;
  const std::size_t b = bits_per_point(c);
  w.points.resize(cells.size());
  decided_points(c, soft.data(), cells.size(), w.points.data());
  if (gains.empty()) {
    w.unit_gains.assign(D, 1.0f);
    gains = w.unit_gains;
  }
  float mean_gain = 0.0f;
  for (std::size_t i = 0; i < D; ++i) mean_gain = mean_gain + gains[i];
  mean_gain = mean_gain / static_cast<float>(D);
  w.symbol_noise.resize(count);
  for (std::size_t s = 0; s < count; ++s) {
    const cf32* x = cells.data() + s * D;
    const cf32* p = w.points.data() + s * D;
    float error = 0.0f;
    for (std::size_t i = 0; i < D; ++i) {
      const float dr = x[i].real() - p[i].real(), di = x[i].imag() - p[i].imag();
      error = error + gains[i] * (dr * dr + di * di);
    }
    w.symbol_noise[s] = error / static_cast<float>(D);
  }
  w.median_scratch.assign(w.symbol_noise.begin(), w.symbol_noise.end());
  std::erase_if(w.median_scratch, [](float x) { return !std::isfinite(x); });
  if (w.median_scratch.empty() || !(mean_gain > 0.0f)) return;
  const auto mid = w.median_scratch.begin() + static_cast<std::ptrdiff_t>(w.median_scratch.size() / 2);
  std::nth_element(w.median_scratch.begin(), mid, w.median_scratch.end());
  // Below -40 dB of noise the decoders have long converged anyway.
  const float section = std::max(*mid, kNoiseFloor * mean_gain);
  // Per unit noise: QPSK's values are twice the distance difference.
  const float unit = c == ConstellationOrder::Qpsk ? 0.5f : 1.0f;
  for (std::size_t s = 0; s < count; ++s) {
    const float own = w.symbol_noise[s];
    const float k = unit / (std::isfinite(own) ? std::max(own, section) : section);
    float* v = soft.data() + s * D * b;
    for (std::size_t i = 0; i < D; ++i) {
      const float g = k * gains[i];
      for (std::size_t j = 0; j < b; ++j) v[i * b + j] = v[i * b + j] * g;
    }
  }
}

}  // namespace

void prepare(const OfdmConfig& cfg, FrameScratch::Work& w) {
  const multicarrier::CarrierPlan& plan = cfg.plan;
  if (!w.fft || !(w.plan == plan)) {
    w.plan = plan;
    w.fft.emplace(plan.n_fft, plan.cp_len);
    w.grid.emplace(multicarrier::GridExtract::from_grid(multicarrier::CarrierGrid::from_plan(plan)));
    w.equalizer.reset();
    w.spectrum.assign(plan.n_fft, cf32{});
  }
  const std::size_t backoff = std::min(cfg.rx_window_backoff, plan.cp_len);
  if (w.fft->backoff() != backoff || w.backoff_ramp.size() != (backoff ? plan.n_fft : 0)) {
    w.fft->set_backoff(backoff);
    // A window that starts b samples early sees bin k turned by
    // e^(-j 2 pi k b / n); the ramp turns it back.
    w.backoff_ramp.clear();
    if (backoff != 0) {
      w.backoff_ramp.resize(plan.n_fft);
      const double n = static_cast<double>(plan.n_fft);
      for (std::size_t k = 0; k < plan.n_fft; ++k) {
        const double a = 2.0 * 3.14159265358979323846 * static_cast<double>((k * backoff) % plan.n_fft) / n;
        w.backoff_ramp[k] = {static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a))};
      }
    }
  }
}

void decided_points(ConstellationOrder c, const float* llr, std::size_t n, cf32* out) {
  switch (c) {
    case ConstellationOrder::Bpsk:
      for (std::size_t i = 0; i < n; ++i) out[i] = dsp::bpsk_map(llr[i] <= 0.0f);
      return;
    case ConstellationOrder::Qpsk:
      for (std::size_t i = 0; i < n; ++i)
        out[i] = dsp::qpsk_map(llr[2 * i] <= 0.0f, llr[2 * i + 1] <= 0.0f);
      return;
    default: {
      const dsp::QamTable* qam = dsp::qam_table(multicarrier::qam_order(c));
      const std::size_t b = bits_per_point(c);
      std::uint8_t bits[8];
      for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t k = 0; k < b; ++k) bits[k] = llr[i * b + k] <= 0.0f;
        out[i] = dsp::qam_map(*qam, bits);
      }
    }
  }
}

void channel_power(const multicarrier::OfdmEqualizer& eq, const multicarrier::GridExtract& grid,
                   FrameScratch::Work& w) {
  const std::size_t D = grid.data_bins().size();
  w.gains.resize(D);
  for (std::size_t i = 0; i < D; ++i) {
    const float m = std::norm(eq.weights[grid.data_bins()[i]]);
    w.gains[i] = m > 0.0f ? 1.0f / m : 0.0f;
  }
}

bool demodulate_section(const OfdmConfig& cfg, ConstellationOrder c, std::span<const cf32> samples,
                        std::size_t count, const PhasePlan& phase, std::vector<float>& soft,
                        std::vector<cf32>* cells_out, std::optional<PhaseLine>* line,
                        FrameScratch::Work& w) {
  const std::size_t S = cfg.samples_per_ofdm_symbol();
  const std::size_t D = cfg.plan.data_carriers.size();
  const std::size_t b = bits_per_point(c);
  const std::size_t n_fft = cfg.plan.n_fft;
  if (samples.size() / std::max<std::size_t>(S, 1) < count) return false;
  const std::size_t per_symbol = core::checked_mul(D, b, "soft values per symbol");
  // Every value is written below.
  soft.resize(core::checked_mul(count, per_symbol, "section soft values"));
  OfdmSoftDemod demod = OfdmSoftDemod::for_cells(c, D);
  if (line) line->reset();

  w.section.resize(core::checked_mul(count, D, "section cells"));
  for (std::size_t s = 0; s < count; ++s) {
    w.fft->process(samples.subspan(s * S, S));
    std::span<const cf32> spectrum = w.fft->spectrum();
    if (phase.equalise) {
      if (w.equalizer->process(spectrum, w.spectrum) != n_fft) return false;
      spectrum = w.spectrum;
    } else if (!w.backoff_ramp.empty()) {
      for (std::size_t k = 0; k < n_fft; ++k) w.spectrum[k] = spectrum[k] * w.backoff_ramp[k];
      spectrum = w.spectrum;
    }
    w.grid->extract(spectrum, std::span<cf32>(w.section).subspan(s * D, D));
  }
  // Only equalised cells have a common phase to follow.
  if (phase.equalise && count >= kMinTrackedSymbols) {
    const auto fitted = track_common_phase(w.section, D, count, c, phase.theta, phase.omega, w);
    if (line) *line = fitted;
  } else if (phase.equalise && phase.extend) {
    for (std::size_t s = 0; s < count; ++s) {
      const float a = phase.extend->slope * (phase.offset + static_cast<float>(s)) +
                      phase.extend->intercept;
      float sn, cs;
      ::sincosf(a, &sn, &cs);
      for (std::size_t i = 0; i < D; ++i) w.section[s * D + i] = rotate(w.section[s * D + i], cs, sn);
    }
  }
  for (std::size_t s = 0; s < count; ++s) {
    const std::span<const cf32> cells = std::span<const cf32>(w.section).subspan(s * D, D);
    if (cells_out) cells_out->insert(cells_out->end(), cells.begin(), cells.end());
    if (demod.process(cells, std::span<float>(soft).subspan(s * per_symbol, per_symbol)) !=
        per_symbol)
      return false;
  }
  weigh_soft_values(c, w.section, phase.equalise ? std::span<const float>(w.gains) : std::span<const float>(),
                    D, soft, w);
  return true;
}

void bound_for_sum_product(std::span<float> soft) {
  for (float& v : soft) v = v > kSoftBound ? kSoftBound : (v < -kSoftBound ? -kSoftBound : v);
}

}  // namespace vatel::demodulate::ofdm_frame::section
