// The INI reader over any text: lookups stay inside the text, numbers read as
// a plain reading of the digits would, and a written section reads back
// whatever text follows it.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "settings/ini.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// ParseIniInt's promise, worked out another way: the digits without their
// leading zeros, saturated when there are more than fit.
std::optional<int32_t> ExpectedInt(std::string_view value) {
  bool negative = false;
  if (!value.empty() && (value[0] == '+' || value[0] == '-')) {
    negative = value[0] == '-';
    value.remove_prefix(1);
  }
  const size_t digits = value.find_first_not_of("0123456789");
  value = value.substr(0, digits);
  if (value.empty()) return std::nullopt;
  value.remove_prefix(std::min(value.find_first_not_of('0'), value.size()));
  int64_t magnitude = 0;
  if (value.size() > 10) {
    magnitude = int64_t{1} << 40;
  } else if (!value.empty()) {
    std::from_chars(value.data(), value.data() + value.size(), magnitude);
  }
  const int64_t n = negative ? -magnitude : magnitude;
  if (n > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (n < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(n);
}

bool Inside(std::string_view part, std::string_view whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const orvex::IniReader reader(text);
  constexpr std::string_view kKeys[][2] = {
      {"options", "bMute"}, {"options", "volume"},      {"options", "eachJump"},
      {"learn", "speed"},   {"learn", "repeatCount"},   {"learn", "repeatGap"},
      {"", ""},             {"OPTIONS", "VOLUME"},      {"a b", "c d"}};
  for (const auto& [section, key] : kKeys) {
    const auto value = reader.Find(section, key);
    if (value) {
      Require(Inside(*value, text));
      Require(reader.GetInt(section, key, -12345) == ExpectedInt(*value).value_or(-12345));
    }
  }
  Require(orvex::ParseIniInt(text) == ExpectedInt(text));

  // A section as the program writes it, with the input behind it: the first
  // key in a matching section wins.
  uint32_t number = 0;
  for (size_t i = 0; i < std::min<size_t>(size, 4); ++i) number = number << 8 | data[i];
  const std::string written =
      orvex::FormatIniSection("options", {{"volume", number}}) + std::string(text);
  const orvex::IniReader back(written);
  const auto value = back.Find("Options", "Volume");
  Require(value && *value == std::to_string(number));
  return 0;
}
