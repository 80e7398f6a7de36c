#include "message/callsign.hpp"

#include <array>
#include <cstdio>

namespace vatel::message {
namespace {

// Symbol sets of the six positions of a standard callsign.
constexpr std::string_view kAlnumSpace = " 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";  // c0
constexpr std::string_view kAlnum = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";        // c1
constexpr std::string_view kDigits = "0123456789";                                // c2
constexpr std::string_view kLetterSpace = " ABCDEFGHIJKLMNOPQRSTUVWXYZ";          // c3..c5

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return c >= 'A' && c <= 'Z'; }

// Index of c in set, or -1.
int index_in(std::string_view set, char c) {
  const auto p = set.find(c);
  return p == std::string_view::npos ? -1 : static_cast<int>(p);
}

// Digit of the 38-symbol hash alphabet; characters outside it count as a space.
std::uint64_t hash_digit(std::uint32_t cp) {
  if (cp >= '0' && cp <= '9') return cp - '0' + 1;
  if (cp >= 'A' && cp <= 'Z') return cp - 'A' + 11;
  if (cp == '/') return 37;
  return 0;
}

// Steps over one UTF-8 scalar value starting at text[i] and returns it.
// Bytes that do not form a valid sequence count as one character each; their
// value only matters as "not in the alphabet".
std::uint32_t next_scalar(std::string_view text, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(text[i++]);
  if (b0 < 0x80) return b0;
  std::size_t extra = b0 >= 0xF0 ? 3 : b0 >= 0xE0 ? 2 : b0 >= 0xC0 ? 1 : 0;
  while (extra > 0 && i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) {
    ++i;
    --extra;
  }
  return 0x80;  // never a member of the alphabet
}

bool hashable(std::string_view text) {
  if (text.size() < 3 || text.size() > 11) return false;
  for (char c : text)
    if (!(c == ' ' || c == '/' || is_digit(c) || is_letter(c))) return false;
  return true;
}

bool ends_with_suffix(std::string_view t) { return t.ends_with("/R") || t.ends_with("/P"); }

// Directed CQ ("CQ nnn" or "CQ" and one to four letters) of a text that
// begins with "CQ " and has 4 to 7 bytes.
std::optional<std::uint32_t> pack_directed_cq(std::string_view text) {
  int digits = 0, letters = 0;
  std::uint32_t v = 0;
  for (std::size_t i = 3; i < text.size() && text[i] != ' '; ++i) {
    const char c = text[i];
    if (is_digit(c)) {
      ++digits;
    } else if (is_letter(c)) {
      ++letters;
      v = 27 * v + static_cast<std::uint32_t>(c - 'A' + 1);
    } else {
      return std::nullopt;
    }
  }
  if (digits == 3 && letters == 0)
    return 3 + static_cast<std::uint32_t>((text[3] - '0') * 100 + (text[4] - '0') * 10 + (text[5] - '0'));
  if (digits > 0 || letters == 0) return std::nullopt;
  return callsign::kCqLetters + v;
}

// The six-character standard field of base (a callsign without its suffix),
// or none when no layout fits.
std::optional<std::array<char, 6>> standard_field(std::string_view base) {
  std::array<char, 6> f;
  f.fill(' ');
  const std::size_t n = base.size();
  auto put = [&](std::size_t at, std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) f[at + i] = s[i];
  };
  if (n >= 5 && n <= 7 && base.starts_with("3DA0")) {
    // Swaziland's 3DA0 prefix is sent as 3D0 so that the digit stays in the third place.
    put(0, "3D0");
    put(3, base.substr(4));
  } else if (base.starts_with("3X") && is_letter(base[2]) && n <= 7) {
    // Guinea's 3X prefix with a letter after it is sent as Q, a prefix no
    // country holds.
    f[0] = 'Q';
    put(1, base.substr(2));
  } else if (is_digit(base[2]) && n <= 6) {
    put(0, base);
  } else if (is_digit(base[1]) && n <= 5) {
    put(1, base);
  } else {
    return std::nullopt;
  }
  return f;
}

}  // namespace

CallsignHashes callsign_hashes(std::string_view text) {
  std::uint64_t n = 0;
  std::size_t count = 0, i = 0;
  while (i < text.size() && count < 11) {
    n = 38 * n + hash_digit(next_scalar(text, i));
    ++count;
  }
  for (; count < 11; ++count) n *= 38;  // padded on the right with spaces
  const std::uint64_t p = n * 47055833459ull;  // wraps modulo 2^64
  return {static_cast<std::uint32_t>(p >> 42), static_cast<std::uint16_t>(p >> 52),
          static_cast<std::uint16_t>(p >> 54)};
}

