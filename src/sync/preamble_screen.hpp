#pragma once
// A fast first pass of the preamble search for streams.  The score of a
// start position d (squared magnitude of the correlation P between adjacent
// repetitions over the energy E of repetitions 1 to R-1, squared) is a
// ratio of two sliding sums of per-sample products:
//
//   P(d) = sum over i in [d, d + (R-1)L) of x[i + L] conj(x[i])
//   E(d) = sum over i in [d + L, d + RL) of |x[i]|^2
//
// so it costs a few operations per position instead of (R-1)L.  The sums
// run in double precision and restart from scratch every block of
// positions, so rounding cannot drift, and after a non-finite sample, so
// that it spoils only the starts whose window holds it.  The screen reports positions whose score may reach a
// threshold, with a small margin for the rounding of the exact search,
// which then judges them.
//
// The score divides by the energy of the later repetitions only, so where
// the end of a strong signal fills the first repetition and weak noise the
// others, the score saturates although no preamble is there: a falling edge,
// which every burst through a multipath channel leaves behind its last
// symbol.  The repetitions of a preamble carry equal energy, so the screen
// also refuses a start whose first repetition holds several times the mean
// energy of the others.
//
// A carrier tone (and the DC that every receiver front end leaves, a tone at
// zero frequency) is periodic with any period and scores 1 wherever it
// stands above the noise.  A preamble is several spectral lines, a tone one:
// the correlation of a tone with itself at any lag m holds its share of the
// window's energy, whereas the lines of a preamble, k fs / L apart, cancel
// at some lag: a lag of L / 2^j sets lines an odd multiple of 2^(j-1)
// apart in opposition.  The preamble's lines are the multiples of a step up
// to the plan's edge, and the lags L/2 and L/4 keep its correlation below a
// third of its energy, through echoes and notches too, so a start whose
// window correlates highly at both lags, essentially one line, is refused.
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "core/types.hpp"

namespace vatel::sync {

class PreambleScreen {
 public:
  PreambleScreen() = default;
  PreambleScreen(std::size_t num_repeats, std::size_t repeat_len);

  // The first position d in [from, to) whose score may reach `threshold`;
  // each d needs d + R L <= iq.size().
  std::optional<std::size_t> first(std::span<const cf32> iq, std::size_t from, std::size_t to,
                                   float threshold);

  // Positions whose sums restart together.
  static constexpr std::size_t kBlock = 2048;
  // The largest accepted ratio of the first repetition's energy to the mean
  // of the others: noise makes the repetitions of a real preamble differ by
  // far less.
  static constexpr double kMaxLeadRatio = 3.0;
  // The largest accepted share of the window's energy in one spectral line:
  // a tone in noise that passes the score holds over 0.7 of it, a preamble
  // under a tone 10 dB below it less than 0.2.
  static constexpr double kMaxLineShare = 0.5;

 private:
  std::size_t repeats_ = 0;
  std::size_t len_ = 0;
  // Per-sample products and energies of one block: with the sample L later,
  // and with those L/2 and L/4 later for the line test.
  std::vector<double> lag_re_, lag_im_, energy_;

  std::size_t half_ = 1;     // L/2
  std::size_t quarter_ = 1;  // L/4
  std::vector<double> half_re_, half_im_, quarter_re_, quarter_im_;
  // The per-sample products of the n samples of a block from a on (the
  // vectors sized for them): with the sample L later (kLag), with those L/2
  // and L/4 later (kLine), and the energies of n + L samples (kEnergy).
  template <bool kLag, bool kLine, bool kEnergy>
  void fill(const cf32* a, std::size_t n);
  // The last block scanned ended inside a run of one-line starts.  Only the
  // order in which the next block is scanned depends on it.
  bool line_first_ = false;
};

}  // namespace vatel::sync
