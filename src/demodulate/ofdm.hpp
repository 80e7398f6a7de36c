#pragma once
// The OFDM receiver steps after equalisation: max-log soft demapping of the
// data cells into LLRs, hard decisions, and the error-vector magnitude of
// decided cells against their ideal points.
//
// LLR = (smallest squared distance to a point whose bit is 1) - (smallest
// squared distance to a point whose bit is 0), per axis on the mapper's
// unit-average-power levels: positive favours bit 0, and no noise variance
// enters.  A cell's LLRs come in the mapper's bit order, real axis first.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/block.hpp"
#include "core/result.hpp"
#include "core/types.hpp"
#include "multicarrier/config.hpp"
#include "multicarrier/equalizer.hpp"
#include "multicarrier/fft.hpp"
#include "multicarrier/grid.hpp"

namespace vatel::demodulate::ofdm {

using multicarrier::ConstellationOrder;

// BPSK: 4 re, the distance difference of the points +-1.
inline constexpr float kBpskLlrScale = 4.0f;
// QPSK: 4 sqrt(2) per axis, twice the distance difference of the points
// +-1/sqrt(2); the decoders downstream are tuned to this scale.
inline constexpr float kQpskLlrScale = 5.656854f;

struct OfdmSoftDemod {
  using Input = cf32;
  using Output = float;

  std::size_t num_cells = 0;  // cells consumed per call
  std::size_t num_llrs = 0;   // num_cells * bits per point
  ConstellationOrder constellation = ConstellationOrder::Qpsk;

  // The demapper of `num_cells` cells (the LLR count checked for overflow).
  static OfdmSoftDemod for_cells(ConstellationOrder constellation, std::size_t num_cells);

  // Writes the LLRs of cells[0..num_cells) and returns num_llrs; 0 without
  // writing when fewer cells are given or the output has less room.  Fields
  // that disagree (num_llrs other than num_cells * bits per point) are a
  // violated invariant.
  std::size_t process(std::span<const cf32> cells, std::span<float> llrs);
};

static_assert(core::Block<OfdmSoftDemod>);

// The four LLRs of one 256-QAM axis value, most significant bit first.
std::array<float, 4> qam_axis_soft_llr(float v) noexcept;

// Hard decisions of the cells, bits_per_point bits each, into bits (room for
// cells.size() * bits_per_point).  The decider's rule: values on a threshold
// take the lower position, NaN decides position 0.
void decide_cells(ConstellationOrder constellation, std::span<const cf32> cells,
                  std::uint8_t* bits);
// Its portable and AVX2 builds (the same bits).
void decide_cells_kernel(ConstellationOrder constellation, const cf32* cells, std::size_t n,
                         std::uint8_t* bits);
void decide_cells_kernel_portable(ConstellationOrder constellation, const cf32* cells,
                                  std::size_t n, std::uint8_t* bits);
void decide_cells_kernel_fma(ConstellationOrder constellation, const cf32* cells, std::size_t n,
                             std::uint8_t* bits);

// 10 log10(error power / reference power) of the cells against the points
// their bits (one per byte, lowest bit) map to.  Absent without cells, with
// num_symbols 0, with fewer bits than the cells need, or with a reference
// power of 0; surplus bits are ignored.  A perfect match is -inf.
std::optional<float> evm_db(ConstellationOrder constellation, std::span<const cf32> cells,
                            std::span<const std::uint8_t> bits, std::size_t num_symbols);

// One synchronised OFDM symbol at a time: cyclic-prefix removal (the window
// right after the prefix, no back-off), FFT, equaliser, data cells in the
// plan's data-carrier order, hard decisions.  Only the equaliser's estimate
// changes from call to call; nothing is allocated per symbol.
class OfdmDemod {
 public:
  // "training_symbol" or "pilot_interp"; the plan must be valid.
  static core::Result<OfdmDemod> create(const multicarrier::OfdmConfig& cfg,
                                        std::string_view equalizer);
  OfdmDemod(const multicarrier::OfdmConfig& cfg, multicarrier::EqualizerMode mode);

  // The first samples_per_symbol() samples of iq (later ones are ignored)
  // into data_carriers() cells and bits_per_symbol() bits; the
  // input-too-short error for a shorter iq.
  core::Result<void> demodulate(std::span<const cf32> iq, std::span<cf32> soft,
                                std::span<std::uint8_t> bits);
  // The training-mode weights from the received training symbol at the
  // start of training_iq (nothing is kept in pilot mode).
  core::Result<void> estimate_channel(std::span<const cf32> training_iq);

  const multicarrier::OfdmConfig& config() const noexcept { return cfg_; }
  multicarrier::OfdmEqualizer& equalizer() noexcept { return equalizer_; }
  std::size_t data_carriers() const noexcept { return data_carriers_; }
  std::size_t bits_per_symbol() const noexcept { return bits_per_symbol_; }
  std::size_t samples_per_symbol() const noexcept { return samples_per_symbol_; }

 private:
  core::Result<void> transform(std::span<const cf32> iq, const char* method);

  multicarrier::OfdmConfig cfg_;
  multicarrier::OfdmEqualizer equalizer_;
  multicarrier::FftBlock fft_;
  multicarrier::GridExtract extract_;
  std::size_t data_carriers_;
  std::size_t bits_per_symbol_;
  std::size_t n_fft_;
  std::size_t cp_len_;
  std::size_t samples_per_symbol_;
  multicarrier::AlignedSamples spectrum_;
  multicarrier::AlignedSamples equalized_;
  multicarrier::CellRanges data_ranges_;  // the data bins, cell by cell
};

}  // namespace vatel::demodulate::ofdm
