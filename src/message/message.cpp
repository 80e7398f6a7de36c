#include "message/message.hpp"

#include <string>

namespace vatel::message {
namespace {

using u128 = unsigned __int128;

// Fields written most significant bit first from bit 0 of the payload.
class BitWriter {
 public:
  explicit BitWriter(Payload& p) : p_(p) { p_.fill(0); }
  void put(u128 value, unsigned bits) {
    for (unsigned i = bits; i-- > 0;) {
      if ((value >> i) & 1u) p_[pos_ / 8] |= static_cast<std::uint8_t>(0x80u >> (pos_ % 8));
      ++pos_;
    }
  }

 private:
  Payload& p_;
  unsigned pos_ = 0;
};

class BitReader {
 public:
  explicit BitReader(const Payload& p) : p_(p) {}
  u128 get(unsigned bits) {
    u128 v = 0;
    for (unsigned i = 0; i < bits; ++i, ++pos_) v = (v << 1) | ((p_[pos_ / 8] >> (7 - pos_ % 8)) & 1u);
    return v;
  }

 private:
  const Payload& p_;
  unsigned pos_ = 0;
};

constexpr std::string_view kFreeTextAlphabet = " 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ+-./?";
constexpr std::string_view kNonStdAlphabet = " 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ/";
constexpr std::size_t kFreeTextChars = 13;
constexpr std::size_t kNonStdChars = 11;

constexpr u128 power(u128 base, unsigned n) {
  u128 r = 1;
  while (n-- > 0) r *= base;
  return r;
}
// 42^13 < 2^71 and 38^11 < 2^58: field values at or above these have no text.
constexpr u128 kFreeTextLimit = power(42, kFreeTextChars);
constexpr u128 kNonStdLimit = power(38, kNonStdChars);

std::string signed_two_digits(int r) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%+03d", r);
  return buf;
}

std::uint16_t grid_value(const GridField& g) {
  struct Visitor {
    std::uint16_t operator()(const GridField::Grid& x) const { return grid::packgrid(x.text); }
    std::uint16_t operator()(const GridField::Report& x) const {
      return grid::packgrid(signed_two_digits(x.value));
    }
    std::uint16_t operator()(const GridField::RReport& x) const {
      return grid::packgrid(grid::r_report_text(x.value));
    }
    std::uint16_t operator()(const GridField::Rrr&) const { return grid::packgrid("RRR"); }
    std::uint16_t operator()(const GridField::Rr73&) const { return grid::packgrid("RR73"); }
    std::uint16_t operator()(const GridField::SeventyThree&) const { return grid::packgrid("73"); }
    std::uint16_t operator()(const GridField::Blank&) const { return grid::kBlank; }
  };
  return std::visit(Visitor{}, g.value);
}

std::optional<Payload> pack_standard(const Ft8Message::Standard& m, CallsignHashTable& table) {
  const auto to = callsign::pack28(m.call_to, table);
  if (!to) return std::nullopt;
  const auto de = callsign::pack28(m.call_de, table);
  if (!de) return std::nullopt;
  const bool portable = m.call_to.ends_with("/P") || m.call_de.ends_with("/P");
  const unsigned i3 = portable ? 2 : 1;
  // The suffix of call_to is flagged even when it was hashed, so that the
  // reader still learns of the /R or /P; call_de carries only what pack28 found.
  const bool to_flag = m.call_to.ends_with("/R") || m.call_to.ends_with("/P") || to->suffix;
  const std::uint16_t w = grid_value(m.extra);
  Payload p;
  BitWriter bw(p);
  bw.put(to->value, 28);
  bw.put(to_flag, 1);
  bw.put(de->value, 28);
  bw.put(de->suffix, 1);
  bw.put((w >> 15) & 1u, 1);
  bw.put(w & 0x7FFFu, 15);
  bw.put(i3, 3);
  return p;
}

std::optional<Payload> pack_free_text(const Ft8Message::FreeText& m) {
  if (m.text.size() > kFreeTextChars) return std::nullopt;
  u128 v = 0;
  for (std::size_t i = 0; i < kFreeTextChars; ++i) {
    const char c = i < m.text.size() ? m.text[i] : ' ';
    const auto k = kFreeTextAlphabet.find(c);
    if (k == std::string_view::npos) return std::nullopt;
    v = 42 * v + k;
  }
  Payload p;
  BitWriter bw(p);
  bw.put(v, 71);
  bw.put(0, 3);  // n3
  bw.put(0, 3);  // i3
  return p;
}

std::optional<Payload> pack_nonstd(const Ft8Message::NonStd& m, CallsignHashTable& table) {
  unsigned cq = 0, h12 = 0, reply = 0;
  if (m.call_to == "CQ" || m.call_to.starts_with("CQ ")) {
    cq = 1;
  } else {
    h12 = table.save(m.call_to).h12;
    reply = static_cast<unsigned>(m.reply);
  }
  std::string_view de = m.call_de;
  if (de.size() >= 2 && de.front() == '<' && de.back() == '>') de = de.substr(1, de.size() - 2);
  // Longer callsigns do not fit the 58-bit field.
  if (de.size() > kNonStdChars) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : de) {
    const auto k = kNonStdAlphabet.find(c);
    if (k == std::string_view::npos) return std::nullopt;
    v = 38 * v + k;
  }
  (void)table.save(de);
  Payload p;
  BitWriter bw(p);
  bw.put(h12, 12);
  bw.put(v, 58);
  bw.put(0, 1);  // h1: the hashed callsign is call_to
  bw.put(reply, 2);
  bw.put(cq, 1);
  bw.put(4, 3);
  return p;
}

