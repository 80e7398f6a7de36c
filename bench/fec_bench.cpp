// Throughput of the FEC codes in decoded (information) bits per second,
// with libfec's RS(204, 188) and K = 7 rate-1/2 Viterbi alongside when the
// library was found at configure time; then the frame coding chain against
// the same work done by its bare codes.
//
// Every decode is also checked against what was sent, on inputs that leave
// no room for a failure (fixed seeds, errors within the codes' reach); a
// wrong result is reported and makes the exit status 1, in --quick runs too.
// Speeds are printed, never judged.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "fec/bch.hpp"
#include "fec/bits.hpp"
#include "fec/chain.hpp"
#include "fec/codec_cache.hpp"
#include "fec/conv.hpp"
#include "fec/crc.hpp"
#include "fec/ldpc_codes.hpp"
#include "fec/reed_solomon.hpp"

#ifdef VATEL_BENCH_LIBFEC
extern "C" {
#include <fec.h>
}
#endif

using namespace vatel;
using namespace vatel::fec;

namespace {

volatile std::uint64_t sink;

// Wrong results seen so far; main returns 1 when there is any.
int g_wrong = 0;

void wrong(const std::string& what) {
  std::printf("WRONG RESULT: %s\n", what.c_str());
  ++g_wrong;
}

// Seconds per measurement; --quick makes a run that only shows the
// benchmark still works.
double g_seconds = 0.4;

// Runs `body` (which handles `bits_per_call` information bits) for about
// `seconds` and returns bits per second.
double rate(double bits_per_call, const std::function<void()>& body, double seconds = 0.0) {
  if (seconds <= 0.0) seconds = g_seconds;
  using clock = std::chrono::steady_clock;
  body();  // warm-up
  std::size_t calls = 0;
  const auto start = clock::now();
  double elapsed = 0;
  do {
    for (int i = 0; i < 8; ++i) body();
    calls += 8;
    elapsed = std::chrono::duration<double>(clock::now() - start).count();
  } while (elapsed < seconds);
  return bits_per_call * static_cast<double>(calls) / elapsed;
}

void row(const std::string& name, double ours, double peer = 0.0, const std::string& note = "") {
  std::printf("%-36s %12.2f", name.c_str(), ours / 1e6);
  if (peer > 0)
    std::printf(" %12.2f %7.2fx", peer / 1e6, ours / peer);
  else
    std::printf(" %12s %8s", "-", "-");
  std::printf("  %s\n", note.c_str());
}

std::vector<std::uint8_t> random_bits(std::size_t n, std::mt19937& rng) {
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) b = rng() & 1u;
  return v;
}

void bench_rs(std::mt19937& rng) {
  const ReedSolomon rs(204, 16);
  std::vector<std::uint8_t> msg(188), cw(204), out(188);
  for (auto& b : msg) b = static_cast<std::uint8_t>(rng());
  rs.encode_into(msg, cw);
  // 8 byte errors per word, at varying positions, in a ring of words.
  constexpr int kWords = 64;
  std::vector<std::vector<std::uint8_t>> words(kWords, cw);
  for (auto& w : words)
    for (int e = 0; e < 8;) {
      const std::size_t p = rng() % 204;
      if (w[p] != cw[p]) continue;
      w[p] ^= static_cast<std::uint8_t>(1 + rng() % 255);
      ++e;
    }
  int at = 0;
  const double enc = rate(188 * 8, [&] { rs.encode_into(msg, cw); sink = cw[190]; });
  bool all_ok = true;
  const double dec = rate(188 * 8, [&] {
    const auto st = rs.decode_into(words[at], out);
    all_ok &= st.ok && st.corrected == 8;
    at = (at + 1) % kWords;
    sink = out[0];
  });
  double peer_enc = 0, peer_dec = 0;
#ifdef VATEL_BENCH_LIBFEC
  // The shortened code: 51 leading zero pad symbols of RS(255, 239).
  void* lf = init_rs_char(8, 0x11D, 0, 1, 16, 51);
  std::vector<std::uint8_t> parity(16);
  peer_enc = rate(188 * 8, [&] { encode_rs_char(lf, msg.data(), parity.data()); sink = parity[0]; });
  bool same_parity = true;
  for (int i = 0; i < 16; ++i) same_parity &= parity[i] == cw[188 + i];
  std::vector<std::uint8_t> work(204);
  bool peer_ok = true;
  peer_dec = rate(188 * 8, [&] {
    work = words[at];
    peer_ok &= decode_rs_char(lf, work.data(), nullptr, 0) == 8;
    at = (at + 1) % kWords;
    sink = work[0];
  });
  free_rs_char(lf);
  // The same code: the parity must agree, and libfec must correct the same
  // words, or the comparison measures something else.
  if (!same_parity) wrong("RS(204,188) parity differs from libfec's");
  if (!peer_ok) wrong("libfec did not correct the 8 byte errors of every RS(204,188) word");
#endif
  row("RS(204,188) encode", enc, peer_enc);
  row("RS(204,188) decode, 8 byte errors", dec, peer_dec, all_ok ? "" : "DECODE FAILURES");
  if (!all_ok) wrong("RS(204,188) did not correct 8 byte errors in every word");
}

