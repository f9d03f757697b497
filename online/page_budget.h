#pragma once
// What the web page panel takes from the vendor server, and what a page may
// hold to be shown. The panel lays a page out on the GUI thread, in one go,
// and the text layout's cost grows faster than the page in places: with the
// number of elements and table cells, with every level of tables inside
// tables (about twice per level), with style rules times elements, and with
// the square of a word's length when a line has to break inside it. A page
// past any of the bounds below is never laid out, so that no page can stall
// the window; a banner page is far below all of them.

#include <cstddef>
#include <string_view>

namespace orvex {

// Bytes actually read; a transfer stops as soon as it would pass them.
inline constexpr std::size_t kMaxPageBytes = 2 * 1024 * 1024;
inline constexpr std::size_t kMaxPictureBytes = 4 * 1024 * 1024;
inline constexpr std::size_t kMaxStyleSheetBytes = 8 * 1024;
// All pictures and style sheets of the page together, counted as read.
inline constexpr std::size_t kMaxResourceBytesTotal = 16 * 1024 * 1024;
// Pictures and style sheets asked for, and at most this many at a time.
inline constexpr std::size_t kMaxResources = 64;
inline constexpr std::size_t kParallelResources = 4;
// A picture is decoded only when it has at most this many pixels, and the
// decoded pictures together stay under the byte bound.
inline constexpr std::size_t kMaxPicturePixels = 2 * 1024 * 1024;
inline constexpr std::size_t kMaxDecodedBytesTotal = 16 * 1024 * 1024;

// A page's shape, as counted on its HTML (in an ASCII-compatible encoding).
struct PageShape {
  std::size_t bytes = 0;
  std::size_t textBytes = 0;  // outside tags and comments, scripts included
  std::size_t elements = 0;   // start tags
  std::size_t maxDepth = 0;   // of elements open at once
  std::size_t tables = 0;
  std::size_t tableDepth = 0;  // of tables open at once
  std::size_t cells = 0;       // <td> and <th>
  std::size_t images = 0;      // <img>
  std::size_t styleBytes = 0;  // inside <style> elements
  // The longest stretch of text with no place to break a line (a space or a
  // CJK character) and no block between, each inline element in it counting
  // kInlineElementWeight bytes: lines are broken inside such a stretch at a
  // cost that grows with its square, and faster with formats changing in it.
  std::size_t longestWord = 0;
};

inline constexpr std::size_t kInlineElementWeight = 32;

// The most a page shown in the panel may have. Measured with bench/online
// (online_bench bounds): a page at one bound costs some 10 ms of layout, a
// page at several of them some 20 ms.
inline constexpr PageShape kMaxShownPage{
    .bytes = 256 * 1024,
    .textBytes = 8 * 1024,
    .elements = 512,
    .maxDepth = 32,
    .tables = 16,
    .tableDepth = 3,
    .cells = 128,
    .images = kMaxResources,
    .styleBytes = kMaxStyleSheetBytes,
    .longestWord = 256,
};
// Style rules are matched against every element: the style bytes (the page's
// and its linked sheets') times the elements stay under this.
inline constexpr std::size_t kMaxStyleWork = 2 * 1024 * 1024;

// Counting stops at the first element nested deeper than kMaxShownPage allows.
PageShape MeasurePage(std::string_view html);

// Whether a page of this shape, with `sheetBytes` of linked style sheets, may
// be laid out in the panel.
bool FitsPanel(const PageShape& shape, std::size_t sheetBytes = 0);

}  // namespace orvex
