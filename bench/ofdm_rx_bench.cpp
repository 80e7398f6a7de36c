// The OFDM receive path, native: OfdmDemod symbols per second against the
// bare FFTW forward transform of the same size (one planned transform per
// symbol, as the demodulator runs it), and the preamble search in start
// positions per second with the cost of one integer-offset search.
//
// Times are the thread's CPU time, not wall-clock time: on a machine shared
// with other work, preemption would otherwise land on whichever side
// happened to be running.
//
// With --quick each measurement is a few calls on a short noise record: it
// shows the benchmark still runs, and its figures mean nothing.
//
// The results are checked, in --quick runs too: the demodulator returns the
// bits of every clean symbol, and the search ranks the preamble laid into
// the noise first.  A wrong result is reported and makes the exit status 1;
// speeds are printed, never judged.
#include <fftw3.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "demodulate/ofdm.hpp"
#include "modulate/ofdm.hpp"
#include "multicarrier/config.hpp"
#include "sync/ofdm_sync.hpp"

using namespace vatel;

namespace {

volatile float sink;

int g_wrong = 0;  // wrong results seen so far; main returns 1 when there is any

void wrong(const std::string& what) {
  std::printf("WRONG RESULT: %s\n", what.c_str());
  ++g_wrong;
}

// CPU seconds per measurement and noise samples for the preamble search;
// --quick shrinks both.
double g_seconds = 0.4;
std::size_t g_noise = 1u << 21;

double cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// Calls per CPU second of `body` over about `seconds`.
double rate(const std::function<void()>& body, double seconds = 0.0) {
  if (seconds <= 0.0) seconds = g_seconds;
  body();
  std::size_t calls = 0;
  const double start = cpu_seconds();
  double elapsed = 0;
  do {
    for (int i = 0; i < 8; ++i) body();
    calls += 8;
    elapsed = cpu_seconds() - start;
  } while (elapsed < seconds);
  return static_cast<double>(calls) / elapsed;
}

// 16-QAM on the carriers inside a tenth of the band at each edge, with a
// pilot on every eighth carrier of the occupied span.
multicarrier::OfdmConfig config(std::size_t n_fft) {
  const std::int32_t edge = std::int32_t(n_fft / 2 - n_fft / 10);
  std::vector<std::int32_t> pilots;
  for (std::int32_t k = 1 - edge; k < edge; k += 8)
    if (k != 0) pilots.push_back(k);
  const std::vector<cf32> values(pilots.size(), cf32{1.0f, 0.0f});
  return multicarrier::OfdmConfig::create(n_fft, n_fft / 4, {}, pilots, values, 1e6f, 0.0f, 1.0f,
                                          multicarrier::ConstellationOrder::Qam16, n_fft / 10)
      .value();
}

void bench_demod() {
  std::printf("%-28s %14s %14s %7s  target\n", "OfdmDemod.demodulate", "symbols/s",
              "bare FFTW/s", "ratio");
  std::mt19937 gen(1);
  for (std::size_t n : {64u, 256u, 2048u}) {
    for (auto mode : {multicarrier::EqualizerMode::TrainingSymbol,
                      multicarrier::EqualizerMode::PilotInterp}) {
      const auto cfg = config(n);
      modulate::OfdmMod mod(cfg);
      constexpr std::size_t kSymbols = 64;
      std::vector<std::uint8_t> bits(kSymbols * mod.bits_per_symbol());
      for (auto& b : bits) b = gen() & 1u;
      const auto iq = mod.modulate(bits);
      demodulate::ofdm::OfdmDemod demod(cfg, mode);
      std::vector<cf32> soft(demod.data_carriers());
      std::vector<std::uint8_t> out(demod.bits_per_symbol());
      const std::size_t sps = demod.samples_per_symbol();
      const char* mode_name = mode == multicarrier::EqualizerMode::TrainingSymbol ? "training" : "pilot_interp";
      // Clean symbols straight from the modulator: every bit comes back.
      std::size_t bad_symbols = 0;
      for (std::size_t k = 0; k < kSymbols; ++k) {
        const bool ok = demod.demodulate(iq.span().subspan(k * sps), soft, out).ok();
        bad_symbols += !ok || !std::equal(out.begin(), out.end(), bits.begin() + k * out.size());
      }
      if (bad_symbols)
        wrong("OfdmDemod n_fft " + std::to_string(n) + " " + mode_name + ": " + std::to_string(bad_symbols) +
              " of " + std::to_string(kSymbols) + " clean symbols demodulated to other bits");
      std::size_t s = 0;
      const double ours = kSymbols * rate([&] {
        for (std::size_t k = 0; k < kSymbols; ++k, s = (s + 1) % kSymbols)
          (void)demod.demodulate(iq.span().subspan(s * sps), soft, out);
        sink = soft[0].real();
      });

      auto* in = fftwf_alloc_complex(n);
      auto* res = fftwf_alloc_complex(n);
      for (std::size_t k = 0; k < n; ++k) in[k][0] = in[k][1] = float(k % 7);
      fftwf_plan plan = fftwf_plan_dft_1d(int(n), in, res, FFTW_FORWARD, FFTW_ESTIMATE);
      const double bare = kSymbols * rate([&] {
        for (std::size_t k = 0; k < kSymbols; ++k) fftwf_execute(plan);
        sink = res[1][0];
      });
      fftwf_destroy_plan(plan);
      fftwf_free(in);
      fftwf_free(res);
      const double ratio = bare / ours;
      std::printf("  n_fft %4zu %-16s %14.4g %14.4g %7.2f  <= 3x  %s\n", n, mode_name, ours, bare, ratio,
                  ratio <= 3 ? "ok" : "ABOVE");
    }
  }
}

void bench_sync() {
  std::printf("%-28s %14s  target\n", "ofdm_sync (R = 4, L = 16)", "positions/s");
  std::mt19937 gen(2);
  std::normal_distribution<float> noise(0.0f, 0.1f);
  std::vector<cf32> iq(g_noise);
  for (cf32& x : iq) x = {noise(gen), noise(gen)};
  const auto pre = waveform::ofdm_preamble::generate_ofdm_preamble(
      {std::pair<std::size_t, std::size_t>{64, 16}, 4, 16}, config(64));
  const std::size_t laid_at = std::min<std::size_t>(100'000, g_noise / 4);
  std::copy(pre.begin(), pre.end(), iq.begin() + static_cast<std::ptrdiff_t>(laid_at));
  for (bool training : {false, true}) {
    sync::ofdm_sync::OfdmPreambleParams p;
    p.num_repeats = 4;
    p.repeat_len = 16;
    if (training) p.with_training_symbol.emplace(64, 16);
    const auto ranked = sync::ofdm_sync::ofdm_sync(iq, 1e6f, p, 0, iq.size());
    if (ranked.empty() || ranked[0].start_sample != laid_at || ranked[0].integer_cfo_bins != 0)
      wrong(std::string("ofdm_sync ") + (training ? "with" : "without") + " training: the preamble laid at " +
            std::to_string(laid_at) + " is not the first candidate" +
            (ranked.empty() ? std::string(" (none)") : " (" + std::to_string(ranked[0].start_sample) + ")"));
    std::size_t found = 0;
    const double calls = rate([&] { found = sync::ofdm_sync::ofdm_sync(iq, 1e6f, p, 0, iq.size()).size(); },
                               2.5 * g_seconds);
    const double positions = calls * double(found);
    std::printf("  %-26s %14.4g  >= 1e7  %s\n", training ? "with training (64, 16)" : "without training",
                positions, positions >= 1e7 ? "ok" : "BELOW");
  }
  // The sums alone, without ranking the candidates.
  const std::size_t count = iq.size() - 64;
  std::vector<float> re(iq.size()), im(iq.size()), pr(count), pi(count), e(count);
  for (std::size_t k = 0; k < iq.size(); ++k) {
    re[k] = iq[k].real();
    im[k] = iq[k].imag();
  }
  const double kernel = double(count) * rate([&] {
    sync::ofdm_sync::repeat_correlation_kernel(re.data(), im.data(), count, 4, 16, pr.data(), pi.data(), e.data());
    sink = e[7];
  });
  std::printf("  %-26s %14.4g\n", "correlation kernel alone", kernel);

  std::printf("%-28s %14s  target\n", "integer offset, nt 2048", "us/candidate");
  sync::ofdm_sync::IntegerCfoSearch search(2048, 512);
  std::vector<cf32> symbol(2048 + 512);
  for (cf32& x : symbol) x = {noise(gen), noise(gen)};
  const double per = 1e6 / rate([&] { sink = float(search.estimate(symbol, 1234.5f, 1e6f)); });
  std::printf("  %-26s %14.2f  <= 20  %s\n", "estimate", per, per <= 20 ? "ok" : "ABOVE");
  const double make = 1e6 / rate([&] {
    sync::ofdm_sync::IntegerCfoSearch s(2048, 512);
    sink = float(s.estimate(symbol, 0.0f, 1e6f));
  });
  std::printf("  %-26s %14.2f  (once per call)\n", "plans + first estimate", make);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--quick") {
    g_seconds = 0.002;
    g_noise = 1u << 15;
  }
  bench_demod();
  bench_sync();
  if (g_wrong) {
    std::printf("%d wrong results\n", g_wrong);
    return 1;
  }
  return 0;
}