void bench_viterbi(std::mt19937& rng) {
  constexpr std::size_t kBits = 4096;
  const auto msg = random_bits(kBits, rng);
  std::normal_distribution<float> noise(0.0f, 0.5f);
  for (auto r : {PunctureRate::R1_2, PunctureRate::R3_4}) {
    const std::string label = r == PunctureRate::R1_2 ? "1/2" : "3/4";
    std::vector<std::uint8_t> sent;
    const double enc = rate(kBits, [&] {
      sent = conv::puncture(conv::conv_encode(msg, true), r);
      sink = sent[7];
    });
    std::vector<float> rx(sent.size());
    for (std::size_t i = 0; i < rx.size(); ++i) rx[i] = (sent[i] ? -1.0f : 1.0f) + noise(rng);
    std::size_t errors = 0;
    const double dec = rate(kBits, [&] {
      const auto bits = conv::viterbi_decode(conv::depuncture(rx, r, kBits + 6), true, kBits);
      errors = 0;
      for (std::size_t i = 0; i < kBits; ++i) errors += bits[i] != msg[i];
    });
    double peer = 0;
#ifdef VATEL_BENCH_LIBFEC
    if (r == PunctureRate::R1_2) {
      // libfec's own encoder convention (polynomials 0x4F, 0x6D on a register
      // shifted left), symbols 0 for a 0 bit and 255 for a 1 bit.
      std::vector<unsigned char> syms(2 * (kBits + 6));
      unsigned state = 0;
      for (std::size_t i = 0; i < kBits + 6; ++i) {
        const unsigned bit = i < kBits ? msg[i] : 0u;
        state = (state << 1) | bit;
        for (int k = 0; k < 2; ++k) {
          const unsigned poly = k == 0 ? V27POLYA : V27POLYB;
          const float y = (__builtin_parity(state & poly) ? -1.0f : 1.0f) + noise(rng);
          const float s = 127.5f - 127.5f * std::fmax(-1.0f, std::fmin(1.0f, y));
          syms[2 * i + k] = static_cast<unsigned char>(std::lround(s));
        }
      }
      void* vp = create_viterbi27(static_cast<int>(kBits));
      std::vector<unsigned char> data(kBits / 8);
      peer = rate(kBits, [&] {
        init_viterbi27(vp, 0);
        update_viterbi27_blk(vp, syms.data(), static_cast<int>(kBits + 6));
        chainback_viterbi27(vp, data.data(), kBits, 0);
        sink = data[0];
      });
      std::size_t peer_errors = 0;
      for (std::size_t i = 0; i < kBits; ++i) peer_errors += ((data[i / 8] >> (7 - i % 8)) & 1u) != msg[i];
      delete_viterbi27(vp);
      if (peer_errors) wrong("libfec's Viterbi made " + std::to_string(peer_errors) + " bit errors");
    }
#endif
    row("conv K=7 r" + label + " encode+puncture", enc);
    row("Viterbi K=7 r" + label + " decode", dec, peer,
        errors ? std::to_string(errors) + " bit errors" : "");
    if (errors) wrong("Viterbi K=7 r" + label + " made " + std::to_string(errors) + " bit errors");
  }
}

