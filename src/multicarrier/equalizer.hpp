#pragma once
// The channel equaliser of an OFDM receiver: it removes the channel from the
// spectrum of each received symbol, either with weights taken once from the
// known training symbol, or with an estimate measured afresh on the pilot
// carriers of every symbol and interpolated linearly onto the data bins.
//
// Interpolation runs in FFT-bin order, not carrier order: the data bins just
// above DC copy the lowest pilot bin's estimate, the top bins (just below DC)
// copy the highest one's, and the bins either side of the empty band around
// n_fft/2 are interpolated across that band.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/block.hpp"
#include "core/types.hpp"
#include "multicarrier/config.hpp"
#include "multicarrier/grid.hpp"

namespace vatel::multicarrier {

enum class EqualizerMode : std::uint8_t { TrainingSymbol = 0, PilotInterp = 1 };

// H[target] = H[lower] + t * (H[upper] - H[lower]).
struct InterpEntry {
  std::size_t target = 0;
  std::size_t lower = 0;
  std::size_t upper = 0;
  float t = 0.0f;
  friend bool operator==(const InterpEntry&, const InterpEntry&) = default;
};

// Consecutive entries on consecutive target bins between one pair of pilot
// bins, neither of which is among those targets: nothing the run writes is
// read by it, so it is computed as one linear ramp, which vectorises.
struct InterpRun {
  std::size_t first = 0;   // index of its first entry
  std::size_t count = 0;   // entries first .. first + count - 1
  std::size_t target = 0;  // target of the first entry; the others follow it
  std::size_t lower = 0;
  std::size_t upper = 0;
};

struct PilotLayout {
  std::vector<PilotBin> pilots;      // sorted by bin; equal bins keep their order
  std::vector<InterpEntry> entries;  // one per target, ascending target

  // The entries regrouped for the per-symbol loop, derived from `entries`
  // by derive_runs(): their fractions in entry order, and the runs covering
  // them in order.  A layout whose runs do not cover as many entries as it
  // has (assembled field by field, or entries added later) is interpolated
  // entry by entry; code that rewrites entries in place derives them again.
  std::vector<float> fractions;
  std::vector<InterpRun> runs;
  // One past the highest bin the runs touch, so that one comparison per
  // symbol checks them all; set by derive_runs(), and at the maximum
  // (checked run by run) until then.
  std::size_t runs_reach = SIZE_MAX;

  // Targets below the first pilot, above the last, or on a pilot copy that
  // pilot's estimate; the others lie between two pilot bins.  No pilots: no
  // entries.  The runs are derived.
  static PilotLayout build(std::span<const PilotBin> pilots, std::span<const std::size_t> targets);
  // The same in carrier order: bins from n_fft/2 up are the negative
  // carriers, so targets next to DC interpolate between the pilots either
  // side of it (a linear phase ramp across the band, such as a receive
  // window back-off makes, is followed through DC), and the empty band
  // around n_fft/2 is the outer edge.  Pilots are sorted by carrier.
  static PilotLayout build_in_carrier_order(std::span<const PilotBin> pilots,
                                            std::span<const std::size_t> targets,
                                            std::size_t n_fft);

  void derive_runs();
  // True when the runs were derived from as many entries as there are.
  bool runs_cover_entries() const noexcept;
};

// H[target] = H[lower] + t (H[upper] - H[lower]) for each entry in order,
// over an estimate of n bins: through the runs when they cover the entries,
// else entry by entry (the reference).  Both give the same bits.  A bin
// outside the n is a violated invariant, raised after the entries before it
// have been applied.
void interpolate_channel(const PilotLayout& layout, cf32* h, std::size_t n);
void interpolate_channel_by_entry(const PilotLayout& layout, std::size_t from, cf32* h,
                                  std::size_t n);

// A weight or inverse channel is only formed for a magnitude of at least
// 1e-3: a weaker bin is taken as empty and comes out as 0.
inline constexpr float kMinChannelPower = 0.000001f;

// Bins bin .. bin + count - 1 of a spectrum to cells cell .. cell + count - 1.
struct BinRange {
  std::size_t bin = 0;
  std::size_t count = 0;
  std::size_t cell = 0;
};

// Cell i of bins[i], as ranges: the list cut where the bins stop running
// consecutively.  Fixed once made, so that its extent is checked once per
// use rather than range by range.
class CellRanges {
 public:
  explicit CellRanges(std::span<const std::size_t> bins);
  std::span<const BinRange> ranges() const noexcept { return ranges_; }
  std::size_t bins_reach() const noexcept { return bins_reach_; }  // one past the highest bin
  std::size_t cells() const noexcept { return cells_; }

