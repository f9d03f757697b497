#include "playback/format_probe.h"

#include <algorithm>
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

// Transport stream packets from offset on, stride bytes apart (188, or 192
// with the time code of an M2TS file in front): three in a row.
bool PacketsAt(const std::vector<uint8_t>& b, size_t offset, size_t stride) {
  for (int i = 0; i < 3; ++i) {
    const size_t at = offset + static_cast<size_t>(i) * stride;
    if (at >= b.size() || b[at] != 0x47) return false;
  }
  return true;
}

uint16_t ReadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint64_t ReadLe64(const uint8_t* p) {
  return ReadLe32(p) | (uint64_t{ReadLe32(p + 4)} << 32);
}

// Chunks walked before a WAVE file's sound at most: more is no WAV.
constexpr int kMaxWavChunks = 1024;

constexpr int kAdtsRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                22050, 16000, 12000, 11025, 8000,  7350};

}  // namespace

int64_t AdtsScan::SampleTimeNs(uint64_t sample) const {
  if (sampleRate <= 0) return 0;
  return static_cast<int64_t>(sample / static_cast<uint64_t>(sampleRate) * 1000000000ull +
                              sample % static_cast<uint64_t>(sampleRate) * 1000000000ull /
                                  static_cast<uint64_t>(sampleRate));
}

int64_t AdtsScan::LengthNs() const { return SampleTimeNs(samples); }

AdtsScan ScanAdts(ByteSource& source, uint64_t offset, uint32_t indexStride) {
  AdtsScan scan;
  const uint64_t size = source.Size();
  std::vector<uint8_t> block(1 << 16);
  uint64_t blockAt = 0;
  size_t blockBytes = 0;
  uint64_t frames = 0;
  while (offset + 7 <= size) {
    if (offset < blockAt || offset + 7 > blockAt + blockBytes) {
      blockAt = offset;
      blockBytes = source.Read(offset, block.data(), block.size());
      if (blockBytes < 7) break;
    }
    const uint8_t* h = block.data() + (offset - blockAt);
    if (h[0] != 0xFF || (h[1] & 0xF6) != 0xF0) break;
    const int rateIndex = (h[2] >> 2) & 0x0F;
    if (rateIndex >= 13) break;
    const int rate = kAdtsRates[rateIndex];
    if (scan.sampleRate != 0 && rate != scan.sampleRate) break;
    const uint32_t length = ((h[3] & 0x03u) << 11) | (uint32_t{h[4]} << 3) | (h[5] >> 5);
    if (length < 7 || offset + length > size) break;
    scan.sampleRate = rate;
    if (frames % indexStride == 0) scan.index.push_back({offset, scan.samples});
    scan.samples += 1024u * ((h[6] & 0x03u) + 1);
    ++frames;
    offset += length;
  }
  scan.found = frames >= 2;
  return scan;
}

int64_t WavLayout::LengthNs() const {
  // PCM, IEEE float, A-law, mu-law: one block a sample frame.
  const bool plain = formatTag == 1 || formatTag == 3 || formatTag == 6 || formatTag == 7;
  if (!found || !plain || blockAlign <= 0 || sampleRate <= 0) return -1;
  const uint64_t frames = dataBytes / static_cast<uint64_t>(blockAlign);
  const auto rate = static_cast<uint64_t>(sampleRate);
  return static_cast<int64_t>(frames / rate * 1000000000ull + frames % rate * 1000000000ull / rate);
}

WavLayout ScanWav(ByteSource& source, uint64_t offset) {
  WavLayout wav;
  const uint64_t size = source.Size();
  uint8_t h[12];
  if (source.Read(offset, h, 12) != 12 || std::memcmp(h + 8, "WAVE", 4) != 0) return wav;
  const bool rf64 = std::memcmp(h, "RF64", 4) == 0;
  if (!rf64 && std::memcmp(h, "RIFF", 4) != 0) return wav;
  bool haveFormat = false;
  uint64_t ds64Data = 0;
  uint64_t at = offset + 12;
  for (int n = 0; n < kMaxWavChunks && at + 8 <= size; ++n) {
    uint8_t chunk[8];
    if (source.Read(at, chunk, 8) != 8) break;
    const uint64_t body = at + 8;
    const uint32_t stated = ReadLe32(chunk + 4);
    if (std::memcmp(chunk, "ds64", 4) == 0) {
      uint8_t d[16];
      if (stated >= 16 && source.Read(body, d, 16) == 16) ds64Data = ReadLe64(d + 8);
    } else if (std::memcmp(chunk, "fmt ", 4) == 0) {
      uint8_t f[26] = {};
      const size_t got = source.Read(body, f, std::min<size_t>(stated, sizeof f));
      if (got < 16) break;
      wav.formatTag = ReadLe16(f);
      // WAVE_FORMAT_EXTENSIBLE names its format in its subformat's first bytes.
      if (wav.formatTag == 0xFFFE && got >= 26) wav.formatTag = ReadLe16(f + 24);
      wav.channels = ReadLe16(f + 2);
      wav.sampleRate = static_cast<int>(std::min<uint32_t>(ReadLe32(f + 4), 1u << 30));
      wav.blockAlign = ReadLe16(f + 12);
      wav.formatOffset = body;
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      const uint64_t rest = size - body;
      uint64_t bytes = rf64 && stated == 0xFFFFFFFFu ? ds64Data : stated;
      if (bytes == 0 || bytes > rest) bytes = rest;
      wav.dataOffset = body;
      wav.dataBytes = bytes;
      wav.found = haveFormat;
      break;
    }
    at = body + stated + (stated & 1u);
  }
  return wav;
}

int64_t ParseTrackDuration(std::string_view text) {
  int64_t fields[3] = {0, 0, 0};
  size_t at = 0;
  for (int f = 0; f < 3; ++f) {
    const size_t from = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - from < 9) {
      fields[f] = fields[f] * 10 + (text[at] - '0');
      ++at;
    }
    if (at == from) return -1;
    const char separator = f < 2 ? ':' : '.';
    if (at < text.size() && text[at] == separator) {
      ++at;
    } else if (f < 2 || at != text.size()) {
      return -1;
    }
  }
  if (fields[1] >= 60 || fields[2] >= 60) return -1;
  int64_t ns = ((fields[0] * 60 + fields[1]) * 60 + fields[2]) * 1000000000;
  // The fraction, to nine digits.
  int64_t scale = 100000000;
  for (; at < text.size() && scale > 0; ++at, scale /= 10) {
    if (text[at] < '0' || text[at] > '9') return -1;
    ns += (text[at] - '0') * scale;
  }
  return at == text.size() ? ns : -1;
}

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
    case LessonContent::kMpegTs:
      return "MPEG-TS";
    case LessonContent::kMpegPs:
      return "MPEG-PS";
  }
  return "?";
}

bool TakesMp3Builders(LessonContent content) {
  return content == LessonContent::kMp3 || content == LessonContent::kMpegPs;
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
  } else if (PacketsAt(b, 0, 188) || PacketsAt(b, 4, 192)) {
    // Before the frame scan: the audio in the packets may pass for MP3.
    probe.content = LessonContent::kMpegTs;
  } else if (b.size() >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == 0xBA) {
    probe.content = LessonContent::kMpegPs;
  } else {
    probe.content = ScanMpegAudio(source).found ? LessonContent::kMp3 : LessonContent::kUnknown;
  }
  return probe;
}

}  // namespace orvex