CallsignHashes CallsignHashTable::save(std::string_view text) {
  const CallsignHashes h = callsign_hashes(text);
  map_.insert_or_assign(h.h22, std::string(text));
  return h;
}

const std::string* CallsignHashTable::find(std::uint32_t h22) const {
  const auto it = map_.find(h22);
  return it == map_.end() ? nullptr : &it->second;
}

namespace callsign {

std::optional<Packed28> pack28(std::string_view text, CallsignHashTable& table) {
  const std::size_t len = text.size();
  if (len <= 1) return std::nullopt;
  if (len == 3 && text == "QRZ") return Packed28{1, false};
  if (len == 2) {
    if (text == "DE") return Packed28{0, false};
    if (text == "CQ") return Packed28{2, false};
  }
  if (len >= 3 && len <= 7 && text.starts_with("CQ ")) {
    if (len == 3) return std::nullopt;
    const auto v = pack_directed_cq(text);
    if (!v) return std::nullopt;
    return Packed28{*v, false};
  }

  bool suffix = false;
  std::string_view base = text;
  if (ends_with_suffix(text)) {
    suffix = true;
    base = text.substr(0, len - 2);
  }
  if (base.size() >= 3) {
    if (const auto f = standard_field(base)) {
      const int i0 = index_in(kAlnumSpace, (*f)[0]);
      const int i1 = index_in(kAlnum, (*f)[1]);
      const int i2 = index_in(kDigits, (*f)[2]);
      const int i3 = index_in(kLetterSpace, (*f)[3]);
      const int i4 = index_in(kLetterSpace, (*f)[4]);
      const int i5 = index_in(kLetterSpace, (*f)[5]);
      if (i0 >= 0 && i1 >= 0 && i2 >= 0 && i3 >= 0 && i4 >= 0 && i5 >= 0) {
        const auto c = static_cast<std::uint32_t>(((((i0 * 36 + i1) * 10 + i2) * 27 + i3) * 27 + i4) * 27 + i5);
        (void)table.save(text);
        return Packed28{kStandard + c, suffix};
      }
    }
  }

  if (!hashable(text)) return std::nullopt;
  return Packed28{kNTokens + table.save(text).h22, false};
}

namespace {

std::string_view trim_spaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<std::string> unpack28(std::uint32_t value, bool suffix, std::uint8_t i3,
                                    const CallsignHashTable& table) {
  if (value == 0) return std::string("DE");
  if (value == 1) return std::string("QRZ");
  if (value == 2) return std::string("CQ");
  if (value < kCqLetters) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "CQ %03u", static_cast<unsigned>(value - 3));
    return std::string(buf);
  }
  if (value < kReserved) {
    std::uint32_t v = value - kCqLetters;
    char letters[4];
    for (int i = 3; i >= 0; --i) {
      letters[i] = kLetterSpace[v % 27];
      v /= 27;
    }
    return "CQ " + std::string(trim_spaces(std::string_view(letters, 4)));
  }
  if (value < kNTokens) return std::nullopt;
  if (value < kStandard) {
    const std::string* s = table.find(value - kNTokens);
    return s ? "<" + *s + ">" : std::string("<...>");
  }
  if (value >= (1u << 28)) return std::nullopt;

  std::uint32_t c = value - kStandard;
  char f[6];
  f[5] = kLetterSpace[c % 27];
  c /= 27;
  f[4] = kLetterSpace[c % 27];
  c /= 27;
  f[3] = kLetterSpace[c % 27];
  c /= 27;
  f[2] = kDigits[c % 10];
  c /= 10;
  f[1] = kAlnum[c % 36];
  c /= 36;
  f[0] = kAlnumSpace[c];  // c < 37 for every 28-bit value
  const std::string_view t = trim_spaces(std::string_view(f, 6));

  std::string out;
  if (t.size() > 3 && t.starts_with("3D0") && t[3] != ' ') {
    out = "3DA0" + std::string(t.substr(3));
  } else if (t.size() >= 2 && t[0] == 'Q' && is_letter(t[1])) {
    out = "3X" + std::string(t.substr(1));
  } else if (t.size() >= 3) {
    out = std::string(t);
  } else {
    return std::nullopt;
  }
  if (suffix) {
    if (i3 == 1)
      out += "/R";
    else if (i3 == 2)
      out += "/P";
    else
      return std::nullopt;
  }
  return out;
}

}  // namespace callsign
}  // namespace vatel::message
