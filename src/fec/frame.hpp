#pragma once
// The small value types from which a frame coding chain is assembled: which
// CRC protects the bytes, which outer and inner code protect the bits, which
// interleaver sits at each stage, which scrambler whitens the data and where,
// the header layout, the LDPC check-node rule, and the receive errors.
// All are plain copyable values without heap storage.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/keywords.hpp"

namespace vatel::fec::frame {

// The CRC appended to a byte block; the tag is used arithmetically: the CRC
// is 2 * tag bytes long.
enum class CrcKind : std::uint8_t { None = 0, Crc16 = 1, Crc32 = 2 };

inline constexpr auto kCrcKinds = core::keyword_table<CrcKind>({
    {"none", CrcKind::None},
    {"crc16", CrcKind::Crc16},
    {"crc32", CrcKind::Crc32},
});

constexpr std::size_t crc_bytes(CrcKind kind) noexcept {
  return 2u * static_cast<std::size_t>(kind);
}

// The outer code.  Parameters a variant does not use are ignored, in
// equality too; the value does not validate them (the codec cache does).
struct OuterFec {
  enum class Tag : std::uint64_t { None = 0, Bch = 1, ReedSolomon = 2 };
  Tag tag = Tag::None;
  std::uint64_t a = 0;  // Bch: t; ReedSolomon: n
  std::uint64_t b = 0;  // ReedSolomon: n_parity

  static constexpr OuterFec none() noexcept { return {}; }
  static constexpr OuterFec bch(std::uint64_t t) noexcept { return {Tag::Bch, t, 0}; }
  static constexpr OuterFec reed_solomon(std::uint64_t n, std::uint64_t n_parity) noexcept {
    return {Tag::ReedSolomon, n, n_parity};
  }

  friend constexpr bool operator==(const OuterFec& x, const OuterFec& y) noexcept {
    if (x.tag != y.tag) return false;
    switch (x.tag) {
      case Tag::None: return true;
      case Tag::Bch: return x.a == y.a;
      case Tag::ReedSolomon: return x.a == y.a && x.b == y.b;
    }
    return false;
  }
};

// The outer-code kinds: "none", "bch", "reed_solomon" (also "rs").
inline constexpr auto kOuterFecKinds = core::keyword_table<OuterFec::Tag>({
    {"none", OuterFec::Tag::None},
    {"bch", OuterFec::Tag::Bch},
    {"rs", OuterFec::Tag::ReedSolomon, true},
    {"reed_solomon", OuterFec::Tag::ReedSolomon},
});

// Puncturing of the convolutional codes; the patterns live with the codes.
enum class PunctureRate : std::uint8_t { R1_2 = 0, R2_3 = 1, R3_4 = 2, R5_6 = 3, R7_8 = 4 };

inline constexpr auto kPunctureRates = core::keyword_table<PunctureRate>({
    {"1/2", PunctureRate::R1_2},
    {"2/3", PunctureRate::R2_3},
    {"3/4", PunctureRate::R3_4},
    {"5/6", PunctureRate::R5_6},
    {"7/8", PunctureRate::R7_8},
});

// "1/2", "2/3", "3/4", "5/6" or "7/8".
std::string_view puncture_rate_name(PunctureRate rate) noexcept;
// The rate of that name, matched exactly; nothing for any other text.
std::optional<PunctureRate> puncture_rate_from_name(std::string_view name) noexcept;

enum class LdpcCodeId : std::uint8_t { N512R12 = 0, N576R23 = 1, N512R34 = 2 };

inline constexpr auto kLdpcCodes = core::keyword_table<LdpcCodeId>({
    {"n512r12", LdpcCodeId::N512R12},
    {"n576r23", LdpcCodeId::N576R23},
    {"n512r34", LdpcCodeId::N512R34},
});

struct LdpcDimensions {
  std::size_t n;  // codeword bits
  std::size_t k;  // message bits
  std::size_t m;  // check rows, n - k
};

constexpr LdpcDimensions ldpc_dimensions(LdpcCodeId id) noexcept {
  switch (id) {
    case LdpcCodeId::N512R12: return {512, 256, 256};
    case LdpcCodeId::N576R23: return {576, 384, 192};
    case LdpcCodeId::N512R34: return {512, 384, 128};
  }
  return {0, 0, 0};
}

// "n512r12", "n576r23" or "n512r34".
std::string_view ldpc_code_name(LdpcCodeId id) noexcept;
std::optional<LdpcCodeId> ldpc_code_from_name(std::string_view name) noexcept;

// The inner code.  Declared order: None, Ldpc {code}, Convolutional {k7, rate}.
struct InnerFec {
  enum class Kind : std::uint8_t { None = 0, Ldpc = 1, Convolutional = 2 };
  Kind kind = Kind::None;
  LdpcCodeId code = LdpcCodeId::N512R12;  // Ldpc only
  bool k7 = false;                        // Convolutional: false K = 5, true K = 7
  PunctureRate rate = PunctureRate::R1_2;  // Convolutional only

