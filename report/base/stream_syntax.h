#pragma once
// What the reader and the writer of stored descriptions agree on: the spelling of identifiers
// and Booleans, and where a class name finds the factory that makes its objects.
#include <string>
#include <string_view>

#include "report/base/component.h"
#include "report/base/stream.h"

namespace parvel::report::stream_syntax {

inline bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
inline bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
inline int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  return (c >= 'a' ? c - 'a' : c - 'A') + 10;
}

inline bool IsDottedIdent(std::string_view text) {
  if (text.empty()) return false;
  size_t start = 0;
  for (;;) {
    size_t dot = text.find('.', start);
    std::string part(
        text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
    if (!IsValidIdent(part)) return false;
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

inline bool IsBooleanWord(std::string_view word) {
  return SameText(std::string(word), "True") || SameText(std::string(word), "False");
}

// The factory registered for a class name, matched without case; empty when none is.
TComponentFactory FindFactory(const std::string& className);

}  // namespace parvel::report::stream_syntax
