// The LRC reader over any bytes: the sentences it gives keep the promises of
// sentences/lrc.h whatever the file holds.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sentences/lrc.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// Well-formed UTF-8: no stray continuation bytes, no overlong forms, no
// surrogates, nothing past U+10FFFF.
bool IsUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t more = 0;
    uint32_t code = 0, least = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      more = 1, code = c & 0x1F, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      more = 2, code = c & 0x0F, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      more = 3, code = c & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (i + more >= text.size()) return false;
    for (size_t k = 1; k <= more; ++k) {
      const auto d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      code = code << 6 | (d & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += more + 1;
  }
  return true;
}

void Check(const orvex::LrcResult& result, int32_t lengthMs) {
  if (result.Refused()) {
    Require(result.sentences.empty() && !result.reason.empty());
    return;
  }
  int32_t lastStart = INT32_MIN;
  for (const orvex::Sentence& s : result.sentences) {
    Require(s.endMs > s.startMs);
    Require(s.startMs >= lastStart);
    if (lengthMs > 0) Require(s.endMs <= lengthMs);
    Require(IsUtf8(s.text) && s.text.find('\0') == std::string::npos);
    lastStart = s.startMs;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The length unknown, and a length that cuts the later lines away.
  Check(orvex::ParseLrc(bytes, 0), 0);
  Check(orvex::ParseLrc(bytes, 30000), 30000);

  orvex::LrcRefusal refusal = orvex::LrcRefusal::kNone;
  const std::string text = orvex::DecodeLrcText(bytes, refusal);
  if (refusal == orvex::LrcRefusal::kNone) Require(IsUtf8(text));
  return 0;
}
