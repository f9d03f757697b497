#pragma once

#include <string>

#include "playback/player.h"

namespace orvex {

// The text of one of our own result codes; a generic text with the code in
// hexadecimal for any other.
std::string OwnErrorText(Result code);

}  // namespace orvex
