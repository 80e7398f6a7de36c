// Stream receiver throughput of the COFDM frame link in samples per second,
// on bursts of 256-byte payloads with noise gaps and on pure noise, with
// liquid-dsp's ofdmflexframesync (64 carriers, cp 16, QPSK, CRC-32, no FEC)
// beside it when the library was found at configure time.  The LDPC entries
// of the default ladder are shown next to the LDPC decoder's own rate.
//
// With --quick every measurement runs once on a few bursts and a short noise
// record: it shows the benchmark still runs, and its figures mean nothing.
//
// What the receiver returns is checked, in --quick runs too: every burst
// comes back once with the payload sent under its sequence number, and pure
// noise gives no frame.  A wrong result is reported and makes the exit
// status 1; speeds are printed, never judged.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "demodulate/ofdm_frame_stream.hpp"
#include "fec/ldpc_codes.hpp"
#include "modulate/ofdm_frame.hpp"

#ifdef VATEL_BENCH_LIQUID
#include <liquid/liquid.h>
#endif

using namespace vatel;
using demodulate::ofdm_frame::OfdmFrameStreamDemod;
using demodulate::ofdm_frame::RxFrame;
using modulate::ofdm_frame::FramePacket;
using modulate::ofdm_frame::Mcs;
using modulate::ofdm_frame::OfdmFrameMod;
using multicarrier::ConstellationOrder;
using multicarrier::OfdmConfig;

namespace {

constexpr std::size_t kPayload = 256;
constexpr std::size_t kPiece = 4096;
constexpr float kNoise = 1e-4f;  // per sample: about 22 dB Es/N0 on the cells

// Bursts per stream, samples of pure noise, timed runs per measurement and
// the payload of the one long frame; --quick shrinks them all.
std::size_t g_bursts = 60;
std::size_t g_noise = 20'000'000;
int g_runs = 5;
std::size_t g_long_payload = 16384;

// The best of a few timed runs of `body`, in seconds.
double best_seconds(const std::function<void()>& body, int runs = 5) {
  double best = 1e30;
  for (int r = 0; r < std::min(runs, g_runs); ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    body();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

OfdmConfig frame_config() {
  const std::int32_t pilots[] = {-21, -7, 7, 21};
  const cf32 values[] = {{1, 0}, {1, 0}, {1, 0}, {-1, 0}};
  return OfdmConfig::create(64, 16, {}, pilots, values, 1e6f, 0.0f, 1.0f, ConstellationOrder::Qpsk, 5)
      .value();
}

std::vector<cf32> noise(std::mt19937& rng, std::size_t n, float power) {
  std::normal_distribution<float> g(0.0f, std::sqrt(power / 2.0f));
  std::vector<cf32> x(n);
  for (cf32& v : x) v = {g(rng), g(rng)};
  return x;
}

// Bursts with noise gaps as long as a burst on average, plus noise everywhere.
template <class MakeBurst>
std::vector<cf32> burst_stream(std::mt19937& rng, MakeBurst&& make_burst) {
  std::vector<cf32> x;
  for (std::size_t k = 0; k < g_bursts; ++k) {
    const std::vector<cf32> b = make_burst(k);
    const std::size_t gap = b.size() / 2 + rng() % b.size();
    x.resize(x.size() + gap);
    x.insert(x.end(), b.begin(), b.end());
  }
  x.resize(x.size() + 2000);
  std::normal_distribution<float> g(0.0f, std::sqrt(kNoise / 2.0f));
  const double step = 2.0 * M_PI * 0.3 / 64.0;  // 0.3 carrier spacings
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double a = std::fmod(step * static_cast<double>(i), 2.0 * M_PI);
    x[i] = x[i] * cf32(static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a))) + cf32{g(rng), g(rng)};
  }
  return x;
}

// Payloads sent, by sequence number.
using Sent = std::vector<std::vector<std::uint8_t>>;

int g_wrong = 0;  // wrong results seen so far; main returns 1 when there is any

void wrong(const std::string& what) {
  std::printf("WRONG RESULT: %s\n", what.c_str());
  ++g_wrong;
}

