#include "settings/ini.h"

#include <limits>

#include "core/blanks.h"

namespace orvex {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string_view Unquote(std::string_view s) {
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) {
    return s.substr(1, s.size() - 2);
  }
  return s;
}

// The next line of text, without its line end; advances pos past the line end.
std::string_view NextLine(std::string_view text, size_t& pos) {
  const size_t start = pos;
  size_t end = text.find_first_of("\r\n", start);
  if (end == std::string_view::npos) end = text.size();
  pos = end;
  if (pos < text.size() && text[pos] == '\r') ++pos;
  if (pos < text.size() && text[pos] == '\n') ++pos;
  return text.substr(start, end - start);
}

}  // namespace

IniReader::IniReader(std::string_view text) : text_(text) {
  if (text_.substr(0, kBom.size()) == kBom) text_.remove_prefix(kBom.size());
}

std::optional<std::string_view> IniReader::Find(std::string_view section,
                                                std::string_view key) const {
  bool inSection = false;
  size_t pos = 0;
  while (pos < text_.size()) {
    const std::string_view line = TrimBlanks(NextLine(text_, pos));
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      inSection = close != std::string_view::npos &&
                  SameName(TrimBlanks(line.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (SameName(TrimBlanks(line.substr(0, eq)), key))
      return Unquote(TrimBlanks(line.substr(eq + 1)));
  }
  return std::nullopt;
}

int32_t IniReader::GetInt(std::string_view section, std::string_view key, int32_t fallback) const {
  const std::optional<std::string_view> value = Find(section, key);
  if (!value) return fallback;
  return ParseIniInt(*value).value_or(fallback);
}

std::optional<int32_t> ParseIniInt(std::string_view value) {
  bool negative = false;
  if (!value.empty() && (value.front() == '+' || value.front() == '-')) {
    negative = value.front() == '-';
    value.remove_prefix(1);
  }
  if (value.empty() || value.front() < '0' || value.front() > '9') return std::nullopt;
  // Accumulated as a magnitude that stops growing just past the 32-bit range.
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t magnitude = 0;
  for (char c : value) {
    if (c < '0' || c > '9') break;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > kLimit) magnitude = kLimit;
  }
  if (negative) return static_cast<int32_t>(-magnitude);  // -2^31 fits
  if (magnitude > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(magnitude);
}

std::string FormatIniSection(std::string_view section, std::initializer_list<IniKey> keys) {
  std::string text;
  text.append("[").append(section).append("]\n");
  for (const IniKey& key : keys) {
    text.append(key.name).append("=").append(std::to_string(key.value)).append("\n");
  }
  return text;
}

}  // namespace orvex