void bench_ldpc(std::mt19937& rng) {
  CodecCache cache;
  const LdpcCodeId ids[] = {LdpcCodeId::N512R12, LdpcCodeId::N576R23, LdpcCodeId::N512R34};
  const std::pair<const char*, LdpcDecodeRule> rules[] = {
      {"sum-product", LdpcDecodeRule::sum_product()},
      {"min-sum", LdpcDecodeRule::min_sum()},
      {"scaled min-sum", LdpcDecodeRule::scaled_min_sum()}};
  for (auto id : ids) {
    const auto code = cache.ldpc(id);
    const double r = static_cast<double>(code->k()) / static_cast<double>(code->n());
    // 4 dB Eb/N0, soft values y / sigma^2.
    const float sigma = static_cast<float>(std::sqrt(1.0 / (2.0 * r * std::pow(10.0, 0.4))));
    std::normal_distribution<float> noise(0.0f, sigma);
    constexpr int kBlocks = 64;
    constexpr std::size_t kMaxLdpcFailures = 2;
    std::vector<std::vector<std::uint8_t>> msgs;
    std::vector<std::vector<float>> llrs;
    for (int b = 0; b < kBlocks; ++b) {
      msgs.push_back(random_bits(code->k(), rng));
      const auto cw = ldpc_encode(*code, msgs.back());
      std::vector<float> llr(code->n());
      for (std::size_t i = 0; i < llr.size(); ++i)
        llr[i] = ((cw[i] ? -1.0f : 1.0f) + noise(rng)) / (sigma * sigma);
      llrs.push_back(std::move(llr));
    }
    const std::string name(frame::ldpc_code_name(id));
    int at = 0;
    const double enc = rate(static_cast<double>(code->k()), [&] {
      sink = ldpc_encode(*code, msgs[at])[code->k()];
      at = (at + 1) % kBlocks;
    });
    row("LDPC " + name + " encode", enc);
    for (const auto& [rule_name, rule] : rules) {
      ldpc_codes::LdpcDecoder decoder;
      std::vector<std::uint8_t> bits(code->k());
      const double dec = rate(static_cast<double>(code->k()), [&] {
        sink = decoder.decode(*code, llrs[at], rule, bits, nullptr);
        at = (at + 1) % kBlocks;
      });
      // Each block once, however long the timing ran.
      std::size_t total_iterations = 0, failures = 0;
      for (int b = 0; b < kBlocks; ++b) {
        unsigned it = 0;
        const bool ok = decoder.decode(*code, llrs[b], rule, bits, &it);
        failures += !ok || bits != msgs[b];
        total_iterations += it;
      }
      char note[96];
      std::snprintf(note, sizeof note, "%.2f iterations/block, %zu of %d blocks failed",
                    static_cast<double>(total_iterations) / kBlocks, failures, kBlocks);
      row("LDPC " + name + " decode " + rule_name, dec, 0.0, note);
      // At 4 dB these codes lose about one block in a hundred or fewer (at
      // most one of these 64, whichever share of the draws libfec's set-up
      // took); a broken decoder loses most.
      if (failures > kMaxLdpcFailures)
        wrong("LDPC " + name + " " + rule_name + " failed " + std::to_string(failures) + " of " +
              std::to_string(kBlocks) + " blocks at 4 dB Eb/N0 (at most " +
              std::to_string(kMaxLdpcFailures) + " allowed)");
    }
  }
}

void bench_bch(std::mt19937& rng) {
  CodecCache cache;
  const auto bch = cache.bch(8);
  constexpr int kBlocks = 64;
  std::vector<std::vector<std::uint8_t>> msgs, words;
  for (int b = 0; b < kBlocks; ++b) {
    msgs.push_back(random_bits(bch->k(), rng));
    auto w = bch->encode_block(msgs.back());
    for (int e = 0; e < 8;) {
      const std::size_t p = rng() % w.size();
      if (w[p] != bch->encode_block(msgs.back())[p]) continue;
      w[p] ^= 1u;
      ++e;
    }
    words.push_back(std::move(w));
  }
  int at = 0;
  const double enc = rate(120, [&] {
    sink = bch->encode_block(msgs[at])[130];
    at = (at + 1) % kBlocks;
  });
  std::vector<std::uint8_t> out(bch->k());
  bool all_ok = true;
  const double dec = rate(120, [&] {
    all_ok &= bch->decode_into(words[at], out) && out == msgs[at];
    at = (at + 1) % kBlocks;
  });
  row("BCH t=8 (184,120) encode", enc);
  row("BCH t=8 (184,120) decode, 8 errors", dec, 0.0, all_ok ? "" : "DECODE FAILURES");
  if (!all_ok) wrong("BCH t=8 did not correct 8 errors in every word");
}