// One burst of a random 256-byte payload, sent as sequence number k (its
// payload recorded as sent[k]).
std::vector<cf32> our_burst(const OfdmFrameMod& mod, std::mt19937& rng, std::size_t k, std::size_t index,
                            Sent& sent) {
  FramePacket p;
  p.payload.resize(kPayload);
  for (auto& b : p.payload) b = static_cast<std::uint8_t>(rng());
  p.sequence_num = static_cast<std::uint32_t>(k);
  p.mcs_index = static_cast<std::uint8_t>(index);
  if (sent.size() <= k) sent.resize(k + 1);
  sent[k] = p.payload;
  const auto b = mod.modulate_frame(p, 0);
  return {b.begin(), b.end()};
}

struct Throughput {
  double msps = 0.0;
  std::size_t frames = 0;
  std::size_t mismatched = 0;  // frames whose payload is not the one sent under their number
};

// Reports a wrong result when the frames are not exactly the ones sent.
void check(const std::string& name, const Throughput& t, std::size_t sent) {
  if (t.frames != sent)
    wrong(name + ": " + std::to_string(t.frames) + " frames received, " + std::to_string(sent) + " sent");
  if (t.mismatched)
    wrong(name + ": " + std::to_string(t.mismatched) + " frames with a payload or number not sent");
}

// Feeds the stream in pieces; each frame received is matched with `sent`.
// Every timed run starts a fresh receiver, so the counts of the last one
// stand for all.
Throughput ours(const OfdmConfig& cfg, const std::vector<Mcs>& table, const std::vector<cf32>& x,
                const Sent& sent, std::size_t piece = kPiece, int runs = 5) {
  Throughput t;
  const double s = best_seconds([&] {
    auto rx = OfdmFrameStreamDemod::create(cfg, table, 4, 16, nullptr).value();
    t.frames = t.mismatched = 0;
    for (std::size_t at = 0; at < x.size(); at += piece) {
      const std::size_t n = std::min(piece, x.size() - at);
      for (const auto& r : rx.feed({x.data() + at, n})) {
        const auto* f = std::get_if<RxFrame>(&r);
        if (!f) continue;
        ++t.frames;
        t.mismatched += f->sequence_num >= sent.size() || f->payload != sent[f->sequence_num];
      }
    }
  }, runs);
  t.msps = static_cast<double>(x.size()) / s / 1e6;
  return t;
}

#ifdef VATEL_BENCH_LIQUID
int count_frame(unsigned char*, int header_valid, unsigned char*, unsigned int, int payload_valid,
                framesyncstats_s, void* userdata) {
  if (header_valid && payload_valid) ++*static_cast<std::size_t*>(userdata);
  return 0;
}

std::vector<cf32> liquid_burst(std::mt19937& rng) {
  ofdmflexframegenprops_s props;
  ofdmflexframegenprops_init_default(&props);
  props.check = LIQUID_CRC_32;
  props.fec0 = LIQUID_FEC_NONE;
  props.fec1 = LIQUID_FEC_NONE;
  props.mod_scheme = LIQUID_MODEM_QPSK;
  ofdmflexframegen gen = ofdmflexframegen_create(64, 16, 0, nullptr, &props);
  unsigned char header[8] = {};
  std::vector<unsigned char> payload(kPayload);
  for (auto& b : payload) b = static_cast<unsigned char>(rng());
  ofdmflexframegen_assemble(gen, header, payload.data(), kPayload);
  std::vector<cf32> out;
  std::vector<std::complex<float>> buf(80);
  for (int last = 0; !last;) {
    last = ofdmflexframegen_write(gen, buf.data(), static_cast<unsigned>(buf.size()));
    out.insert(out.end(), buf.begin(), buf.end());
  }
  ofdmflexframegen_destroy(gen);
  return out;
}

Throughput peer(const std::vector<cf32>& x) {
  std::size_t frames = 0;
  std::vector<std::complex<float>> piece(kPiece);
  const double s = best_seconds([&] {
    frames = 0;
    ofdmflexframesync sync = ofdmflexframesync_create(64, 16, 0, nullptr, count_frame, &frames);
    for (std::size_t at = 0; at < x.size(); at += kPiece) {
      const std::size_t n = std::min(kPiece, x.size() - at);
      std::copy(x.begin() + static_cast<std::ptrdiff_t>(at),
                x.begin() + static_cast<std::ptrdiff_t>(at + n), piece.begin());
      ofdmflexframesync_execute(sync, piece.data(), static_cast<unsigned>(n));
    }
    ofdmflexframesync_destroy(sync);
  });
  return {static_cast<double>(x.size()) / s / 1e6, frames};
}
#endif