Payload pack_telemetry(const Ft8Message::Telemetry& m) {
  Payload p;
  const auto& d = m.data;
  for (std::size_t k = 0; k < 8; ++k) p[k] = static_cast<std::uint8_t>((d[k] << 1) | (d[k + 1] >> 7));
  p[8] = static_cast<std::uint8_t>((d[8] << 1) | 1u);  // low bit: top bit of n3 = 5
  p[9] = 0x40;                                         // rest of n3 = 5, i3 = 0
  return p;
}

Ft8Message unpack_standard(const Payload& p, std::uint8_t i3, const CallsignHashTable& table) {
  BitReader br(p);
  const auto to = static_cast<std::uint32_t>(br.get(28));
  const bool to_flag = br.get(1) != 0;
  const auto de = static_cast<std::uint32_t>(br.get(28));
  const bool de_flag = br.get(1) != 0;
  const bool r_flag = br.get(1) != 0;
  const auto g = static_cast<std::uint16_t>(br.get(15));
  Ft8Message::Standard m;
  m.call_to = callsign::unpack28(to, to_flag, i3, table).value_or("<?>");
  m.call_de = callsign::unpack28(de, de_flag, i3, table).value_or("<?>");
  m.extra = grid::read_gridfield(g, r_flag);
  return {m};
}

std::string_view trim_spaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

Ft8Message unpack_nonstd(const Payload& p) {
  BitReader br(p);
  (void)br.get(12);  // the hash is shown as "<...>", never looked up
  const auto v = static_cast<std::uint64_t>(br.get(58));
  const bool h1 = br.get(1) != 0;
  const auto reply = static_cast<unsigned>(br.get(2));
  const bool cq = br.get(1) != 0;
  std::string call;
  if (v >= kNonStdLimit) {
    // No text of 11 characters has this value; the top digit would fall
    // outside the alphabet.
    call = "<?>";
  } else {
    char c[kNonStdChars];
    std::uint64_t x = v;
    for (std::size_t i = kNonStdChars; i-- > 0;) {
      c[i] = kNonStdAlphabet[x % 38];
      x /= 38;
    }
    call = std::string(trim_spaces(std::string_view(c, kNonStdChars)));
  }
  Ft8Message::NonStd m;
  m.call_to = h1 ? call : "<...>";
  m.call_de = h1 ? "<...>" : call;
  if (cq) {
    m.call_to = "CQ";
    m.reply = Ft8Message::Reply::None;
  } else {
    m.reply = static_cast<Ft8Message::Reply>(reply);
  }
  return {m};
}

Ft8Message unpack_free_text(const Payload& p) {
  BitReader br(p);
  u128 v = br.get(71);
  // A value the packer cannot produce has a top digit outside the alphabet.
  if (v >= kFreeTextLimit) return {Ft8Message::Unknown{p}};
  char c[kFreeTextChars];
  for (std::size_t i = kFreeTextChars; i-- > 0;) {
    c[i] = kFreeTextAlphabet[static_cast<std::size_t>(v % 42)];
    v /= 42;
  }
  std::string_view t(c, kFreeTextChars);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);  // leading spaces stay
  return {Ft8Message::FreeText{std::string(t)}};
}

Ft8Message unpack_telemetry(const Payload& p) {
  Ft8Message::Telemetry m;
  m.data[0] = p[0] >> 1;
  for (std::size_t k = 1; k < 9; ++k) m.data[k] = static_cast<std::uint8_t>((p[k - 1] << 7) | (p[k] >> 1));
  return {m};
}

// A decimal integer in -128..127: an optional sign and one or more digits,
// nothing else.
std::optional<std::int8_t> strict_report(std::string_view s) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  if (i == s.size()) return std::nullopt;
  int v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return std::nullopt;
    v = 10 * v + (s[i] - '0');
    if (v > 1000) v = 1000;  // out of range already; keeps the sum from overflowing
  }
  if (negative) v = -v;
  if (v < -128 || v > 127) return std::nullopt;
  return static_cast<std::int8_t>(v);
}

}  // namespace