 private:
  std::vector<BinRange> ranges_;
  std::size_t bins_reach_ = 0;
  std::size_t cells_ = 0;
};

struct OfdmEqualizer {
  using Input = cf32;
  using Output = cf32;

  // The configuration's plan must be valid.
  OfdmEqualizer(const OfdmConfig& cfg, EqualizerMode mode);

  // In training mode, replaces the channel estimate and the weights from the
  // spectrum (n_fft bins in FFT order) of a received training symbol:
  // H[k] = Y[k] / X[k] and W[k] = 1 / H[k], X the training sequence.  Does
  // nothing in pilot mode or for a short spectrum.
  void estimate_from_training_symbol(std::span<const cf32> spectrum) noexcept;

  // Writes n_fft equalised bins and returns n_fft; 0 without writing when a
  // slice is shorter.  In pilot mode it first updates the channel estimate
  // from the chosen layout (a layout bin outside the spectrum is a violated
  // invariant).
  std::size_t process(std::span<const cf32> spectrum, std::span<cf32> out);

  // What process() does, with only the bins of the ranges written, each to
  // its cell: the same channel update in pilot mode, the same values.  For
  // a receiver that keeps only some cells (the data cells): the others cost
  // no division.  A short spectrum writes nothing; bins outside the
  // spectrum or fewer cells than the ranges fill are a violated invariant.
  void process_cells(std::span<const cf32> spectrum, const CellRanges& ranges,
                     std::span<cf32> cells);

  // Selects a layout of `layouts` by key; absent: the default layout.  A key
  // not in `layouts` leaves the estimate of earlier symbols in force.
  std::optional<std::size_t> symbol_index;
  std::vector<cf32> channel;  // H per bin (pilot mode: the latest symbol's)
  std::vector<cf32> weights;  // W per bin (training mode)
  PilotLayout default_layout;
  std::vector<std::pair<std::size_t, PilotLayout>> layouts;
  std::size_t n_fft = 0;
  EqualizerMode mode = EqualizerMode::TrainingSymbol;

 private:
  const PilotLayout* chosen_layout() const noexcept;
  // The channel and the weights still span n_fft bins (a violated invariant
  // otherwise).
  void ensure_sizes() const;
  // Pilot mode: H at the pilots and targets of the chosen layout.
  void update_channel(std::span<const cf32> spectrum);
  std::vector<cf32> training_;  // the first n_fft training-sequence values
};

static_assert(core::Block<OfdmEqualizer>);

// The per-bin steps over interleaved components, n bins: o = y w (training
// weights), and o = y conj(h) / |h|^2 or 0 below the floor (channel).  The
// portable and AVX2 builds give the same bits.
void apply_weights_kernel(const float* y, const float* w, float* o, std::size_t n);
void apply_weights_kernel_portable(const float* y, const float* w, float* o, std::size_t n);
void apply_weights_kernel_avx2(const float* y, const float* w, float* o, std::size_t n);
void apply_channel_kernel(const float* y, const float* h, float* o, std::size_t n);
void apply_channel_kernel_portable(const float* y, const float* h, float* o, std::size_t n);
void apply_channel_kernel_avx2(const float* y, const float* h, float* o, std::size_t n);
// apply_channel_kernel over each range, y and h indexed by bin, o by cell.
void apply_channel_ranges_kernel(const float* y, const float* h, const BinRange* ranges,
                                 std::size_t n_ranges, float* o);
void apply_channel_ranges_kernel_portable(const float* y, const float* h, const BinRange* ranges,
                                          std::size_t n_ranges, float* o);
void apply_channel_ranges_kernel_avx2(const float* y, const float* h, const BinRange* ranges,
                                      std::size_t n_ranges, float* o);
// The runs in order over interleaved components h (bins checked by the
// caller), fractions as in PilotLayout.
void interpolate_runs_kernel(float* h, const InterpRun* runs, std::size_t n_runs, const float* t);
void interpolate_runs_kernel_portable(float* h, const InterpRun* runs, std::size_t n_runs,
                                      const float* t);
void interpolate_runs_kernel_avx2(float* h, const InterpRun* runs, std::size_t n_runs,
                                  const float* t);

}  // namespace vatel::multicarrier
