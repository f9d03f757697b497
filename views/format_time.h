#pragma once

#include <cstdint>
#include <string>

namespace orvex {

// "hh:mm:ss" for a time in milliseconds; hours are not limited (100 h reads
// "100:00:00"); a negative time reads "00:00:00".
std::string FormatTime(int32_t ms);

}  // namespace orvex