namespace message {

std::optional<Payload> pack77(const Ft8Message& msg, CallsignHashTable& table) {
  struct Visitor {
    CallsignHashTable& table;
    std::optional<Payload> operator()(const Ft8Message::Standard& m) const { return pack_standard(m, table); }
    std::optional<Payload> operator()(const Ft8Message::FreeText& m) const { return pack_free_text(m); }
    std::optional<Payload> operator()(const Ft8Message::NonStd& m) const { return pack_nonstd(m, table); }
    std::optional<Payload> operator()(const Ft8Message::Telemetry& m) const { return pack_telemetry(m); }
    std::optional<Payload> operator()(const Ft8Message::Unknown& m) const { return m.payload; }
  };
  return std::visit(Visitor{table}, msg.value);
}

Ft8Message unpack77(const Payload& payload, const CallsignHashTable& table) {
  const std::uint8_t i3 = payload_i3(payload);
  if (i3 == 1 || i3 == 2) return unpack_standard(payload, i3, table);
  if (i3 == 4) return unpack_nonstd(payload);
  if (i3 == 0) {
    const std::uint8_t n3 = payload_n3(payload);
    if (n3 == 0) return unpack_free_text(payload);
    if (n3 == 5) return unpack_telemetry(payload);
  }
  return {Ft8Message::Unknown{payload}};
}

}  // namespace message

GridField parse_extra(std::string_view extra) {
  if (extra.empty()) return {GridField::Blank{}};
  if (extra == "73") return {GridField::SeventyThree{}};
  if (extra == "RRR") return {GridField::Rrr{}};
  if (extra == "RR73") return {GridField::Rr73{}};
  if (extra.size() >= 2 && extra[0] == 'R')
    if (const auto r = strict_report(extra.substr(1))) return {GridField::RReport{*r}};
  if (extra[0] == '+' || extra[0] == '-')
    if (const auto r = strict_report(extra)) return {GridField::Report{*r}};
  return {GridField::Grid{std::string(extra)}};
}

core::Result<Payload> ft8_pack_standard(std::string_view call_to, std::string_view call_de,
                                        std::string_view extra) {
  CallsignHashTable table;
  const Ft8Message msg{Ft8Message::Standard{std::string(call_to), std::string(call_de), parse_extra(extra)}};
  if (auto p = message::pack77(msg, table)) return *p;
  return core::error("ft8_pack_standard: failed to pack message (invalid callsign?)");
}

core::Result<Payload> ft8_pack_free_text(std::string_view text) {
  CallsignHashTable table;
  if (auto p = message::pack77({Ft8Message::FreeText{std::string(text)}}, table)) return *p;
  return core::error("ft8_pack_free_text: failed to pack message (text too long or invalid chars?)");
}

core::Result<Payload> ft8_pack_telemetry(std::span<const std::uint8_t> data) {
  if (data.size() != 9)
    return core::error("ft8_pack_telemetry: expected 9 bytes, got " + std::to_string(data.size()));
  Ft8Message::Telemetry t;
  for (std::size_t i = 0; i < 9; ++i) t.data[i] = data[i];
  return pack_telemetry(t);
}

UnpackedFields unpacked_fields(const Ft8Message& msg) {
  struct Visitor {
    UnpackedFields operator()(const Ft8Message::Standard& m) const {
      return {{"type", std::string("standard")},
              {"call_to", m.call_to},
              {"call_de", m.call_de},
              {"extra", grid::gridfield_to_str(m.extra)}};
    }
    UnpackedFields operator()(const Ft8Message::FreeText& m) const {
      return {{"type", std::string("free_text")}, {"text", m.text}};
    }
    UnpackedFields operator()(const Ft8Message::NonStd& m) const {
      static constexpr const char* kReply[] = {"", "RRR", "RR73", "73"};
      return {{"type", std::string("nonstd")},
              {"call_to", m.call_to},
              {"call_de", m.call_de},
              {"extra", std::string(kReply[static_cast<unsigned>(m.reply) & 3u])}};
    }
    UnpackedFields operator()(const Ft8Message::Telemetry& m) const {
      return {{"type", std::string("telemetry")}, {"data", Bytes(m.data.begin(), m.data.end())}};
    }
    UnpackedFields operator()(const Ft8Message::Unknown& m) const {
      return {{"type", std::string("unknown")}, {"payload", Bytes(m.payload.begin(), m.payload.end())}};
    }
  };
  return std::visit(Visitor{}, msg.value);
}

core::Result<UnpackedFields> ft8_unpack(std::span<const std::uint8_t> payload) {
  if (payload.size() != 10)
    return core::error("ft8_unpack: expected 10 bytes, got " + std::to_string(payload.size()));
  Payload p;
  for (std::size_t i = 0; i < 10; ++i) p[i] = payload[i];
  const CallsignHashTable table;
  return unpacked_fields(message::unpack77(p, table));
}

}  // namespace vatel::message
