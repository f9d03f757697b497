#pragma once
// White space in the text the program reads: settings files, LRC transcripts
// and environment values. ASCII only: a full-width or no-break space is part
// of a lyric line, and neither INI nor LRC nor a proxy address treats it as
// white space.

#include <string_view>

namespace orvex {

// Space, tab, line feed, vertical tab, form feed and carriage return: C's
// isspace in the "C" locale, which none of the formats goes beyond.
constexpr bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// s without the blanks at either end.
constexpr std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace orvex