// One section's stage choices, as the chain takes them.
struct Section {
  const char* name;
  CrcKind crc;
  OuterFec outer;
  InnerFec inner;
  float sigma;  // unscaled soft values, as the soft demapper hands them on
};

// Times the chain over one payload, and the codes alone doing the same
// blocks (CRC, outer blocks, inner blocks, with the decoder's own inputs),
// and prints both with their ratio: what the chain adds around its codes.
void bench_section(const Section& s, std::size_t payload_bytes, std::mt19937& rng) {
  CodecCache cache;
  const auto none = InterleaverKind::none();
  std::vector<std::uint8_t> payload(payload_bytes);
  for (auto& b : payload) b = static_cast<std::uint8_t>(rng());
  const double bits = 8.0 * static_cast<double>(payload_bytes);
  const BlockPlan plan = block_plan(payload_bytes, s.crc, s.outer, s.inner, none, none, cache);
  const auto encode = [&] {
    return encode_chain_stages(payload, s.crc, s.outer, s.inner, none, none, ScramblerKind::none(),
                               ScramblerPosition::BeforeOuter, 0, cache);
  };
  const EncodedStages stages = encode();
  std::normal_distribution<float> noise(0.0f, s.sigma);
  std::vector<float> soft(stages.coded_bits.size());
  for (std::size_t i = 0; i < soft.size(); ++i)
    soft[i] = (stages.coded_bits[i] ? -1.0f : 1.0f) + noise(rng);

  // The inputs each bare code sees: the outer code's bytes or bits, the
  // inner code's message bits and soft values.
  std::vector<std::uint8_t> with_crc = payload;
  crc::append_crc(s.crc, with_crc);
  const std::vector<std::uint8_t>& inner_in = stages.outer_stage_bits;
  std::shared_ptr<const Bch> bch;
  std::shared_ptr<const ReedSolomon> rs;
  std::shared_ptr<const Ldpc> ldpc;
  if (s.outer.tag == OuterFec::Tag::Bch) bch = cache.bch(s.outer.a);
  if (s.outer.tag == OuterFec::Tag::ReedSolomon) rs = cache.rs(s.outer.a, s.outer.b);
  if (s.inner.kind == InnerFec::Kind::Ldpc) ldpc = cache.ldpc(s.inner.code);
  const std::vector<std::uint8_t> outer_msg_bits = bits::bytes_to_bits(with_crc);

  const auto bare_crc = [&] {
    if (s.crc == CrcKind::Crc32) sink = crc32(with_crc);
    if (s.crc == CrcKind::Crc16) sink = crc16(with_crc);
  };
  const auto bare_encode = [&] {
    bare_crc();
    std::vector<std::uint8_t> block;
    if (bch) {
      block.resize(bch->k());
      for (std::size_t at = 0; at < outer_msg_bits.size(); at += bch->k()) {
        std::fill(block.begin(), block.end(), 0);
        std::copy_n(outer_msg_bits.begin() + at, std::min(bch->k(), outer_msg_bits.size() - at),
                    block.begin());
        sink = bch->encode_block(block)[0];
      }
    }
    if (rs) {
      block.resize(rs->k());
      std::vector<std::uint8_t> cw(rs->n());
      for (std::size_t at = 0; at < with_crc.size(); at += rs->k()) {
        std::fill(block.begin(), block.end(), 0);
        std::copy_n(with_crc.begin() + at, std::min(rs->k(), with_crc.size() - at), block.begin());
        rs->encode_into(block, cw);
        sink = cw[0];
      }
    }
    if (ldpc)
      for (std::size_t at = 0; at < inner_in.size(); at += ldpc->k()) {
        sink = ldpc_encode(*ldpc, std::span(inner_in).subspan(at, ldpc->k()))[0];
      }
    if (s.inner.kind == InnerFec::Kind::Convolutional)
      sink = conv::puncture(conv::conv_encode(inner_in, s.inner.k7), s.inner.rate)[0];
  };

  // The bare decoders run on what the chain's decoders get: the soft values
  // for the inner code, the inner decisions for the outer code.
  const auto outcome = std::get<ChainOutcome>(
      decode_chain(soft, plan, s.crc, s.outer, s.inner, none, none, ScramblerKind::none(),
                   ScramblerPosition::BeforeOuter, 0, cache, LdpcDecodeRule::sum_product()));
  const std::vector<std::uint8_t> outer_in(outcome.inner_bits.begin(),
                                           outcome.inner_bits.begin() + plan.outer_bits);
  const std::vector<std::uint8_t> outer_in_bytes =
      rs ? bits::bits_to_bytes(outer_in) : std::vector<std::uint8_t>{};
  ldpc_codes::LdpcDecoder bare_ldpc;
  const auto bare_decode = [&] {
    if (ldpc) {
      std::vector<std::uint8_t> out(ldpc->k());
      for (std::size_t at = 0; at < soft.size(); at += ldpc->n())
        sink = bare_ldpc.decode(*ldpc, std::span(soft).subspan(at, ldpc->n()),
                                LdpcDecodeRule::sum_product(), out);
    }
    if (s.inner.kind == InnerFec::Kind::Convolutional) {
      const std::size_t pairs = plan.outer_interleaved_bits + conv::code_of(s.inner.k7).memory;
      sink = conv::viterbi_decode(conv::depuncture(soft, s.inner.rate, pairs), s.inner.k7,
                                  plan.outer_interleaved_bits)[0];
    }
    if (bch) {
      std::vector<std::uint8_t> out(bch->k());
      for (std::size_t at = 0; at < outer_in.size(); at += bch->n())
        sink = bch->decode_into(std::span(outer_in).subspan(at, bch->n()), out);
    }
    if (rs) {
      std::vector<std::uint8_t> out(rs->k());
      for (std::size_t at = 0; at < outer_in_bytes.size(); at += rs->n())
        sink = rs->decode_into(std::span(outer_in_bytes).subspan(at, rs->n()), out).ok;
    }
    bare_crc();
  };

  bool all_ok = true;
  const double chain_enc = rate(bits, [&] { sink = encode().coded_bits[0]; });
  const double codes_enc = rate(bits, bare_encode);
  const double chain_dec = rate(bits, [&] {
    const auto r = decode_chain(soft, plan, s.crc, s.outer, s.inner, none, none,
                                ScramblerKind::none(), ScramblerPosition::BeforeOuter, 0, cache,
                                LdpcDecodeRule::sum_product());
    const auto* o = std::get_if<ChainOutcome>(&r);
    all_ok &= o && o->is_valid() && o->payload == payload;
  });
  const double codes_dec = rate(bits, bare_decode);
  char note[64];
  std::snprintf(note, sizeof note, "chain costs %.2fx its codes", codes_enc / chain_enc);
  row(std::string(s.name) + " encode", chain_enc, 0.0, note);
  std::snprintf(note, sizeof note, "chain costs %.2fx its codes%s", codes_dec / chain_dec,
                all_ok ? "" : ", DECODE FAILURES");
  row(std::string(s.name) + " decode", chain_dec, 0.0, note);
  if (!all_ok) wrong(std::string(s.name) + " did not decode the payload");
}

