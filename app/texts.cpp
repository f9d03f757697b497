#include "app/texts.h"

#include <array>
#include <utility>

namespace orvex {
namespace {

constexpr std::array<std::pair<int, std::string_view>, 33> kTexts{{
    {103, "OrvexPlayer 2.2.3 （对mp3进行ab复读）"},
    {110, "播放异常：\r\n%s"},
    {111, "使用提示：按复读键“↑”设好a点、b点后，即开始在ab间复读，再次按“↑”键取消a点、b点。"},
    {112, "载入失败：\r\n%s"},
    {113, "播放失败：\r\n%s"},
    {114, "文件有缺失，请重装本软件"},
    {115, "文件有缺失，请重新安装 OrvexPlayer"},
    {116, "系统环境有问题，请修复或重装 DirectX"},
    {117, "还未载入mp3文件"},
    {118, "已载入mp3文件"},
    {119, "播放中…"},
    {120, "暂停播放"},
    {121, "已停止播放"},
    {122, "播放 \t ↓"},
    {123, "暂停 \t ↓"},
    {124, "窗口置顶"},
    {125, "取消窗口置顶"},
    {126, "设置a点 \t ab复读键“↑”"},
    {127, "设置b点 \t ab复读键“↑”"},
    {128, "取消ab点 \t ab复读键“↑”"},
    {129, "此版本已被废弃"},
    {130, "已发布新版本"},
    {131, "播放（↓）"},
    {132, "暂停（↓）"},
    {133, "停止播放（F4）"},
    {134, "向后跳跃（←）"},
    {135, "向前跳跃（→）"},
    {136, "设置a点（ab复读键“↑”）"},
    {137, "设置b点（ab复读键“↑”）"},
    {138, "取消ab点（ab复读键“↑”）"},
    {139, "打开mp3文件"},
    {140, "读文件失败：\n%s\n\n%S"},
    {141, "写文件失败：\n%s\n\n%S"},
}};

}  // namespace

std::string_view Text(int id) {
  for (const auto& [textId, text] : kTexts) {
    if (textId == id) return text;
  }
  return {};
}

std::string FormatText(int id, std::initializer_list<std::string_view> args) {
  const std::string_view format = Text(id);
  std::string out;
  out.reserve(format.size() + 64);
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() &&
        (format[i + 1] == 's' || format[i + 1] == 'S')) {
      if (next != args.end()) out.append(*next++);
      ++i;
      continue;
    }
    out.push_back(format[i]);
  }
  return out;
}

}  // namespace orvex
