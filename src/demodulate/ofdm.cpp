#include "demodulate/ofdm.hpp"

#include <immintrin.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "core/checked.hpp"
#include "core/panic.hpp"
#include "demodulate/decider.hpp"
#include "dsp/constellation.hpp"
#include "dsp/max_log.hpp"

namespace vatel::demodulate::ofdm {
namespace {

using dsp::QamTable;

template <unsigned M>
void qam_llrs(const QamTable& t, const cf32* cells, std::size_t n, float* out) {
  for (std::size_t i = 0; i < n; ++i, out += 2 * M) {
    dsp::max_log_axis<M>(t.level.data(), cells[i].real(), out);
    dsp::max_log_axis<M>(t.level.data(), cells[i].imag(), out + M);
  }
}

const QamTable& table_of(ConstellationOrder c) {
  const QamTable* t = dsp::qam_table(multicarrier::qam_order(c));
  VATEL_ENSURE(t != nullptr, "no QAM table for this constellation");
  return *t;
}

}  // namespace

OfdmSoftDemod OfdmSoftDemod::for_cells(ConstellationOrder constellation, std::size_t num_cells) {
  return {num_cells,
          core::checked_mul(num_cells, multicarrier::bits_per_point(constellation), "LLR count"),
          constellation};
}

std::size_t OfdmSoftDemod::process(std::span<const cf32> cells, std::span<float> llrs) {
  const std::size_t k = multicarrier::bits_per_point(constellation);
  std::size_t need = 0;
  VATEL_ENSURE(!__builtin_mul_overflow(num_cells, k, &need) && need == num_llrs,
               "OfdmSoftDemod: " + std::to_string(num_llrs) + " LLRs for " +
                   std::to_string(num_cells) + " cells of " + std::to_string(k) + " bits");
  if (num_cells == 0) return 0;
  if (cells.size() < num_cells || llrs.size() < num_llrs) return 0;
  const cf32* c = cells.data();
  float* o = llrs.data();
  switch (constellation) {
    case ConstellationOrder::Bpsk:
      for (std::size_t i = 0; i < num_cells; ++i) o[i] = kBpskLlrScale * c[i].real();
      break;
    case ConstellationOrder::Qpsk:
      for (std::size_t i = 0; i < num_cells; ++i) {
        o[2 * i] = kQpskLlrScale * c[i].real();
        o[2 * i + 1] = kQpskLlrScale * c[i].imag();
      }
      break;
    case ConstellationOrder::Qam16: qam_llrs<2>(table_of(constellation), c, num_cells, o); break;
    case ConstellationOrder::Qam64: qam_llrs<3>(table_of(constellation), c, num_cells, o); break;
    case ConstellationOrder::Qam256: qam_llrs<4>(table_of(constellation), c, num_cells, o); break;
  }
  return num_llrs;
}

std::array<float, 4> qam_axis_soft_llr(float v) noexcept {
  std::array<float, 4> out;
  dsp::max_log_axis<4>(dsp::qam_table(256)->level.data(), v, out.data());
  return out;
}

namespace {

VATEL_INLINE void decide_cells_kernel_body(ConstellationOrder constellation, const cf32* cells,
                                           std::size_t n, std::uint8_t* bits) {
  switch (constellation) {
    case ConstellationOrder::Bpsk:
      for (std::size_t i = 0; i < n; ++i) bits[i] = bpsk_decide(cells[i]);
      return;
    case ConstellationOrder::Qpsk:
      for (std::size_t i = 0; i < n; ++i) qpsk_decide(cells[i], bits + 2 * i);
      return;
    case ConstellationOrder::Qam16:
      return qam_decide_points<2>(*dsp::qam_table(16), cells, n, bits);
    case ConstellationOrder::Qam64:
      return qam_decide_points<3>(*dsp::qam_table(64), cells, n, bits);
    case ConstellationOrder::Qam256:
      return qam_decide_points<4>(*dsp::qam_table(256), cells, n, bits);
  }
}

// qam_decide_points eight axis values at a time: the position is the count
// of thresholds strictly below (an ordered compare, so NaN counts none), and
// each value's M Gray-code bits are spread over the low bytes of its lane,
// packed to M bytes per value and stored per half.  The last values that
// fill no group of eight take the portable loop.
template <unsigned M>
VATEL_TARGET_FMA void qam_decide_points_avx2(const QamTable& t, const cf32* points,
                                             std::size_t n, std::uint8_t* out) {
  constexpr unsigned kThresholds = (1u << M) - 1;
  __m256 thr[kThresholds];
  for (unsigned k = 0; k < kThresholds; ++k) thr[k] = _mm256_set1_ps(t.threshold[k]);
  // Within each 128-bit half: byte b of word w goes to byte M w + b.
  alignas(32) std::uint8_t pack[32];
  for (unsigned i = 0; i < 16; ++i) {
    const std::uint8_t src = i < 4 * M ? static_cast<std::uint8_t>(4 * (i / M) + i % M) : 0x80;
    pack[i] = src;
    pack[16 + i] = src;
  }
  const __m256i shuffle = _mm256_load_si256(reinterpret_cast<const __m256i*>(pack));
  const __m256i one = _mm256_set1_epi32(1);
  const float* v = reinterpret_cast<const float*>(points);
  const std::size_t total = 2 * n;
  std::size_t j = 0;
  for (; total - j >= 8; j += 8) {
    const __m256 x = _mm256_loadu_ps(v + j);
    __m256i p = _mm256_setzero_si256();
    for (unsigned k = 0; k < kThresholds; ++k)
      p = _mm256_sub_epi32(p, _mm256_castps_si256(_mm256_cmp_ps(thr[k], x, _CMP_LT_OQ)));
    const __m256i g = _mm256_xor_si256(p, _mm256_srli_epi32(p, 1));
    __m256i w = _mm256_and_si256(_mm256_srli_epi32(g, M - 1), one);
    for (unsigned b = 1; b < M; ++b)
      w = _mm256_or_si256(
          w, _mm256_slli_epi32(_mm256_and_si256(_mm256_srli_epi32(g, M - 1 - b), one), 8 * b));
    w = _mm256_shuffle_epi8(w, shuffle);
    const __m128i lo = _mm256_castsi256_si128(w), hi = _mm256_extracti128_si256(w, 1);
    std::memcpy(out + M * j, &lo, 4 * M);
    std::memcpy(out + M * j + 4 * M, &hi, 4 * M);
  }
  if (j < total) qam_decide_points<M>(t, points + j / 2, n - j / 2, out + M * j);
}

}  // namespace

void decide_cells_kernel_portable(ConstellationOrder constellation, const cf32* cells,
                                  std::size_t n, std::uint8_t* bits) {
  decide_cells_kernel_body(constellation, cells, n, bits);
}

// Comparisons only: the AVX2 build decides the same bits, eight axis values
// at a time.
VATEL_TARGET_FMA void decide_cells_kernel_fma(ConstellationOrder constellation, const cf32* cells,
                                              std::size_t n, std::uint8_t* bits) {
  switch (constellation) {
    case ConstellationOrder::Qam16:
      return qam_decide_points_avx2<2>(*dsp::qam_table(16), cells, n, bits);
    case ConstellationOrder::Qam64:
      return qam_decide_points_avx2<3>(*dsp::qam_table(64), cells, n, bits);
    case ConstellationOrder::Qam256:
      return qam_decide_points_avx2<4>(*dsp::qam_table(256), cells, n, bits);
    default: return decide_cells_kernel_body(constellation, cells, n, bits);
  }
}

void decide_cells_kernel(ConstellationOrder constellation, const cf32* cells, std::size_t n,
                         std::uint8_t* bits) {
  static const bool hw = core::cpu_has_fma();
  return hw ? decide_cells_kernel_fma(constellation, cells, n, bits)
            : decide_cells_kernel_portable(constellation, cells, n, bits);
}

void decide_cells(ConstellationOrder constellation, std::span<const cf32> cells,
                  std::uint8_t* bits) {
  decide_cells_kernel(constellation, cells.data(), cells.size(), bits);
}

std::optional<float> evm_db(ConstellationOrder constellation, std::span<const cf32> cells,
                            std::span<const std::uint8_t> bits, std::size_t num_symbols) {
  if (cells.empty() || num_symbols == 0) return std::nullopt;
  const std::size_t k = multicarrier::bits_per_point(constellation);
  if (bits.size() / k < cells.size()) return std::nullopt;

  std::vector<cf32> ref(cells.size());
  const std::uint8_t* b = bits.data();
  switch (constellation) {
    case ConstellationOrder::Bpsk:
      for (std::size_t i = 0; i < ref.size(); ++i) ref[i] = dsp::bpsk_map(b[i]);
      break;
    case ConstellationOrder::Qpsk:
      for (std::size_t i = 0; i < ref.size(); ++i) ref[i] = dsp::qpsk_map(b[2 * i], b[2 * i + 1]);
      break;
    default: {
      const QamTable& t = table_of(constellation);
      for (std::size_t i = 0; i < ref.size(); ++i) ref[i] = dsp::qam_map(t, b + k * i);
    }
  }

  double e = 0.0, p = 0.0;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const float dr = cells[i].real() - ref[i].real();
    const float di = cells[i].imag() - ref[i].imag();
    const float err = dr * dr + di * di;
    const float pow = ref[i].real() * ref[i].real() + ref[i].imag() * ref[i].imag();
    e += static_cast<double>(err);
    p += static_cast<double>(pow);
  }
  if (p <= 0.0) return std::nullopt;
  return static_cast<float>(10.0 * std::log10(e / p));
}

