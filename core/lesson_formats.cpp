#include "core/lesson_formats.h"

namespace orvex {

namespace {

constexpr char kMp3Filter[] = "MP3 files (*.mp3)";
constexpr char kLessonFilterText[] = "Audio and video lessons";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The name's extension with its dot, lowered; empty when the last part of
// the path has no dot, or nothing but one at its start (".mp3" alone is a
// hidden file's name, not an extension).
std::string LowerExtension(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  const size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  const size_t dot = path.find_last_of('.');
  if (dot == std::string_view::npos || dot <= nameStart) return {};
  std::string ext(path.substr(dot));
  for (char& c : ext) c = Lower(c);
  return ext;
}

}  // namespace

const std::vector<std::string_view>& LessonExtensions() {
  static const std::vector<std::string_view> extensions = {
      ".mp3", ".m4a", ".mp4", ".aac", ".ogg",  ".oga",
      ".opus", ".flac", ".wav", ".mkv", ".webm"};
  return extensions;
}

bool IsLessonName(std::string_view path) {
  const std::string ext = LowerExtension(path);
  for (std::string_view known : LessonExtensions()) {
    if (ext == known) return true;
  }
  return false;
}

bool IsMp3LessonName(std::string_view path) { return LowerExtension(path) == ".mp3"; }

std::vector<std::string> OpenDialogFilters() {
  std::string all = std::string(kLessonFilterText) + " (";
  bool first = true;
  for (std::string_view ext : LessonExtensions()) {
    if (!first) all += ' ';
    first = false;
    all += '*';
    all += ext;
  }
  all += ')';
  return {all, kMp3Filter};
}

std::string OpenDialogFilter() {
  std::string joined;
  for (const std::string& filter : OpenDialogFilters()) {
    if (!joined.empty()) joined += ";;";
    joined += filter;
  }
  return joined;
}

const std::vector<std::string_view>& LessonMimeTypes() {
  static const std::vector<std::string_view> types = {
      "audio/mpeg",  "audio/mp3",       "audio/mp4",   "audio/x-m4a", "audio/aac",
      "audio/x-aac", "audio/ogg",       "audio/x-vorbis+ogg",         "audio/opus",
      "audio/x-opus+ogg", "audio/flac", "audio/x-flac", "audio/wav",  "audio/x-wav",
      "video/mp4",   "video/x-matroska", "video/webm", "audio/webm"};
  return types;
}

}  // namespace orvex
