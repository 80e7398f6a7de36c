#include "message/grid.hpp"

#include <cstdio>

namespace vatel::message::grid {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Lenient report: an optional sign and the digits that follow it, modulo 256,
// read as a signed 8-bit value; anything after the digits is ignored.
std::int8_t lenient_report(std::string_view s) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  std::uint8_t v = 0;
  for (; i < s.size() && is_digit(s[i]); ++i) v = static_cast<std::uint8_t>(10 * v + (s[i] - '0'));
  if (negative) v = static_cast<std::uint8_t>(-v);
  return static_cast<std::int8_t>(v);
}

std::uint16_t report_value(std::int8_t r) {
  return static_cast<std::uint16_t>(kReportBase + r);
}

std::string signed_two_digits(std::int8_t r) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%+03d", static_cast<int>(r));
  return buf;
}

}  // namespace

std::string r_report_text(std::int8_t r) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "R%+03d", static_cast<int>(r));
  return buf;
}

std::uint16_t packgrid(std::string_view text) {
  if (text.empty()) return kBlank;
  if (text == "73") return kSeventyThree;
  if (text == "RRR") return kRrr;
  if (text == "RR73") return kRr73;
  if (text.size() == 4 && text[0] >= 'A' && text[0] <= 'R' && text[1] >= 'A' && text[1] <= 'R' &&
      is_digit(text[2]) && is_digit(text[3]))
    return static_cast<std::uint16_t>((text[0] - 'A') * 1800 + (text[1] - 'A') * 100 + (text[2] - '0') * 10 +
                                      (text[3] - '0'));
  if (text[0] == 'R' && text.size() >= 2)
    return static_cast<std::uint16_t>(kRFlag | report_value(lenient_report(text.substr(1))));
  return report_value(lenient_report(text));
}

std::string gridfield_to_str(const GridField& field) {
  struct Visitor {
    std::string operator()(const GridField::Grid& g) const { return g.text; }
    std::string operator()(const GridField::Report& r) const { return signed_two_digits(r.value); }
    std::string operator()(const GridField::RReport& r) const { return r_report_text(r.value); }
    std::string operator()(const GridField::Rrr&) const { return "RRR"; }
    std::string operator()(const GridField::Rr73&) const { return "RR73"; }
    std::string operator()(const GridField::SeventyThree&) const { return "73"; }
    std::string operator()(const GridField::Blank&) const { return ""; }
  };
  return std::visit(Visitor{}, field.value);
}

GridField read_gridfield(std::uint16_t value, bool r_flag) {
  const std::uint16_t g = value & 0x7FFF;
  if (g <= kMaxGrid4) {
    std::string text{static_cast<char>('A' + (g / 1800) % 18), static_cast<char>('A' + (g / 100) % 18),
                     static_cast<char>('0' + (g / 10) % 10), static_cast<char>('0' + g % 10)};
    return {GridField::Grid{r_flag ? "R " + text : text}};
  }
  switch (g) {
    case kBlank: return {GridField::Blank{}};
    case kRrr: return {GridField::Rrr{}};
    case kRr73: return {GridField::Rr73{}};
    case kSeventyThree: return {GridField::SeventyThree{}};
    default: break;
  }
  const auto r = static_cast<std::int8_t>(static_cast<std::uint8_t>(g - kReportBase));
  if (r_flag) return {GridField::RReport{r}};
  return {GridField::Report{r}};
}

}  // namespace vatel::message::grid
