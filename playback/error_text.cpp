#include "playback/error_text.h"

#include <cstdio>

#include "core/texts.h"

namespace orvex {

std::string OwnErrorText(Result code) {
  switch (code) {
    case kErrNoAudioHardware:
      return std::string(Text(kTextErrNoAudioHardware));
    case kErrNotFound:
      return std::string(Text(kTextErrPinNotFound));
    case kErrTimeout:
      return std::string(Text(kTextErrTimeout));
    case kErrCannotOpen:
      return std::string(Text(kTextErrCannotOpen));
    case kErrNotMpegAudio:
      return std::string(Text(kTextErrNotMpegAudio));
    case kErrMissingElement:
      return std::string(Text(kTextErrMissingElement));
    case kErrStream:
      return std::string(Text(kTextErrStream));
    case kErrNotRegularFile:
      return std::string(Text(kTextErrNotRegularFile));
    case kErrFail:
      return std::string(Text(kTextErrUnspecified));
    default:
      break;
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(code));
  return FormatText(kTextErrCode, {hex});
}

}  // namespace orvex
