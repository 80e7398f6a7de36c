#pragma once
// The 15-bit grid field of a standard FT8/FT4 message: a four-character
// Maidenhead square, a signal report, or one of the tokens RRR, RR73, 73 and
// blank, with the R flag that travels beside it.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace vatel::message {

struct GridField {
  struct Grid {
    std::string text;
    bool operator==(const Grid&) const = default;
  };
  struct Report {
    std::int8_t value;
    bool operator==(const Report&) const = default;
  };
  struct RReport {
    std::int8_t value;
    bool operator==(const RReport&) const = default;
  };
  struct Rrr {
    bool operator==(const Rrr&) const = default;
  };
  struct Rr73 {
    bool operator==(const Rr73&) const = default;
  };
  struct SeventyThree {
    bool operator==(const SeventyThree&) const = default;
  };
  struct Blank {
    bool operator==(const Blank&) const = default;
  };
  using Value = std::variant<Grid, Report, RReport, Rrr, Rr73, SeventyThree, Blank>;

  Value value;
  bool operator==(const GridField&) const = default;
};

namespace grid {

// Field values of the tokens; reports are stored as 32435 + r.
inline constexpr std::uint16_t kMaxGrid4 = 32400;
inline constexpr std::uint16_t kBlank = 32401;
inline constexpr std::uint16_t kRrr = 32402;
inline constexpr std::uint16_t kRr73 = 32403;
inline constexpr std::uint16_t kSeventyThree = 32404;
inline constexpr std::uint16_t kReportBase = 32435;
inline constexpr std::uint16_t kRFlag = 0x8000;

// The field value of a text, the R flag in bit 15; never fails (text that
// is no grid or token is read as a report).
std::uint16_t packgrid(std::string_view text);

// The text form of a field: grid texts unchanged, reports as "+07", "R-12".
std::string gridfield_to_str(const GridField& field);

// "R{:+03}": the text of an R-report ("R+05", "R-12").
std::string r_report_text(std::int8_t r);

// Reads a 15-bit field value (bits above 14 ignored) with its R flag.
GridField read_gridfield(std::uint16_t value, bool r_flag);

}  // namespace grid
}  // namespace vatel::message