void bench_chain(std::mt19937& rng) {
  std::printf("%-36s %12s\n", "frame chain, payload bits/s (M)", "vatel");
  const Section sections[] = {
      {"chain CRC32+BCH8+LDPC n512r12", CrcKind::Crc32, OuterFec::bch(8),
       InnerFec::ldpc(LdpcCodeId::N512R12), 0.40f},
      {"chain RS(204,188)+K=7 r1/2", CrcKind::None, OuterFec::reed_solomon(204, 16),
       InnerFec::convolutional(true, PunctureRate::R1_2), 0.60f},
  };
  for (const Section& s : sections) bench_section(s, 1504, rng);
}

void bench_crc(std::mt19937& rng) {
  std::vector<std::uint8_t> data(1 << 16);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  row("CRC-32 (64 KiB blocks)", rate(8.0 * data.size(), [&] { sink = crc32(data); }));
  row("CRC-16 (64 KiB blocks)", rate(8.0 * data.size(), [&] { sink = crc16(data); }));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--quick") g_seconds = 0.005;
  std::mt19937 rng(1);
  std::printf("%-36s %12s %12s %8s\n", "information bits per second (M)", "vatel", "libfec", "ratio");
  bench_rs(rng);
  bench_viterbi(rng);
  bench_ldpc(rng);
  bench_bch(rng);
  bench_crc(rng);
  bench_chain(rng);
  if (g_wrong) {
    std::printf("%d wrong results\n", g_wrong);
    return 1;
  }
  return 0;
}
