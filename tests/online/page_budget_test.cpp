#include "online/page_budget.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace orvex {
namespace {

std::string Repeat(const std::string& part, std::size_t times) {
  std::string all;
  for (std::size_t i = 0; i < times; ++i) all += part;
  return all;
}

TEST(PageBudget, CountsWhatMakesAPageCostly) {
  const std::string page =
      "<!DOCTYPE html><html><head><style>p { color: red }</style>"
      "<script>if (a < b) document.write('<table>');</script></head>"
      "<body><!-- <table><td> --><p>Orvex <b>listening</b></p>"
      "<table><tr><td><table><tr><td>x</td><th>y</th></tr></table></td></tr></table>"
      "<img src=\"a.png\"><br/><img src='b.png' alt=\"a > b\"></body></html>";
  const PageShape shape = MeasurePage(page);
  EXPECT_EQ(shape.bytes, page.size());
  EXPECT_EQ(shape.styleBytes, std::string("p { color: red }").size());
  // The script's text counts as text, and nothing in it or in the comment as markup.
  EXPECT_EQ(shape.textBytes,
            std::string("if (a < b) document.write('<table>');Orvex listeningxy").size());
  EXPECT_EQ(shape.elements, 17u);
  EXPECT_EQ(shape.tables, 2u);
  EXPECT_EQ(shape.tableDepth, 2u);
  EXPECT_EQ(shape.cells, 3u);
  EXPECT_EQ(shape.images, 2u);
  EXPECT_EQ(shape.maxDepth, 8u);  // html body table tr td table tr td
  EXPECT_TRUE(FitsPanel(shape));
}

TEST(PageBudget, ElementsWhoseEndTagIsLeftOutDoNotNest) {
  EXPECT_EQ(MeasurePage("<p>a<p>b<p>c").maxDepth, 1u);
  EXPECT_EQ(MeasurePage("<ul><li>a<li>b<li>c</ul><p>d").maxDepth, 2u);
  EXPECT_EQ(MeasurePage("<table><tr><td>a<td>b<tr><td>c</table>").maxDepth, 3u);
  // An end tag closes what was left open inside its element.
  EXPECT_EQ(MeasurePage("<div><span><b>a</div><div>b</div>").maxDepth, 3u);
  EXPECT_EQ(MeasurePage("<table><tr><td><table><td>a</table></td></tr></table><table>").tableDepth,
            2u);
}

TEST(PageBudget, AWordIsTheTextALineCannotBreakIn) {
  EXPECT_EQ(MeasurePage("<p>one three five</p>").longestWord, 5u);
  // Format changes inside a word weigh on it; a block ends it, so does a picture.
  EXPECT_EQ(MeasurePage("ab<b>cd</b>ef").longestWord, 6 + 2 * kInlineElementWeight);
  EXPECT_EQ(MeasurePage("abc<br>abcd<p>ab</p><img src=x>abcde").longestWord, 5u);
  // Chinese text may break between any two characters.
  EXPECT_EQ(MeasurePage("听力听力听力听力听力听力").longestWord, 2u);
}

TEST(PageBudget, ABannerFits) {
  const std::string banner =
      "<html><head><meta charset=utf-8><style>body { margin: 0 } a { color: #c00 }</style>"
      "</head><body><table width=100%><tr><td><a href=\"res.htm\"><img src=\"ad.gif\" "
      "width=300 height=60></a></td><td>新版 2.3 <b>听力资料</b> <a href=\"tool.htm\">工具</a>"
      "</td></tr></table></body></html>";
  EXPECT_TRUE(FitsPanel(MeasurePage(banner)));
  EXPECT_TRUE(FitsPanel(MeasurePage(banner), kMaxStyleSheetBytes / 2));
}

TEST(PageBudget, EachBoundHolds) {
  const PageShape& most = kMaxShownPage;
  PageShape atBounds = most;
  atBounds.styleBytes = kMaxStyleWork / most.elements;  // as much style as the elements allow
  EXPECT_TRUE(FitsPanel(atBounds));
  const std::pair<const char*, std::size_t PageShape::*> fields[] = {
      {"bytes", &PageShape::bytes},       {"text", &PageShape::textBytes},
      {"elements", &PageShape::elements}, {"depth", &PageShape::maxDepth},
      {"tables", &PageShape::tables},     {"tables in tables", &PageShape::tableDepth},
      {"cells", &PageShape::cells},       {"pictures", &PageShape::images},
      {"word", &PageShape::longestWord}};
  for (const auto& [name, field] : fields) {
    PageShape over = atBounds;
    over.*field = most.*field + 1;
    EXPECT_FALSE(FitsPanel(over)) << name;
  }
  // Style: the page's own and the linked sheets share one bound, and one on
  // style times elements.
  EXPECT_FALSE(FitsPanel(atBounds, 1));
  PageShape few = atBounds;
  few.elements = 1;
  few.styleBytes = 0;
  EXPECT_TRUE(FitsPanel(few, most.styleBytes));
  EXPECT_FALSE(FitsPanel(few, most.styleBytes + 1));
}

// Small pages that kept the text browser busy for seconds or minutes.
TEST(PageBudget, PagesThatStallTheLayoutAreRefused) {
  // Tables nested 21 deep: 714 bytes, about three minutes of layout.
  EXPECT_FALSE(
      FitsPanel(MeasurePage(Repeat("<table><tr><td>x", 21) + Repeat("</td></tr></table>", 21))));
  // One word of 65 000 letters: a second.
  EXPECT_FALSE(FitsPanel(MeasurePage("<p>" + std::string(65000, 'x') + "</p>")));
  // Formats changing inside words: 16 000 letters, two seconds.
  EXPECT_FALSE(FitsPanel(MeasurePage("<p>" + Repeat("x<b>y</b>", 8000) + "</p>")));
  // 64 KB of style rules over 3 200 elements: close to a second.
  std::string style = "<style>";
  for (int i = 0; style.size() < 64000; ++i) {
    style += ".c" + std::to_string(i) + " div p span b { color: red }\n";
  }
  EXPECT_FALSE(FitsPanel(MeasurePage(
      style + "</style>" + Repeat("<div class=c1><p><span><b>x</b></span></p></div>", 800))));
  // 4 000 pictures: a second.
  EXPECT_FALSE(FitsPanel(MeasurePage(Repeat("<img src=\"a.png\">", 4000))));
  // Elements nested 6 500 deep (a page of 64 KB): a second of parsing; counting
  // stops at the first one too deep.
  const PageShape deep = MeasurePage(Repeat("<div>a<br>", 6500));
  EXPECT_FALSE(FitsPanel(deep));
  EXPECT_EQ(deep.maxDepth, kMaxShownPage.maxDepth + 1);
}

}  // namespace
}  // namespace orvex