void row(const std::string& name, Throughput t, std::size_t sent, double peer_msps,
         const std::string& note = "") {
  std::printf("%-44s %8.1f Msps %4zu/%-4zu", name.c_str(), t.msps, t.frames, sent);
  if (peer_msps > 0)
    std::printf("  %8.1f Msps  %5.2fx", peer_msps, t.msps / peer_msps);
  else
    std::printf("  %13s  %6s", "-", "-");
  std::printf("  %s\n", note.c_str());
}

// The LDPC n512r12 sum-product decoder alone, in information Mb/s, at 4 dB
// Eb/N0 with soft values 2y / sigma^2 (as bench_fec measures it).
double ldpc_mbps(std::mt19937& rng) {
  fec::CodecCache cache;
  const auto code = cache.ldpc(fec::LdpcCodeId::N512R12);
  const float sigma = static_cast<float>(std::sqrt(1.0 / (2.0 * 0.5 * std::pow(10.0, 0.4))));
  std::normal_distribution<float> g(0.0f, sigma);
  std::vector<std::vector<float>> llrs;
  for (int b = 0; b < 32; ++b) {
    std::vector<std::uint8_t> msg(code->k());
    for (auto& v : msg) v = rng() & 1u;
    const auto cw = fec::ldpc_encode(*code, msg);
    std::vector<float> llr(code->n());
    for (std::size_t i = 0; i < llr.size(); ++i)
      llr[i] = 2.0f * ((cw[i] ? -1.0f : 1.0f) + g(rng)) / (sigma * sigma);
    llrs.push_back(std::move(llr));
  }
  fec::ldpc_codes::LdpcDecoder decoder;
  std::vector<std::uint8_t> bits(code->k());
  const double s = best_seconds([&] {
    for (const auto& l : llrs) decoder.decode(*code, l, fec::LdpcDecodeRule::sum_product(), bits, nullptr);
  });
  return 32.0 * static_cast<double>(code->k()) / s / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--quick") {
    g_bursts = 3;
    g_noise = 100'000;
    g_runs = 1;
    g_long_payload = 1024;
  }
  std::mt19937 rng(7);
  const OfdmConfig cfg = frame_config();
  double peer_bursts = 0.0, peer_noise = 0.0;
  std::size_t peer_frames = 0, peer_noise_frames = 0;
  const std::vector<cf32> pure_noise = noise(rng, g_noise, kNoise);
#ifdef VATEL_BENCH_LIQUID
  {
    const auto x = burst_stream(rng, [&](std::size_t) { return liquid_burst(rng); });
    const Throughput t = peer(x);
    peer_bursts = t.msps;
    peer_frames = t.frames;
    const Throughput n = peer(pure_noise);
    peer_noise = n.msps;
    peer_noise_frames = n.frames;
  }
