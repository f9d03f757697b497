#include "playback/lyrics_tag.h"

#include <gst/tag/tag.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

#include "playback/mpeg_scan.h"

namespace orvex {

namespace {

// A tag with cover pictures runs to a few MiB; lyrics alone never do.
constexpr uint64_t kTagLimit = 8u << 20;

// The tag under which GStreamer's ID3v2 reader keeps the frames it does not
// read itself.
constexpr char kId3v2FrameTag[] = "private-id3v2-frame";

// The text of an ID3v2.3/2.4 USLT frame (header included), in UTF-8; empty
// for another frame, one with flags (compressed, encrypted, unsynchronised)
// or one that does not hold together.
std::string UsltText(const uint8_t* frame, size_t n) {
  constexpr size_t kHeader = 10, kLanguage = 3;
  if (n < kHeader + 1 + kLanguage || std::memcmp(frame, "USLT", 4) != 0) return {};
  if (frame[8] != 0 || frame[9] != 0) return {};
  const uint8_t encoding = frame[kHeader];
  if (encoding > 3) return {};
  const uint8_t* p = frame + kHeader + 1 + kLanguage;
  const uint8_t* end = frame + n;
  // The content descriptor ends in one zero (Latin-1, UTF-8) or two at an
  // even offset (UTF-16); the lyrics follow it.
  const size_t unit = encoding == 1 || encoding == 2 ? 2 : 1;
  while (p + unit <= end && !(p[0] == 0 && (unit == 1 || p[1] == 0))) p += unit;
  if (p + unit > end) return {};
  p += unit;
  static constexpr const char* kEncodings[] = {"ISO-8859-1", "UTF-16", "UTF-16BE", "UTF-8"};
  gsize written = 0;
  gchar* text = g_convert(reinterpret_cast<const gchar*>(p), static_cast<gssize>(end - p), "UTF-8",
                          kEncodings[encoding], nullptr, &written, nullptr);
  if (!text) return {};
  std::string lyrics(text, written);
  g_free(text);
  // A terminating zero is allowed, and nothing after it counts.
  if (const size_t zero = lyrics.find('\0'); zero != std::string::npos) lyrics.resize(zero);
  return lyrics;
}

}  // namespace

std::string LyricsOfTags(const GstTagList* tags) {
  if (!tags) return {};
  gchar* text = nullptr;
  if (gst_tag_list_get_string(tags, GST_TAG_LYRICS, &text) && text) {
    std::string lyrics(text);
    g_free(text);
    return lyrics;
  }
  // A Vorbis comment GStreamer has no name for.
  const gchar* comment = nullptr;
  for (guint i = 0; gst_tag_list_peek_string_index(tags, GST_TAG_EXTENDED_COMMENT, i, &comment);
       ++i) {
    for (const char* key : {"LYRICS=", "UNSYNCEDLYRICS="}) {
      if (g_ascii_strncasecmp(comment, key, std::strlen(key)) == 0) {
        return comment + std::strlen(key);
      }
    }
  }
  // ID3v2's USLT frame, which the ID3v2 reader hands on as it found it.
  GstSample* sample = nullptr;
  for (guint i = 0; gst_tag_list_get_sample_index(tags, kId3v2FrameTag, i, &sample); ++i) {
    std::string lyrics;
    GstMapInfo map;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      lyrics = UsltText(map.data, map.size);
      gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
    if (!lyrics.empty()) return lyrics;
  }
  return {};
}

std::string Id3v2Lyrics(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  uint8_t header[10] = {};
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return {};
  in.seekg(0, std::ios::end);
  const auto fileBytes = static_cast<uint64_t>(std::max<std::streamoff>(in.tellg(), 0));
  const uint64_t size = Id3v2TagSize(header, sizeof header, fileBytes);
  if (size <= sizeof header || size > kTagLimit) return {};
  std::vector<uint8_t> tag(size);
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(tag.data()), static_cast<std::streamsize>(size))) return {};
  GstBuffer* buffer = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, tag.data(), tag.size(),
                                                  0, tag.size(), nullptr, nullptr);
  GstTagList* tags = gst_tag_list_from_id3v2_tag(buffer);
  gst_buffer_unref(buffer);
  std::string lyrics = LyricsOfTags(tags);
  if (tags) gst_tag_list_unref(tags);
  return lyrics;
}

}  // namespace orvex
