// The common-phase tracker of the COFDM frame receivers: a decision-directed
// loop through an equalised section and the straight line fitted to it.
#include <cmath>

#include "demodulate/ofdm.hpp"
#include "demodulate/ofdm_frame.hpp"
#include "demodulate/ofdm_frame_section.hpp"

namespace vatel::demodulate::ofdm_frame {

using demodulate::ofdm::OfdmSoftDemod;
using section::decided_points;
using section::rotate;

std::optional<PhaseLine> track_common_phase(std::span<cf32> cells, std::size_t D, std::size_t count,
                                            ConstellationOrder c, float theta, float omega,
                                            FrameScratch::Work& w) {
  const std::size_t b = bits_per_point(c);
  OfdmSoftDemod demod = OfdmSoftDemod::for_cells(c, D);
  w.rotated.resize(D);
  w.points.resize(D);
  w.symbol_llrs.resize(D * b);
  w.phases.resize(count);
  for (std::size_t s = 0; s < count; ++s) {
    float sn, cs;
    ::sincosf(theta, &sn, &cs);
    const cf32* x = cells.data() + s * D;
    for (std::size_t i = 0; i < D; ++i) w.rotated[i] = rotate(x[i], cs, sn);
    demod.process(w.rotated, w.symbol_llrs);
    decided_points(c, w.symbol_llrs.data(), D, w.points.data());
    float are = 0.0f, aim = 0.0f;
    for (std::size_t i = 0; i < D; ++i) {
      const cf32 r = w.points[i];
      const cf32 y = w.rotated[i];
      // y * conj(r)
      are = are + (y.real() * r.real() + y.imag() * r.imag());
      aim = aim + (y.imag() * r.real() - y.real() * r.imag());
    }
    const float e = (are == 0.0f && aim == 0.0f) ? 0.0f : ::atan2f(aim, are);
    w.phases[s] = theta + e;
    theta = theta + 0.5f * e + omega;
    omega = omega + 0.05f * e;
  }
  const float n = static_cast<float>(count);
  const float s1 = n * (n - 1.0f) / 2.0f;
  const float s2 = (2.0f * n - 1.0f) * (n - 1.0f) * n / 6.0f;
  float sum = 0.0f, weighted = 0.0f;
  for (std::size_t s = 0; s < count; ++s) {
    sum = sum + w.phases[s];
    weighted = weighted + static_cast<float>(s) * w.phases[s];
  }
  const float q = n * s2 - s1 * s1;
  if (!(std::fabs(q) > 1.1920929e-7f)) return std::nullopt;
  PhaseLine line;
  line.slope = (n * weighted - s1 * sum) / q;
  line.intercept = (sum - s1 * line.slope) / n;
  for (std::size_t s = 0; s < count; ++s) {
    float sn, cs;
    ::sincosf(line.slope * static_cast<float>(s) + line.intercept, &sn, &cs);
    cf32* x = cells.data() + s * D;
    for (std::size_t i = 0; i < D; ++i) x[i] = rotate(x[i], cs, sn);
  }
  return line;
}

}  // namespace vatel::demodulate::ofdm_frame
