#include "waveform/dvb_t_cells.hpp"

#include <limits>

#include "core/panic.hpp"
#include "waveform/dvb_t.hpp"

namespace vatel::waveform::dvb_t {
namespace {

// The axis soft values of value x over `levels` scaled levels (index bits
// most significant first), written every `stride` floats.
template <std::size_t kBits>
inline void axis_llr(float x, const float* level, float* out, std::size_t stride) {
  constexpr std::size_t kLevels = std::size_t{1} << kBits;
  float d[kLevels];
  for (std::size_t i = 0; i < kLevels; ++i) {
    const float e = x - level[i];
    d[i] = e * e;
  }
  for (std::size_t k = 0; k < kBits; ++k) {
    const std::size_t mask = std::size_t{1} << (kBits - 1 - k);
    float set = std::numeric_limits<float>::infinity();
    float clear = std::numeric_limits<float>::infinity();
    for (std::size_t i = 0; i < kLevels; ++i) {
      if (i & mask)
        set = d[i] < set ? d[i] : set;
      else
        clear = d[i] < clear ? d[i] : clear;
    }
    out[k * stride] = set - clear;
  }
}

template <std::size_t kBits>
void cells_llr(ConstellationOrder order, std::span<const cf32> cells, float* llr) {
  const float* scaled = dvb_t_axis_levels(order).data();
  for (const cf32 c : cells) {
    axis_llr<kBits>(c.real(), scaled, llr, 2);
    axis_llr<kBits>(c.imag(), scaled, llr + 1, 2);
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
