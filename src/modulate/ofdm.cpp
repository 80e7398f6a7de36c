#include "modulate/ofdm.hpp"

#include <algorithm>
#include <cstring>

#include "core/checked.hpp"

namespace vatel::modulate {
namespace {

// dsp::qam_map with the bits per axis fixed at compile time, so the bit loops
// unroll; the points are the same.
template <unsigned M>
void map_qam(const dsp::QamTable& t, const std::uint8_t* bits, const std::size_t* bins,
             std::size_t cells, cf32* f) {
  for (std::size_t k = 0; k < cells; ++k, bits += 2 * M) {
    unsigned bi = 0, bq = 0;
    for (unsigned j = 0; j < M; ++j) bi = (bi << 1) | (bits[j] & 1u);
    for (unsigned j = 0; j < M; ++j) bq = (bq << 1) | (bits[M + j] & 1u);
    f[bins[k]] = {t.level[bi], t.level[bq]};
  }
}

}  // namespace

OfdmMod::OfdmMod(const OfdmConfig& cfg)
    : grid_(multicarrier::CarrierGrid::from_plan(cfg.plan)),
      ifft_(cfg.plan.n_fft),
      freq_(cfg.plan.n_fft),
      bits_per_symbol_(cfg.bits_per_ofdm_symbol()),
      samples_per_symbol_(cfg.samples_per_ofdm_symbol()),
      n_fft_(cfg.plan.n_fft),
      cp_len_(cfg.plan.cp_len),
      constellation_(cfg.constellation),
      qam_(dsp::qam_table(multicarrier::qam_order(cfg.constellation))),
      gain_(cfg.gain),
      rf_hz_(cfg.rf_hz),
      osc_(cfg.rf_hz, cfg.fs) {
  last_bits_.assign(bits_per_symbol_, 0);
}

void OfdmMod::symbol(const std::uint8_t* bits, cf32* out) {
  cf32* f = freq_.data();
  std::fill_n(f, n_fft_, cf32{});
  const std::size_t* bins = grid_.data_bins.data();
  const std::size_t cells = grid_.data_bins.size();
  // The mapper's points by table lookup: random bits would defeat a branch.
  static constexpr float kSign[2] = {1.0f, -1.0f};
  static constexpr float kAxis[2] = {dsp::kQpskC, -dsp::kQpskC};
  switch (constellation_) {
    case ConstellationOrder::Bpsk:
      for (std::size_t k = 0; k < cells; ++k) f[bins[k]] = {kSign[bits[k] & 1u], 0.0f};
      break;
    case ConstellationOrder::Qpsk:
      for (std::size_t k = 0; k < cells; ++k)
        f[bins[k]] = {kAxis[bits[2 * k] & 1u], kAxis[bits[2 * k + 1] & 1u]};
      break;
    case ConstellationOrder::Qam16: map_qam<2>(*qam_, bits, bins, cells, f); break;
    case ConstellationOrder::Qam64: map_qam<3>(*qam_, bits, bins, cells, f); break;
    case ConstellationOrder::Qam256: map_qam<4>(*qam_, bits, bins, cells, f); break;
  }
  for (const multicarrier::PilotBin& p : grid_.pilots) f[p.bin] = p.value;
  // The inverse transform lands right after the prefix; the prefix is then
  // the symbol's last cp_len samples (cp_len <= n_fft, checked by modulate).
  ifft_.process(freq_, {out + cp_len_, n_fft_});
  std::copy_n(out + n_fft_, cp_len_, out);
  // Carrier and gain while the symbol is still in cache.  The oscillator
  // runs on from symbol to symbol, so this equals one pass over the output.
  // A NaN frequency counts as a carrier; both zeros do not.
  if (rf_hz_ != 0.0f) {
    dsp::mix_kernel(osc_, out, out, samples_per_symbol_, gain_);
  } else if (gain_ != 1.0f) {
    // A gain of exactly 1 leaves every sample as it is, so it is skipped.
    float* x = reinterpret_cast<float*>(out);
    const float g = gain_;
    for (std::size_t i = 0, n = 2 * samples_per_symbol_; i < n; ++i) x[i] = x[i] * g;
  }
}

core::Buffer<cf32> OfdmMod::modulate(std::span<const std::uint8_t> bits) {
  const std::size_t b = bits_per_symbol_;
  if (bits.empty() || b == 0) return core::Buffer<cf32>();
  // A prefix longer than the symbol is refused before anything is written.
  VATEL_ENSURE(cp_len_ <= n_fft_, "OfdmMod: cyclic prefix of " + std::to_string(cp_len_) +
                                      " samples is longer than the " + std::to_string(n_fft_) +
                                      "-sample symbol");
  const std::size_t full = bits.size() / b;
  const std::size_t rest = bits.size() % b;
  const std::size_t symbols = full + (rest != 0);
  core::Buffer<cf32> out(core::checked_mul(symbols, samples_per_symbol_, "OFDM output length"));
  cf32* o = out.data();
  for (std::size_t s = 0; s < full; ++s) symbol(bits.data() + s * b, o + s * samples_per_symbol_);
  if (rest != 0) {
    std::copy_n(bits.data() + full * b, rest, last_bits_.data());
    std::fill(last_bits_.begin() + static_cast<std::ptrdiff_t>(rest), last_bits_.end(), 0);
    symbol(last_bits_.data(), o + full * samples_per_symbol_);
  }
  return out;
}

}  // namespace vatel::modulate
