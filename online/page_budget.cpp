#include "online/page_budget.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <vector>

namespace orvex {
namespace {

bool IsVoid(std::string_view name) {
  static constexpr std::array<std::string_view, 14> kVoid = {
      "area",  "base", "br",   "col",   "embed",  "hr",    "img",
      "input", "link", "meta", "param", "source", "track", "wbr"};
  return std::find(kVoid.begin(), kVoid.end(), name) != kVoid.end();
}

// Elements that change the format inside a line of text. (A picture is a
// place where a line may break.)
bool IsInline(std::string_view name) {
  static constexpr std::array<std::string_view, 23> kInline = {
      "a", "abbr", "b",    "big",   "cite", "code",   "dfn",    "em",  "font", "i",  "kbd", "nobr",
      "q", "s",    "samp", "small", "span", "strike", "strong", "sub", "sup",  "tt", "u"};
  return std::find(kInline.begin(), kInline.end(), name) != kInline.end();
}

char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// Where `needle` (lower case) starts in `text` from `from` on, in any case.
std::size_t FindNoCase(std::string_view text, std::string_view needle, std::size_t from) {
  for (std::size_t at = from; at + needle.size() <= text.size(); ++at) {
    std::size_t n = 0;
    while (n < needle.size() && Lower(text[at + n]) == needle[n]) ++n;
    if (n == needle.size()) return at;
  }
  return std::string_view::npos;
}

// The end of the tag that starts at `at`: just past its '>', outside quotes.
std::size_t TagEnd(std::string_view html, std::size_t at, bool* selfClosing) {
  char quote = 0;
  char last = 0;
  for (std::size_t i = at + 1; i < html.size(); ++i) {
    const char c = html[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      if (selfClosing != nullptr) *selfClosing = last == '/';
      return i + 1;
    } else if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
      last = c;
    }
  }
  return html.size();
}

std::string NameAt(std::string_view html, std::size_t at) {
  std::string name;
  while (at < html.size() && std::isalnum(static_cast<unsigned char>(html[at]))) {
    name += Lower(html[at++]);
  }
  return name;
}

class Counter {
 public:
  explicit Counter(std::string_view html) : html_(html) { shape_.bytes = html.size(); }

  PageShape count() {
    std::size_t at = 0;
    // A page nested too deeply is never shown: counting stops there, so that
    // end tags are never matched against a long list of open elements.
    while (at < html_.size() && shape_.maxDepth <= kMaxShownPage.maxDepth) {
      const std::size_t open = html_.find('<', at);
      const std::size_t textEnd = open == std::string_view::npos ? html_.size() : open;
      text(html_.substr(at, textEnd - at));
      if (textEnd == html_.size()) break;
      at = tag(open);
    }
    return shape_;
  }

 private:
  void text(std::string_view run) {
    shape_.textBytes += run.size();
    for (const char c : run) {
      const auto byte = static_cast<unsigned char>(c);
      // A space, or the first byte of a CJK or Hangul character (U+3000 to
      // U+DFFF): a line may break there.
      if (byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f' ||
          (byte >= 0xE3 && byte <= 0xED)) {
        word_ = 0;
      } else {
        grow(1);
      }
    }
  }

  void grow(std::size_t weight) {
    word_ += weight;
    shape_.longestWord = std::max(shape_.longestWord, word_);
  }

  // Counts the markup that starts at `at` (a '<'); returns where text goes on.
  std::size_t tag(std::size_t at) {
    const std::string_view rest = html_.substr(at);
    if (rest.starts_with("<!--")) {
      const std::size_t end = html_.find("-->", at + 4);
      return end == std::string_view::npos ? html_.size() : end + 3;
    }
    if (rest.starts_with("<!") || rest.starts_with("<?")) return TagEnd(html_, at, nullptr);
    if (rest.starts_with("</")) {
      const std::string name = NameAt(html_, at + 2);
      endOfWord(name);
      close(name);
      return TagEnd(html_, at, nullptr);
    }
    const std::string name = NameAt(html_, at + 1);
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name.front()))) {
      text(rest.substr(0, 1));  // a lone '<' is text
      return at + 1;
    }
    bool selfClosing = false;
    const std::size_t end = TagEnd(html_, at, &selfClosing);
    endOfWord(name);
    start(name, selfClosing);
    if (name == "script" || name == "style") {
      // Raw text up to the closing tag, which is then read as markup.
      std::size_t close = FindNoCase(html_, "</" + name, end);
      if (close == std::string_view::npos) close = html_.size();
      (name == "style" ? shape_.styleBytes : shape_.textBytes) += close - end;
      return close;
    }
    return end;
  }

  // An inline element adds to the word it stands in; any other ends it.
  void endOfWord(const std::string& name) {
    if (IsInline(name)) {
      grow(kInlineElementWeight);
    } else {
      word_ = 0;
    }
  }

  void start(const std::string& name, bool selfClosing) {
    ++shape_.elements;
    if (name == "table") ++shape_.tables;
    if (name == "img") ++shape_.images;
    const bool cell = name == "td" || name == "th";
    if (cell) ++shape_.cells;
    // Elements whose end tag may be left out end where the next one starts.
    if (cell || name == "tr") {
      if (!open_.empty() && (open_.back() == "td" || open_.back() == "th")) open_.pop_back();
    }
    if (!open_.empty() && open_.back() == name &&
        (name == "p" || name == "li" || name == "dt" || name == "dd" || name == "option" ||
         name == "tr")) {
      open_.pop_back();
    }
    if (selfClosing || IsVoid(name)) return;
    open_.push_back(name);
    shape_.maxDepth = std::max(shape_.maxDepth, open_.size());
    if (name == "table") shape_.tableDepth = std::max(shape_.tableDepth, ++openTables_);
  }

  // An end tag closes its element and every element left open inside it.
  void close(const std::string& name) {
    const auto match = std::find(open_.rbegin(), open_.rend(), name);
    if (match == open_.rend()) return;
    const auto from = std::prev(match.base());
    openTables_ -= static_cast<std::size_t>(std::count(from, open_.end(), "table"));
    open_.erase(from, open_.end());
  }

  std::string_view html_;
  PageShape shape_;
  std::vector<std::string> open_;
  std::size_t openTables_ = 0;
  std::size_t word_ = 0;  // weight of the word being read
};

}  // namespace

PageShape MeasurePage(std::string_view html) {
  return Counter(html).count();
}

bool FitsPanel(const PageShape& shape, std::size_t sheetBytes) {
  const PageShape& most = kMaxShownPage;
  const std::size_t style = shape.styleBytes + sheetBytes;
  return shape.bytes <= most.bytes && shape.textBytes <= most.textBytes &&
         shape.elements <= most.elements && shape.maxDepth <= most.maxDepth &&
         shape.tables <= most.tables && shape.tableDepth <= most.tableDepth &&
         shape.cells <= most.cells && shape.images <= most.images &&
         shape.longestWord <= most.longestWord && style <= most.styleBytes &&
         style * shape.elements <= kMaxStyleWork;
}

}  // namespace orvex