#endif
  std::printf("OfdmFrameStreamDemod.feed, pieces of %zu samples, %zu-byte payloads, one core;\n"
              "bursts at 22 dB Es/N0 per cell and 0.3 carriers of offset, noise gaps as long as "
              "the bursts on average\n",
              kPiece, kPayload);
  std::printf("%-44s %13s %9s  %13s  %6s\n", "", "ours", "frames",
#ifdef VATEL_BENCH_LIQUID
              "liquid", "ratio"
#else
              "liquid (not found)", ""
#endif
  );
  struct Entry {
    const char* name;
    Mcs mcs;
    double target;
  };
  const Entry entries[] = {
      {"bursts, QPSK uncoded, CRC-32", {fec::OuterFec::none(), fec::InnerFec::none(), ConstellationOrder::Qpsk}, 20.0},
      {"bursts, QPSK conv K=7 r1/2, CRC-32",
       {fec::OuterFec::none(), fec::InnerFec::convolutional(true, fec::PunctureRate::R1_2), ConstellationOrder::Qpsk},
       20.0},
  };
  for (const Entry& e : entries) {
    const std::vector<Mcs> table = {e.mcs};
    const auto mod = OfdmFrameMod::create(cfg, table, 4, 16, nullptr).value();
    Sent sent;
    const auto x = burst_stream(rng, [&](std::size_t k) { return our_burst(mod, rng, k, 0, sent); });
    const Throughput t = ours(cfg, table, x, sent);
    char note[64];
    std::snprintf(note, sizeof note, "target >= %.0f Msps: %s", e.target, t.msps >= e.target ? "ok" : "BELOW");
    row(e.name, t, g_bursts, peer_bursts, note);
    check(e.name, t, g_bursts);
  }
  const auto ladder = waveform::ofdm_frame::default_ladder();
  const double ldpc = ldpc_mbps(rng);
  const char* names[] = {"BPSK", "QPSK", "16-QAM", "64-QAM"};
  for (std::size_t i = 0; i < ladder.size(); ++i) {
    const auto mod = OfdmFrameMod::create(cfg, ladder, 4, 16, nullptr).value();
    Sent sent;
    const auto x = burst_stream(rng, [&](std::size_t k) { return our_burst(mod, rng, k, i, sent); });
    const Throughput t = ours(cfg, ladder, x, sent);
    // Information bits per second through the stream, against the decoder.
    const double mbps = t.msps * 1e6 * static_cast<double>(t.frames * kPayload * 8) /
                        static_cast<double>(x.size()) / 1e6;
    char note[96];
    std::snprintf(note, sizeof note, "%.2f Mb/s of payload; LDPC n512r12 alone %.2f Mb/s at 4 dB Eb/N0", mbps, ldpc);
    row(std::string("bursts, ladder ") + names[i] + " LDPC+BCH", t, g_bursts, 0.0, note);
    check(std::string("bursts, ladder ") + names[i], t, g_bursts);
  }
  const Throughput n = ours(cfg, ladder, pure_noise, {});
  char note[64];
  std::snprintf(note, sizeof note, "target >= 50 Msps: %s", n.msps >= 50.0 ? "ok" : "BELOW");
  row("pure noise", n, 0, peer_noise, note);
  check("pure noise", n, 0);
  // A carrier tone scores as a repeated segment wherever it stands above the
  // noise; it must cost no more than the noise alone.
  {
    std::vector<cf32> toned = pure_noise;
    const double step = 2.0 * M_PI * 10.37 / 64.0;
    const float amplitude = std::sqrt(10.0f * kNoise);
    for (std::size_t i = 0; i < toned.size(); ++i) {
      const double a = std::fmod(step * static_cast<double>(i), 2.0 * M_PI);
      toned[i] += amplitude * cf32(static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a)));
    }
    const Throughput t = ours(cfg, ladder, toned, {});
    std::snprintf(note, sizeof note, "%.2fx the time of noise alone", n.msps / t.msps);
    row("noise and a tone 10 dB above it", t, 0, 0.0, note);
    check("noise and a tone", t, 0);
  }
  // A long frame fed in small pieces costs what it costs in large ones: the
  // receiver waits for the samples the header announces before it looks again.
  {
    const std::vector<Mcs> table = {ladder[0]};
    const auto mod = OfdmFrameMod::create(cfg, table, 4, 16, nullptr).value();
    FramePacket p;
    p.payload.resize(g_long_payload);
    for (auto& b : p.payload) b = static_cast<std::uint8_t>(rng());
    const auto b = mod.modulate_frame(p, 0);
    std::vector<cf32> x(b.begin(), b.end());
    x.resize(x.size() + 1000);
    for (std::size_t piece : {std::size_t{16}, std::size_t{256}, std::size_t{65536}}) {
      const Throughput t = ours(cfg, table, x, {p.payload}, piece, 3);
      char name[80];
      std::snprintf(name, sizeof name, "one %zu-sample frame, pieces of %zu", x.size(), piece);
      row(name, t, 1, 0.0, "");
      check(name, t, 1);
    }
  }
  if (peer_bursts > 0)
    std::printf("(liquid decoded %zu of %zu bursts, %zu frames in noise)\n", peer_frames, g_bursts,
                peer_noise_frames);
  if (g_wrong) {
    std::printf("%d wrong results\n", g_wrong);
    return 1;
  }
  return 0;
}
