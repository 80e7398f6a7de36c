#include "waveform/dvb_t_cells.hpp"

#include <limits>

#include "core/panic.hpp"
#include "dsp/max_log.hpp"
#include "waveform/dvb_t.hpp"

namespace vatel::waveform::dvb_t {
namespace {

template <std::size_t kBits>
void cells_llr(ConstellationOrder order, std::span<const cf32> cells, float* llr) {
  const float* scaled = dvb_t_axis_levels(order).data();
  for (const cf32 c : cells) {
    dsp::max_log_axis<kBits>(scaled, c.real(), llr, 2);
    dsp::max_log_axis<kBits>(scaled, c.imag(), llr + 1, 2);
    llr += 2 * kBits;
  }
}

}  // namespace

std::vector<float> dvb_t_soft_llr(std::size_t bits_per_cell, cf32 cell) {
  if (bits_per_cell != 2 && bits_per_cell != 4 && bits_per_cell != 6) return {};
  std::vector<float> out(bits_per_cell);
  dvb_t_soft_llr_cells(bits_per_cell, std::span<const cf32>(&cell, 1), out.data());
  return out;
}

void dvb_t_soft_llr_cells(std::size_t bits_per_cell, std::span<const cf32> cells, float* llr) {
  switch (bits_per_cell) {
    case 2: return cells_llr<1>(ConstellationOrder::Qpsk, cells, llr);
    case 4: return cells_llr<2>(ConstellationOrder::Qam16, cells, llr);
    case 6: return cells_llr<3>(ConstellationOrder::Qam64, cells, llr);
    default: core::panic("DVB-T cells carry 2, 4 or 6 bits, not " + std::to_string(bits_per_cell));
  }
}

}  // namespace vatel::waveform::dvb_t
