#pragma once
// Text rules that every layer shares, the same in every locale: ASCII case, decimal numbers as
// stored values and capability lists hold them, and looking a name up in a list.
#include <array>
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

namespace parvel::text {

// "12" and "-3" read as numbers; anything else ("12abc", " 12", "", a number too large for an
// int) reads as `fallback`.
inline int ToInt(std::string_view text, int fallback = 0) {
  int value = 0;
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && stop == end ? value : fallback;
}

// ASCII letters lowered; every other byte, UTF-8 included, kept as it is.
inline char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string Lower(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = Lower(c);
  return result;
}

// Names compare as a string list compares them: without regard to ASCII case.
inline bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// Where `text` stands in `list`, by SameText; -1 when it does not.
inline int IndexOf(const std::vector<std::string>& list, std::string_view text) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (SameText(list[i], text)) return static_cast<int>(i);
  }
  return -1;
}

// Where `text` stands among stored names such as an enum's, by SameText; -1 when it does not.
template <size_t N>
int IndexOf(const std::array<const char*, N>& names, std::string_view text) {
  for (size_t i = 0; i < N; ++i) {
    if (SameText(names[i], text)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace parvel::text
