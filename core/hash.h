#pragma once
// A stable 64-bit hash for naming the program's own files after a path
// (FNV-1a: the same value on every machine and in every version), and the
// hex text such files are named and checked with.

#include <cstdint>
#include <string>
#include <string_view>

namespace orvex {

constexpr uint64_t Fnv1a64(std::string_view data) {
  uint64_t h = 14695981039346656037ull;
  for (const char c : data) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

// Sixteen lower-case hex digits.
std::string Hex64(uint64_t value);
// Two lower-case hex digits per byte: any bytes as one line of text.
std::string HexBytes(std::string_view bytes);

}  // namespace orvex
