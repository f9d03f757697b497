#include "core/checked_text.h"

#include <charconv>

#include "core/hash.h"

namespace orvex {
namespace {

constexpr std::string_view kCheck = "check ";

std::string CheckLine(std::string_view body) {
  return std::string(kCheck) + Hex64(Fnv1a64(body)) + "\n";
}

}  // namespace

std::string CheckedTextHead(std::string_view magic, int version, std::string_view path) {
  std::string text(magic);
  text += std::to_string(version) + "\n";
  text += "path " + HexBytes(path) + "\n";
  return text;
}

void SealCheckedText(std::string& text) {
  text += CheckLine(text);
}

std::optional<std::string_view> CheckedTextBody(std::string_view text) {
  const size_t checkAt = text.rfind(kCheck);
  if (checkAt == std::string_view::npos) return std::nullopt;
  const std::string_view body = text.substr(0, checkAt);
  if (text.substr(checkAt) != CheckLine(body)) return std::nullopt;
  return body;
}

bool TakeLine(std::string_view& text, std::string_view& line) {
  const size_t newline = text.find('\n');
  if (newline == std::string_view::npos) return false;
  line = text.substr(0, newline);
  text.remove_prefix(newline + 1);
  return true;
}

bool ParseInt64(std::string_view text, int64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace orvex
