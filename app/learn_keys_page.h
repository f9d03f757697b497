#pragma once
// The small page the web page panel shows when the vendor's page cannot be
// loaded: the keys of the 学习 menu, from the text table, laid out to fit the
// panel without scrolling.

#include <string>

namespace orvex {

// An HTML page in UTF-8.
std::string LearnKeysPage();

}  // namespace orvex
