#include "app/learn_keys_page.h"

#include <iterator>
#include <string_view>

#include "core/texts.h"

namespace orvex {
namespace {

// Escapes the few characters HTML gives a meaning to.
std::string Escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '&') {
      out += "&amp;";
    } else {
      out += c;
    }
  }
  return out;
}

// A menu entry's text is "name \t key": one cell for the key, one for the name.
std::string Cells(int textId) {
  std::string_view text = Text(textId);
  const size_t tab = text.find('\t');
  std::string_view name = text.substr(0, tab);
  std::string_view key = tab == std::string_view::npos ? std::string_view() : text.substr(tab + 1);
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  while (!key.empty() && key.front() == ' ') key.remove_prefix(1);
  return "<td><b>" + Escaped(key) + "</b>&nbsp;&nbsp;</td><td>" + Escaped(name) + "</td>";
}

}  // namespace

std::string LearnKeysPage() {
  // Two columns of entries, the way the menu orders them.
  constexpr int kLeft[] = {kTextMenuSlower, kTextMenuFaster, kTextMenuNormalSpeed,
                           kTextMenuPreviousSentence, kTextMenuNextSentence};
  constexpr int kRight[] = {kTextMenuAEarlier, kTextMenuALater, kTextMenuBEarlier, kTextMenuBLater,
                            kTextMenuRepeatSentence};
  std::string page =
      "<html><body style=\"margin:0; font-size:11px;\">"
      "<p style=\"margin:0;\"><b>" +
      Escaped(Text(kTextLearnKeysTitle)) +
      "</b></p>"
      "<table cellspacing=\"0\" cellpadding=\"0\" style=\"margin:0;\">";
  for (size_t i = 0; i < std::size(kLeft); ++i) {
    page += "<tr>" + Cells(kLeft[i]) + "<td>&nbsp;&nbsp;&nbsp;</td>" + Cells(kRight[i]) + "</tr>";
  }
  page += "</table></body></html>";
  return page;
}

}  // namespace orvex
