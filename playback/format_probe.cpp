#include "playback/format_probe.h"

#include <cstring>
#include <vector>

namespace orvex {

namespace {

bool At(const std::vector<uint8_t>& b, size_t offset, const char* magic) {
  const size_t n = std::strlen(magic);
  return offset + n <= b.size() && std::memcmp(b.data() + offset, magic, n) == 0;
}

// An ADTS header at offset whose frame is followed by another ADTS header:
// one sync word alone is too easily met in other data.
bool AdtsAt(const std::vector<uint8_t>& b, size_t offset) {
  auto header = [&](size_t at) {
    return at + 7 <= b.size() && b[at] == 0xFF && (b[at + 1] & 0xF6) == 0xF0 &&
           ((b[at + 2] >> 2) & 0x0F) < 13;
  };
  if (!header(offset)) return false;
  const size_t length = ((b[offset + 3] & 0x03u) << 11) | (b[offset + 4] << 3) |
                        (b[offset + 5] >> 5);
  if (length < 7) return false;
  // A file of a single frame has no second header to check.
  return offset + length >= b.size() || header(offset + length);
}

}  // namespace

const char* ContentName(LessonContent content) {
  switch (content) {
    case LessonContent::kEmpty:
      return "empty";
    case LessonContent::kUnknown:
      return "unknown";
    case LessonContent::kMp3:
      return "MP3";
    case LessonContent::kMp4:
      return "MP4";
    case LessonContent::kOgg:
      return "Ogg";
    case LessonContent::kMatroska:
      return "Matroska";
    case LessonContent::kFlac:
      return "FLAC";
    case LessonContent::kWav:
      return "WAV";
    case LessonContent::kAdts:
      return "ADTS AAC";
  }
  return "?";
}

LessonProbe ProbeLesson(ByteSource& source) {
  LessonProbe probe;
  const uint64_t size = source.Size();
  if (size == 0) {
    probe.content = LessonContent::kEmpty;
    return probe;
  }
  std::vector<uint8_t> head(10);
  head.resize(source.Read(0, head.data(), head.size()));
  if (head.size() == 10 && At(head, 0, "ID3")) {
    probe.leadingId3 = true;
    const uint64_t tag = Id3v2TagSize(head.data(), head.size(), size);
    // Id3v2TagSize counts a bare 10-byte header for a size it does not
    // trust; the tag is sound only when the size it states is the one taken.
    const uint64_t stated = (uint64_t{head[6]} << 21) | (uint64_t{head[7]} << 14) |
                            (uint64_t{head[8]} << 7) | head[9];
    const bool synchsafe = ((head[6] | head[7] | head[8] | head[9]) & 0x80) == 0;
    probe.id3Sound = synchsafe && tag == stated + 10 + ((head[5] & 0x10) ? 10 : 0);
    probe.contentOffset = tag;
  }
  std::vector<uint8_t> b(4096);
  b.resize(source.Read(probe.contentOffset, b.data(), b.size()));
  if (At(b, 4, "ftyp") || At(b, 4, "moov") || At(b, 4, "mdat") || At(b, 4, "wide") ||
      At(b, 4, "free")) {
    probe.content = LessonContent::kMp4;
  } else if (At(b, 0, "OggS")) {
    probe.content = LessonContent::kOgg;
  } else if (At(b, 0, "\x1A\x45\xDF\xA3")) {
    probe.content = LessonContent::kMatroska;
  } else if (At(b, 0, "fLaC")) {
    probe.content = LessonContent::kFlac;
  } else if ((At(b, 0, "RIFF") || At(b, 0, "RF64")) && At(b, 8, "WAVE")) {
    probe.content = LessonContent::kWav;
  } else if (AdtsAt(b, 0)) {
    probe.content = LessonContent::kAdts;
  } else {
    probe.content = ScanMpegAudio(source).found ? LessonContent::kMp3 : LessonContent::kUnknown;
  }
  return probe;
}

}  // namespace orvex
