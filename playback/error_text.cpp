#include "playback/error_text.h"

#include <cstdio>

namespace orvex {

std::string OwnErrorText(Result code) {
  switch (code) {
    case kErrNoAudioHardware:
      return "找不到音频输出设备。";
    case kErrNotFound:
      return "找不到连接所需的引脚。";
    case kErrTimeout:
      return "等待音频管道就绪超时。";
    case kErrCannotOpen:
      return "无法打开文件。";
    case kErrNotMpegAudio:
      return "文件中没有可播放的 MPEG 音频数据。";
    case kErrMissingElement:
      return "缺少所需的 GStreamer 组件。";
    case kErrStream:
      return "音频数据流出错。";
    case kErrNotRegularFile:
      return "这不是一个普通文件（可能是管道、设备或文件夹）。";
    case kErrFail:
      return "未指明的错误。";
    default:
      break;
  }
  char text[64];
  std::snprintf(text, sizeof text, "错误代码 0x%08X。", static_cast<unsigned>(code));
  return text;
}

}  // namespace orvex
