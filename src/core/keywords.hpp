#pragma once
// The keywords that name the values of an enum, as one table that both
// parses a keyword and lists the keywords it takes for an error's
// "expected ..." text, so that the two cannot drift apart.  Each caller keeps
// its own message around the list.
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vatel::core {

template <class E>
struct Keyword {
  std::string_view name;
  E value;
  // An alias is taken but not listed: the name before it stands for it.
  bool alias = false;
};

template <class E, std::size_t N>
struct KeywordTable {
  std::array<Keyword<E>, N> keywords;

  // The value of the keyword, matched exactly (case and white space count).
  constexpr std::optional<E> parse(std::string_view text) const noexcept {
    for (const Keyword<E>& k : keywords)
      if (k.name == text) return k.value;
    return std::nullopt;
  }

  // The keyword of the value; empty for a value the table does not name.
  constexpr std::string_view name(const E& value) const noexcept {
    for (const Keyword<E>& k : keywords)
      if (!k.alias && k.value == value) return k.name;
    return {};
  }

  // The keywords other than the aliases, in table order, separator between.
  std::string listed(std::string_view separator) const {
    std::string out;
    for (const Keyword<E>& k : keywords) {
      if (k.alias) continue;
      if (!out.empty()) out += separator;
      out += k.name;
    }
    return out;
  }

  // The table of some of the values, in the order given, each under its
  // keyword here (aliases left out): a narrower domain with the same names.
  template <std::size_t M>
  constexpr KeywordTable<E, M> only(const E (&values)[M]) const noexcept {
    KeywordTable<E, M> t{};
    for (std::size_t i = 0; i < M; ++i) t.keywords[i] = {name(values[i]), values[i]};
    return t;
  }
};

// keyword_table<E>({{"a", E::A}, {"alpha", E::A, true}, {"b", E::B}}).
template <class E, std::size_t N>
constexpr KeywordTable<E, N> keyword_table(const Keyword<E> (&keywords)[N]) noexcept {
  KeywordTable<E, N> t{};
  for (std::size_t i = 0; i < N; ++i) t.keywords[i] = keywords[i];
  return t;
}

}  // namespace vatel::core
