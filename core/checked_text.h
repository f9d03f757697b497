#pragma once
// The small versioned texts the program keeps of a user's file (the study
// memory, the sentence cache) share one frame:
//
//   <magic><version>
//   path <the file's path, two hex digits a byte>
//   ... lines of their own ...
//   check <16 hex digits>
//
// the last line being the FNV-1a hash of every byte before it, so that a torn,
// damaged or hand-edited text reads as none. The bytes these functions make
// are what files already on the disk hold: never change them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// The first two lines: magic (ending in its space), the version, the path.
std::string CheckedTextHead(std::string_view magic, int version, std::string_view path);

// Ends text with its check line.
void SealCheckedText(std::string& text);

// What lies before the check line, when text ends with one that matches;
// nothing otherwise.
std::optional<std::string_view> CheckedTextBody(std::string_view text);

// Takes the next line (without its newline) off text; false when no whole
// line is left.
bool TakeLine(std::string_view& text, std::string_view& line);

// A decimal number that is the whole of text.
bool ParseInt64(std::string_view text, int64_t& value);

}  // namespace orvex