  static constexpr InnerFec none() noexcept { return {}; }
  static constexpr InnerFec ldpc(LdpcCodeId id) noexcept {
    return {Kind::Ldpc, id, false, PunctureRate::R1_2};
  }
  static constexpr InnerFec convolutional(bool k7, PunctureRate rate) noexcept {
    return {Kind::Convolutional, LdpcCodeId::N512R12, k7, rate};
  }

  friend constexpr bool operator==(const InnerFec& x, const InnerFec& y) noexcept {
    if (x.kind != y.kind) return false;
    switch (x.kind) {
      case Kind::None: return true;
      case Kind::Ldpc: return x.code == y.code;
      case Kind::Convolutional: return x.k7 == y.k7 && x.rate == y.rate;
    }
    return false;
  }
};

// The inner-code kinds, each as its code with the LDPC code or puncture rate
// still to be read: "none", "ldpc", "convolutional" (also "conv") and
// "convolutional_k7" (also "conv_k7", "dvb_t").
inline constexpr auto kInnerFecKinds = core::keyword_table<InnerFec>({
    {"none", InnerFec::none()},
    {"ldpc", InnerFec::ldpc(LdpcCodeId::N512R12)},
    {"conv", InnerFec::convolutional(false, PunctureRate::R1_2), true},
    {"convolutional", InnerFec::convolutional(false, PunctureRate::R1_2)},
    {"conv_k7", InnerFec::convolutional(true, PunctureRate::R1_2), true},
    {"convolutional_k7", InnerFec::convolutional(true, PunctureRate::R1_2)},
    {"dvb_t", InnerFec::convolutional(true, PunctureRate::R1_2), true},
});

// An interleaving stage.  Block: a = rows, b = cols; Convolutional:
// a = branches (I), b = depth (M).
struct InterleaverKind {
  enum class Tag : std::uint64_t { None = 0, Block = 1, Convolutional = 2 };
  Tag tag = Tag::None;
  std::uint64_t a = 0;
  std::uint64_t b = 0;

  static constexpr InterleaverKind none() noexcept { return {}; }
  static constexpr InterleaverKind block(std::uint64_t rows, std::uint64_t cols) noexcept {
    return {Tag::Block, rows, cols};
  }
  static constexpr InterleaverKind convolutional(std::uint64_t branches,
                                                 std::uint64_t depth) noexcept {
    return {Tag::Convolutional, branches, depth};
  }

  friend constexpr bool operator==(const InterleaverKind& x, const InterleaverKind& y) noexcept {
    if (x.tag != y.tag) return false;
    return x.tag == Tag::None || (x.a == y.a && x.b == y.b);
  }
};

// The start state of an LFSR scrambler: a fixed value, or the per-frame seed
// that the caller passes to the chain (and the frame header carries).
struct LfsrSeed {
  enum class Kind : std::uint8_t { Fixed = 0, PerFrameRandom = 1 };
  Kind kind = Kind::Fixed;
  std::uint32_t value = 0;  // Fixed only; 0 is legal and starts as 1

  static constexpr LfsrSeed fixed(std::uint32_t seed) noexcept { return {Kind::Fixed, seed}; }
  static constexpr LfsrSeed per_frame_random() noexcept { return {Kind::PerFrameRandom, 0}; }

  friend constexpr bool operator==(const LfsrSeed& x, const LfsrSeed& y) noexcept {
    return x.kind == y.kind && (x.kind == Kind::PerFrameRandom || x.value == y.value);
  }
};

// Declared order: None, Lfsr {taps, width, seed}, DvbTEnergyDispersal.
struct ScramblerKind {
  enum class Kind : std::uint8_t { None = 0, Lfsr = 1, DvbTEnergyDispersal = 2 };
  Kind kind = Kind::None;
  std::uint32_t taps = 0;   // Lfsr only
  std::uint8_t width = 0;   // Lfsr only, 2 ..= 32 when used
  LfsrSeed seed{};          // Lfsr only

