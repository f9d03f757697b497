#pragma once
// A small reader and writer for the INI text of the settings file.
//
// Reading is lenient: a UTF-8 byte order mark, CR LF or lone CR line ends and
// blanks around names, "=" and values are all accepted; section and key names
// compare case-insensitively (ASCII); lines starting with ";" or "#", lines
// without "=" and keys before the first section are skipped. When a key occurs
// more than once, the first one in a matching section wins.
//
// Writing produces one section with its keys in the order given, LF line ends.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

class IniReader {
 public:
  // The text must outlive the reader.
  explicit IniReader(std::string_view text);

  // The value of key in section with blanks and one pair of enclosing quotes
  // removed; nothing when the section or the key is missing.
  std::optional<std::string_view> Find(std::string_view section, std::string_view key) const;

  // The value of key as a number (see ParseIniInt); fallback when the key is
  // missing or its value does not start with a number.
  int32_t GetInt(std::string_view section, std::string_view key, int32_t fallback) const;

 private:
  std::string_view text_;
};

// The integer a value starts with: an optional sign, then decimal digits, up to
// the first other character ("12abc" is 12, "-7" is -7). Numbers beyond the
// 32-bit range saturate. Nothing when no digit follows the optional sign
// ("abc", "", "-"); "0x1F" reads as 0.
std::optional<int32_t> ParseIniInt(std::string_view value);

struct IniKey {
  std::string_view name;
  uint32_t value;
};

// "[section]\nname=value\n..." with each value as unsigned decimal digits.
std::string FormatIniSection(std::string_view section, std::initializer_list<IniKey> keys);

}  // namespace orvex
