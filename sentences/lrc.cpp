#include "sentences/lrc.h"

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

#include "core/blanks.h"
#include "core/bounded_read.h"
#include "core/files.h"

namespace orvex {
namespace {

// Whether bytes are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t extra = 0;
    uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

// Converts bytes in the encoding `from` to UTF-8; nothing when a byte
// sequence is invalid or incomplete.
std::optional<std::string> ToUtf8(std::string_view bytes, const char* from) {
  iconv_t cd = iconv_open("UTF-8", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(bytes.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  size_t done = 0;
  bool ok = true;
  while (inLeft > 0) {
    char* outPtr = out.data() + done;
    size_t outLeft = out.size() - done;
    const size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    done = out.size() - outLeft;
    if (r != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    ok = false;  // EILSEQ or EINVAL
    break;
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  out.resize(done);
  return out;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads 1..maxDigits digits at the front of s into value.
bool TakeNumber(std::string_view& s, size_t maxDigits, int64_t& value, size_t* digits = nullptr) {
  size_t n = 0;
  value = 0;
  while (n < s.size() && n < maxDigits && IsDigit(s[n])) value = value * 10 + (s[n++] - '0');
  if (n == 0 || (n < s.size() && IsDigit(s[n]))) return false;
  if (digits) *digits = n;
  s.remove_prefix(n);
  return true;
}

// The milliseconds of a time tag's content: mm:ss, mm:ss.x, mm:ss.xx,
// mm:ss.xxx (or ':' before the fraction).
std::optional<int64_t> ParseTime(std::string_view s) {
  int64_t minutes = 0, seconds = 0;
  if (!TakeNumber(s, 5, minutes) || s.empty() || s.front() != ':') return std::nullopt;
  s.remove_prefix(1);
  if (!TakeNumber(s, 2, seconds) || seconds >= 60) return std::nullopt;
  int64_t ms = (minutes * 60 + seconds) * 1000;
  if (!s.empty()) {
    if (s.front() != '.' && s.front() != ':') return std::nullopt;
    s.remove_prefix(1);
    int64_t fraction = 0;
    size_t digits = 0;
    if (!TakeNumber(s, 3, fraction, &digits) || !s.empty()) return std::nullopt;
    ms += digits == 1 ? fraction * 100 : digits == 2 ? fraction * 10 : fraction;
  }
  return ms;
}

// The name of a [name:value] tag, lower-cased; nothing when content is not one.
std::optional<std::string> TagName(std::string_view content) {
  const size_t colon = content.find(':');
  if (colon == 0 || colon == std::string_view::npos) return std::nullopt;
  std::string name;
  for (const char c : content.substr(0, colon)) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '#';
    if (!letter) return std::nullopt;
    name.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
  }
  return name;
}

std::optional<int64_t> ParseOffset(std::string_view value) {
  value = TrimBlanks(value);
  bool negative = false;
  if (!value.empty() && (value.front() == '+' || value.front() == '-')) {
    negative = value.front() == '-';
    value.remove_prefix(1);
  }
  int64_t ms = 0;
  if (!TakeNumber(value, 9, ms) || !value.empty()) return std::nullopt;
  return negative ? -ms : ms;
}

// The text without word times (<mm:ss.xx>) and surrounding blanks.
std::string CleanText(std::string_view s) {
  std::string out;
  while (!s.empty()) {
    const size_t open = s.find('<');
    if (open == std::string_view::npos) break;
    const size_t close = s.find('>', open);
    if (close == std::string_view::npos) break;
    out.append(s.substr(0, open));
    if (!ParseTime(s.substr(open + 1, close - open - 1)))
      out.append(s.substr(open, close - open + 1));
    s.remove_prefix(close + 1);
  }
  out.append(s);
  return std::string(TrimBlanks(out));
}

struct Entry {
  int64_t ms = 0;
  std::string text;
};

const char* RefusalReason(LrcRefusal refusal) {
  switch (refusal) {
    case LrcRefusal::kTooLarge:
      return "the file is larger than 1 MiB";
    case LrcRefusal::kBinary:
      return "the file holds binary data, not text";
    case LrcRefusal::kUndecodable:
      return "the text is neither UTF-8, UTF-16 nor GB18030";
    case LrcRefusal::kUnreadable:
      return "the file is not a readable regular file";
    case LrcRefusal::kNone:
      break;
  }
  return "";
}

LrcResult Refuse(LrcRefusal refusal, std::string detail = {}) {
  LrcResult r;
  r.refusal = refusal;
  r.reason = RefusalReason(refusal);
  if (!detail.empty()) r.reason += " (" + detail + ")";
  return r;
}

bool SameExtension(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
           return lower(x) == lower(y);
         });
}

}  // namespace

std::string DecodeLrcText(std::string_view bytes, LrcRefusal& refusal) {
  refusal = LrcRefusal::kNone;
  if (bytes.size() > kMaxLrcBytes) {
    refusal = LrcRefusal::kTooLarge;
    return {};
  }
  std::optional<std::string> text;
  const auto startsWith = [&](std::string_view mark) {
    return bytes.substr(0, mark.size()) == mark;
  };
  if (startsWith("\xFF\xFE") || startsWith("\xFE\xFF")) {
    text = ToUtf8(bytes, "UTF-16");  // the mark tells the byte order
  } else {
    if (startsWith("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    if (bytes.find('\0') != std::string_view::npos) {
      refusal = LrcRefusal::kBinary;
      return {};
    }
    text = IsValidUtf8(bytes) ? std::optional<std::string>(std::string(bytes))
                              : ToUtf8(bytes, "GB18030");
  }
  if (!text) {
    refusal = LrcRefusal::kUndecodable;
    return {};
  }
  size_t characters = 0, controls = 0;
  for (const char c : *text) {
    const auto u = static_cast<unsigned char>(c);
    if ((u & 0xC0) == 0x80) continue;  // inside a character
    ++characters;
    if ((u < 0x20 && !IsBlank(c)) || u == 0x7F) ++controls;
  }
  if (text->find('\0') != std::string::npos || controls * 20 > characters) {
    refusal = LrcRefusal::kBinary;
    return {};
  }
  return std::move(*text);
}

LrcResult ParseLrc(std::string_view bytes, int32_t lengthMs) {
  LrcRefusal refusal;
  const std::string text = DecodeLrcText(bytes, refusal);
  if (refusal != LrcRefusal::kNone) return Refuse(refusal);

  LrcResult result;
  std::vector<Entry> entries;
  int64_t offsetMs = 0;
  std::string_view rest = text;
  while (!rest.empty()) {
    const size_t newline = rest.find_first_of("\r\n");
    std::string_view line = TrimBlanks(rest.substr(0, newline));
    rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
    if (line.empty() || line.front() != '[') continue;

    std::vector<int64_t> times;
    bool broken = false;
    size_t textStart = 0;
    while (true) {
      size_t open = textStart;
      while (!times.empty() && open < line.size() && IsBlank(line[open])) ++open;
      if (open >= line.size() || line[open] != '[') break;
      const size_t close = line.find(']', open);
      if (close == std::string_view::npos) {
        broken = times.empty();
        break;
      }
      const std::string_view content = line.substr(open + 1, close - open - 1);
      if (const std::optional<int64_t> ms = ParseTime(content)) {
        times.push_back(*ms);
        textStart = close + 1;
        continue;
      }
      if (!times.empty()) break;  // a bracket in the text
      if (!content.empty() &&
          (IsDigit(content.front()) || content.front() == '-' || content.front() == '+')) {
        broken = true;  // a time that does not parse
      } else if (const std::optional<std::string> name = TagName(content); name == "offset") {
        const std::optional<int64_t> offset = ParseOffset(content.substr(content.find(':') + 1));
        if (offset)
          offsetMs = *offset;
        else
          broken = true;
      }
      break;
    }
    if (broken) {
      ++result.skippedLines;
      continue;
    }
    if (times.empty()) continue;  // a tag of information, or no tag at all
    const std::string lineText = CleanText(line.substr(textStart));
    for (const int64_t ms : times) entries.push_back({ms, lineText});
  }

  for (Entry& e : entries) e.ms = std::max<int64_t>(e.ms - offsetMs, 0);
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.ms < b.ms; });
  // Lines with one time are one line.
  std::vector<Entry> lines;
  for (Entry& e : entries) {
    if (!lines.empty() && lines.back().ms == e.ms) {
      if (!e.text.empty()) {
        if (!lines.back().text.empty()) lines.back().text += " / ";
        lines.back().text += e.text;
      }
    } else {
      lines.push_back(std::move(e));
    }
  }
  const int64_t end = lengthMs > 0 ? lengthMs : INT32_MAX;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].ms >= end) break;
    if (lines[i].text.empty()) continue;
    const int64_t lineEnd = i + 1 < lines.size() ? std::min(lines[i + 1].ms, end) : end;
    result.sentences.push_back({static_cast<int32_t>(lines[i].ms), static_cast<int32_t>(lineEnd),
                                std::move(lines[i].text)});
  }
  return result;
}