core::Result<OfdmDemod> OfdmDemod::create(const multicarrier::OfdmConfig& cfg,
                                          std::string_view equalizer) {
  if (equalizer == "training_symbol") return OfdmDemod(cfg, multicarrier::EqualizerMode::TrainingSymbol);
  if (equalizer == "pilot_interp") return OfdmDemod(cfg, multicarrier::EqualizerMode::PilotInterp);
  return core::error("OfdmDemod: unknown equalizer " + multicarrier::quoted(equalizer) +
                     " (expected 'training_symbol' or 'pilot_interp')");
}

OfdmDemod::OfdmDemod(const multicarrier::OfdmConfig& cfg, multicarrier::EqualizerMode mode)
    : cfg_(cfg),
      equalizer_(cfg, mode),
      fft_(cfg.plan.n_fft),
      extract_(multicarrier::GridExtract::from_grid(multicarrier::CarrierGrid::from_plan(cfg.plan))),
      data_carriers_(extract_.data_bins().size()),
      bits_per_symbol_(cfg.bits_per_ofdm_symbol()),
      n_fft_(cfg.plan.n_fft),
      cp_len_(cfg.plan.cp_len),
      samples_per_symbol_(cfg.samples_per_ofdm_symbol()),
      spectrum_(cfg.plan.n_fft),
      equalized_(cfg.plan.n_fft),
      data_ranges_(extract_.data_bins()) {}

