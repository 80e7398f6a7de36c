#pragma once
// The mapping of a carrier plan onto FFT bins.  Carrier k lives in bin
// k mod n_fft (the non-negative remainder), so negative carriers occupy the
// upper half of the FFT: with 64 bins carrier -1 is bin 63.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/types.hpp"
#include "multicarrier/config.hpp"

namespace vatel::multicarrier {

enum class CarrierRole : std::uint8_t { Data = 0, Pilot = 1, Inactive = 2 };

struct PilotBin {
  std::size_t bin = 0;
  cf32 value{};
};

struct CarrierGrid {
  std::vector<CarrierRole> roles;     // one per bin
  std::vector<std::size_t> data_bins; // in data-carrier order
  std::vector<PilotBin> pilots;       // in pilot order
  std::size_t n_fft = 0;

  // The plan must be valid; an invalid one is a violated invariant (every
  // caller validates first).
  static CarrierGrid from_plan(const CarrierPlan& plan);
};

// Gathers the data cells of a received spectrum.  Owns copies of the grid's
// tables, independent of the grid it was made from.
class GridExtract {
 public:
  static GridExtract from_grid(const CarrierGrid& grid);

  // out[i] = spectrum[data_bins[i]] when the spectrum holds n_fft values and
  // the output room for every data cell; otherwise nothing is written.
  void extract(std::span<const cf32> spectrum, std::span<cf32> out) const noexcept;

  const std::vector<CarrierRole>& roles() const noexcept { return roles_; }
  const std::vector<std::size_t>& data_bins() const noexcept { return data_bins_; }
  const std::vector<PilotBin>& pilots() const noexcept { return pilots_; }
  std::size_t n_fft() const noexcept { return n_fft_; }

 private:
  std::vector<CarrierRole> roles_;
  std::vector<std::size_t> data_bins_;
  std::vector<PilotBin> pilots_;
  std::size_t n_fft_ = 0;
};

}  // namespace vatel::multicarrier