std::string FindLrcBeside(const std::string& mediaPath) {
  const size_t slash = mediaPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : FolderOf(mediaPath);
  const std::string base = slash == std::string::npos ? mediaPath : mediaPath.substr(slash + 1);
  const size_t dot = base.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
  if (stem.empty()) return {};
  const std::string exact =
      mediaPath.substr(0, slash == std::string::npos ? 0 : slash + 1) + stem + ".lrc";
  struct stat st {};
  if (lstat(exact.c_str(), &st) == 0) return exact;

  // The extension in another case: the first such name in byte order.
  std::string found;
  DIR* listing = opendir(folder.c_str());
  if (!listing) return {};
  while (const dirent* entry = readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name.size() != stem.size() + 4 || name.compare(0, stem.size(), stem) != 0 ||
        name[stem.size()] != '.' || !SameExtension(name.substr(stem.size() + 1), "lrc")) {
      continue;
    }
    if (found.empty() || name < std::string_view(found)) found = name;
  }
  closedir(listing);
  if (found.empty()) return {};
  return mediaPath.substr(0, slash == std::string::npos ? 0 : slash + 1) + found;
}

LrcBeside ReadLrcBeside(const std::string& mediaPath, int32_t lengthMs) {
  LrcBeside out;
  out.path = FindLrcBeside(mediaPath);
  if (out.path.empty()) return out;
  // stat opens nothing: a pipe or a device in its place is never opened.
  struct stat st {};
  if (stat(out.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    out.lrc = Refuse(LrcRefusal::kUnreadable);
    return out;
  }
  if (st.st_size > static_cast<off_t>(kMaxLrcBytes)) {
    out.lrc = Refuse(LrcRefusal::kTooLarge);
    return out;
  }
  const int fd = open(out.path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    out.lrc = Refuse(LrcRefusal::kUnreadable, std::strerror(errno));
    return out;
  }
  std::string bytes;
  int error = 0;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = EINVAL;
  } else {
    // One byte more than allowed tells a file that grew since the stat.
    error = ReadAtMost(fd, kMaxLrcBytes, bytes);
  }
  close(fd);
  if (error != 0) {
    out.lrc = Refuse(LrcRefusal::kUnreadable, error == EINVAL ? "" : std::strerror(error));
    return out;
  }
  out.lrc = ParseLrc(bytes, lengthMs);
  return out;
}

}  // namespace orvex