core::Result<void> OfdmDemod::transform(std::span<const cf32> iq, const char* method) {
  if (iq.size() < samples_per_symbol_)
    return core::error(std::string("OfdmDemod.") + method + ": input too short (" +
                       std::to_string(iq.size()) + " < " + std::to_string(samples_per_symbol_) +
                       ")");
  // The prefix is removed by transforming the window right after it; the
  // FFT block reads that window in place or copies it, as its alignment
  // allows.
  fft_.process(iq.subspan(cp_len_, n_fft_), spectrum_);
  return {};
}

core::Result<void> OfdmDemod::demodulate(std::span<const cf32> iq, std::span<cf32> soft,
                                         std::span<std::uint8_t> bits) {
  VATEL_ENSURE(soft.size() >= data_carriers_ && bits.size() >= bits_per_symbol_,
               "OfdmDemod: output room for " + std::to_string(soft.size()) + " cells and " +
                   std::to_string(bits.size()) + " bits");
  if (auto r = transform(iq, "demodulate"); !r) return r;
  // In pilot mode each output bin costs two divisions, so only the data
  // cells are equalised, straight into their places.
  if (equalizer_.mode == multicarrier::EqualizerMode::PilotInterp) {
    equalizer_.process_cells(spectrum_, data_ranges_, soft);
  } else {
    equalizer_.process(spectrum_, equalized_);
    extract_.extract(equalized_, soft);
  }
  decide_cells(cfg_.constellation, soft.first(data_carriers_), bits.data());
  return {};
}

core::Result<void> OfdmDemod::estimate_channel(std::span<const cf32> training_iq) {
  if (auto r = transform(training_iq, "estimate_channel"); !r) return r;
  equalizer_.estimate_from_training_symbol(spectrum_);
  return {};
}

}  // namespace vatel::demodulate::ofdm
