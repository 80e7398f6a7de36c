#include "dsp/constellation.hpp"

namespace vatel::dsp {
namespace {

QamTable make_table(unsigned order, unsigned m, float energy) {
  QamTable t;
  t.order = order;
  t.bits_per_axis = m;
  t.levels = 1u << m;
  t.scale = 1.0f / std::sqrt(energy);
  const int L = static_cast<int>(t.levels);
  for (int p = 0; p < L; ++p) {
    const unsigned b = static_cast<unsigned>(p ^ (p >> 1));  // Gray code of the position
    t.level[b] = static_cast<float>(2 * p - (L - 1)) * t.scale;
  }
  for (int k = 0; k + 1 < L; ++k)
    t.threshold[static_cast<std::size_t>(k)] = static_cast<float>(2 * k - (L - 2)) * t.scale;
  return t;
}

}  // namespace

const QamTable* qam_table(unsigned order) noexcept {
  static const QamTable q16 = make_table(16, 2, 10.0f);
  static const QamTable q64 = make_table(64, 3, 42.0f);
  static const QamTable q256 = make_table(256, 4, 170.0f);
  switch (order) {
    case 16: return &q16;
    case 64: return &q64;
    case 256: return &q256;
    default: return nullptr;
  }
}

}  // namespace vatel::dsp