  static constexpr ScramblerKind none() noexcept { return {}; }
  static constexpr ScramblerKind lfsr(std::uint32_t taps, std::uint8_t width,
                                      LfsrSeed seed) noexcept {
    return {Kind::Lfsr, taps, width, seed};
  }
  static constexpr ScramblerKind dvb_t_energy_dispersal() noexcept {
    return {Kind::DvbTEnergyDispersal, 0, 0, {}};
  }

  friend constexpr bool operator==(const ScramblerKind& x, const ScramblerKind& y) noexcept {
    if (x.kind != y.kind) return false;
    if (x.kind != Kind::Lfsr) return true;
    return x.taps == y.taps && x.width == y.width && x.seed == y.seed;
  }
};

// BeforeOuter: over the CRC-protected bytes, before the outer code.
// AfterInner: over the final coded bits; only an LFSR scrambler acts there.
enum class ScramblerPosition : std::uint8_t { BeforeOuter = 0, AfterInner = 1 };

inline constexpr auto kScramblerPositions = core::keyword_table<ScramblerPosition>({
    {"before_outer", ScramblerPosition::BeforeOuter},
    {"after_inner", ScramblerPosition::AfterInner},
});

enum class HeaderFormat : std::uint8_t { VatelSdr = 0, NoHeader = 1, DvbTps = 2 };

inline constexpr auto kHeaderFormats = core::keyword_table<HeaderFormat>({
    {"vatel_sdr", HeaderFormat::VatelSdr},
    {"vatelsdr", HeaderFormat::VatelSdr, true},
    {"none", HeaderFormat::NoHeader},
    {"no_header", HeaderFormat::NoHeader, true},
    {"dvb_tps", HeaderFormat::DvbTps},
    {"dvbtps", HeaderFormat::DvbTps, true},
});

// The LDPC check-node rule; the scale only counts for ScaledMinSum.
struct LdpcDecodeRule {
  enum class Tag : std::uint32_t { SumProduct = 0, MinSum = 1, ScaledMinSum = 2 };
  Tag tag = Tag::SumProduct;
  float scale = 0.0f;

  static constexpr float kDefaultScale = 0.75f;

  static constexpr LdpcDecodeRule sum_product() noexcept { return {Tag::SumProduct, 0.0f}; }
  static constexpr LdpcDecodeRule min_sum() noexcept { return {Tag::MinSum, 0.0f}; }
  static constexpr LdpcDecodeRule scaled_min_sum(float scale = kDefaultScale) noexcept {
    return {Tag::ScaledMinSum, scale};
  }

  // The factor applied to every check-to-variable message of a min-sum rule.
  constexpr float factor() const noexcept { return tag == Tag::ScaledMinSum ? scale : 1.0f; }

  friend constexpr bool operator==(const LdpcDecodeRule& x, const LdpcDecodeRule& y) noexcept {
    return x.tag == y.tag && (x.tag != Tag::ScaledMinSum || x.scale == y.scale);
  }
};

// The check-node rules, each also with hyphens ("sum-product").
inline constexpr auto kLdpcDecodeRules = core::keyword_table<LdpcDecodeRule::Tag>({
    {"sum_product", LdpcDecodeRule::Tag::SumProduct},
    {"sum-product", LdpcDecodeRule::Tag::SumProduct, true},
    {"min_sum", LdpcDecodeRule::Tag::MinSum},
    {"min-sum", LdpcDecodeRule::Tag::MinSum, true},
    {"scaled_min_sum", LdpcDecodeRule::Tag::ScaledMinSum},
    {"scaled-min-sum", LdpcDecodeRule::Tag::ScaledMinSum, true},
});

// A frame receive error.
enum class RxError : std::uint8_t {
  NoPreamble = 0,
  MalformedHeader = 1,
  HeaderCrc = 2,
  PayloadCrc = 3,
  FecUncorrectable = 4,
};

// The fixed display text of the error, nothing prepended or appended.
std::string_view rx_error_text(RxError error) noexcept;

}  // namespace vatel::fec::frame

namespace vatel::fec {
using frame::CrcKind;
using frame::HeaderFormat;
using frame::InnerFec;
using frame::InterleaverKind;
using frame::LdpcCodeId;
using frame::LdpcDecodeRule;
using frame::LfsrSeed;
using frame::OuterFec;
using frame::PunctureRate;
using frame::RxError;
using frame::ScramblerKind;
using frame::ScramblerPosition;
}  // namespace vatel::fec
