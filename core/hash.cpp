#include "core/hash.h"

#include <cstdio>

namespace orvex {

std::string Hex64(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

std::string HexBytes(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    out.push_back(kDigits[u >> 4]);
    out.push_back(kDigits[u & 15]);
  }
  return out;
}

}  // namespace orvex
