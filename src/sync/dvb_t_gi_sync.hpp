#pragma once
// DVB-T symbol acquisition from the guard interval.  A DVB-T frame has no
// preamble: the last cp_len samples of each symbol's useful part repeat in
// front of it, so the correlation of a window with the samples 2048 later
// peaks where a symbol starts.  The search runs over one symbol period of
// candidate starts and sums up to four symbols per candidate.
//
// Also here: the whole-carrier frequency-offset search over the continual
// pilots, and the derotation that undoes the shift it finds.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/types.hpp"
#include "multicarrier/fft.hpp"

namespace vatel::sync::dvb_t_gi_sync {

inline constexpr std::size_t kFftLen = 2048;
// The Hz figures are given at the "1mhz" narrow-band rate whatever the real
// rate: 1201173 S/s, one carrier = 1201173 / 2048 Hz.
inline constexpr float kReferenceFs = 1201173.0f;
inline constexpr float kCarrierSpacingHz = 586.51025f;
// The integer search looks this many carriers either way.
inline constexpr std::int32_t kMaxShift = 32;

struct GiSyncResult {
  std::size_t offset = 0;  // start of the first symbol's cyclic prefix
  float cfo_hz = 0.0f;     // fractional offset, at kReferenceFs
  float quality = 0.0f;    // normalised correlation in [0, 1]
};

// The search with its scratch buffers, for callers that acquire often.
class GiSearch {
 public:
  // Candidates 0 .. count-1; nothing when cp_len or count is 0 or the slice
  // is shorter than cp_len + count + 2047.
  std::optional<GiSyncResult> run(std::span<const cf32> samples, std::size_t cp_len,
                                  std::size_t count);

 private:
  // Per sample a: r[a] conj(r[a + 2048]) and |r[a]|^2 + |r[a + 2048]|^2.
  std::vector<float> prod_re_, prod_im_, power_;
  // Per candidate: correlation and half energy over up to four symbols.
  std::vector<float> c_re_, c_im_, half_energy_;
};

std::optional<GiSyncResult> dvb_t_gi_sync(std::span<const cf32> samples, std::size_t cp_len,
                                          std::size_t count);

// The whole-carrier shift t in -32 ..= 32 that puts the most power on the
// given pilot bins, from up to eight FFT windows of the symbols starting at
// `offset` (the acquired start).  Ties keep the lower shift.
class IntegerCfoSearch {
 public:
  explicit IntegerCfoSearch(std::span<const std::size_t> pilot_bins);

  std::int32_t find(std::span<const cf32> samples, std::size_t cp_len, std::size_t offset);

 private:
  std::vector<std::size_t> pilot_bins_;
  multicarrier::FftBlock fft_{kFftLen};
  multicarrier::AlignedSamples spectrum_;
  std::vector<float> power_;
};

// out[n] = in[n] times the phasor of a Rotator stepping -2 pi shift / 2048
// per sample (advanced before each sample): the spectrum moves down by
// `shift` carriers.  `out` must hold in.size() samples.
void derotate_carriers(std::span<const cf32> in, std::int32_t shift, std::span<cf32> out);

}  // namespace vatel::sync::dvb_t_gi_sync
