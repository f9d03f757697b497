#include "views/format_time.h"

#include <cstdio>

namespace orvex {

std::string FormatTime(int32_t ms) {
  if (ms < 0) return "00:00:00";
  const int32_t s = ms / 1000;
  const int32_t hours = s / 3600;
  const int32_t minutes = (s - hours * 3600) / 60;
  const int32_t seconds = s % 60;
  char text[16];
  std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d", hours, minutes, seconds);
  return text;
}

}  // namespace orvex
