#include "multicarrier/grid.hpp"

#include "core/panic.hpp"

namespace vatel::multicarrier {

CarrierGrid CarrierGrid::from_plan(const CarrierPlan& plan) {
  if (auto e = plan.validate())
    core::panic("CarrierGrid::from_plan: invalid CarrierPlan: " + e->debug());
  CarrierGrid g;
  g.n_fft = plan.n_fft;
  g.roles.assign(plan.n_fft, CarrierRole::Inactive);
  g.data_bins.reserve(plan.data_carriers.size());
  for (std::int32_t k : plan.data_carriers) {
    const std::size_t bin = plan.carrier_bin(k);
    g.roles[bin] = CarrierRole::Data;
    g.data_bins.push_back(bin);
  }
  g.pilots.reserve(plan.pilot_carriers.size());
  for (const PilotCarrier& p : plan.pilot_carriers) {
    const std::size_t bin = plan.carrier_bin(p.index);
    g.roles[bin] = CarrierRole::Pilot;
    g.pilots.push_back({bin, p.value});
  }
  return g;
}

GridExtract GridExtract::from_grid(const CarrierGrid& grid) {
  GridExtract x;
  x.roles_ = grid.roles;
  x.data_bins_ = grid.data_bins;
  x.pilots_ = grid.pilots;
  x.n_fft_ = grid.n_fft;
  return x;
}

void GridExtract::extract(std::span<const cf32> spectrum, std::span<cf32> out) const noexcept {
  if (spectrum.size() < n_fft_ || out.size() < data_bins_.size()) return;
  const std::size_t* bins = data_bins_.data();
  const cf32* in = spectrum.data();
  cf32* o = out.data();
  for (std::size_t i = 0, n = data_bins_.size(); i < n; ++i) o[i] = in[bins[i]];
}

}  // namespace vatel::multicarrier
