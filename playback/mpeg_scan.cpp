#include "playback/mpeg_scan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvex {

namespace {

// The decoder delay every MPEG audio decoder has, in samples; the parser cuts
// it away together with the encoder delay when a LAME tag is present.
constexpr uint64_t kDecoderDelay = 529;

// Bits that may differ between the frames of one stream: bit rate, padding,
// channel mode and extension, copyright, original, emphasis.
constexpr uint32_t kStreamMask = ~((0xFu << 12) | (0x1u << 9) | (0xFu << 4) | 0xFu);

constexpr int kBitrates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
};
constexpr int kSampleRates[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

uint32_t ReadBe32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Sequential reads through a window over the source, so a scan of a long file
// makes few read calls.
class Window {
 public:
  explicit Window(ByteSource& source) : source_(source), size_(source.Size()) {}

  uint64_t size() const { return size_; }

  // n bytes at offset, or nullptr when the data ends before them.
  const uint8_t* At(uint64_t offset, size_t n) {
    if (offset > size_ || n > size_ - offset) return nullptr;
    if (offset < start_ || offset + n > start_ + filled_) {
      if (n > kCapacity) return nullptr;
      start_ = offset;
      buffer_.resize(kCapacity);
      const size_t want = static_cast<size_t>(std::min<uint64_t>(kCapacity, size_ - offset));
      filled_ = source_.Read(offset, buffer_.data(), want);
      if (filled_ < n) return nullptr;
    }
    return buffer_.data() + (offset - start_);
  }

 private:
  static constexpr size_t kCapacity = 1 << 20;
  ByteSource& source_;
  uint64_t size_;
  std::vector<uint8_t> buffer_;
  uint64_t start_ = 0;
  size_t filled_ = 0;
};

// The number of frames of one stream that follow each other from offset, up
// to want; atEnd tells whether the last of them ends exactly at the end of the
// data or at an ID3v1 tag that closes it.
int CountRun(Window& w, uint64_t offset, int want, bool* atEnd) {
  *atEnd = false;
  const uint8_t* p = w.At(offset, 4);
  if (!p) return 0;
  const uint32_t firstWord = ReadBe32(p);
  int count = 0;
  while (count < want) {
    p = w.At(offset, 4);
    if (!p) break;
    const uint32_t word = ReadBe32(p);
    if (!SameMpegStream(firstWord, word)) break;
    const auto h = ParseMpegFrameHeader(word);
    if (!h || offset + h->frameBytes > w.size()) break;
    offset += h->frameBytes;
    ++count;
    if (offset == w.size()) {
      *atEnd = true;
      break;
    }
    if (offset + 128 == w.size()) {
      const uint8_t* tag = w.At(offset, 3);
      if (tag && std::memcmp(tag, "TAG", 3) == 0) {
        *atEnd = true;
        break;
      }
    }
  }
  return count;
}

bool RunAccepted(int count, bool atEnd, int minRun) {
  return count >= minRun || (atEnd && count >= std::min(2, minRun));
}

// The first offset in [from, limit) where a run of frames starts (of the
// stream of streamWord when given), or none.
std::optional<uint64_t> FindRun(Window& w, uint64_t from, uint64_t limit, int minRun,
                                std::optional<uint32_t> streamWord = std::nullopt) {
  limit = std::min(limit, w.size());
  for (uint64_t pos = from; pos + 4 <= limit; ++pos) {
    const uint8_t* p = w.At(pos, 4);
    if (!p) return std::nullopt;
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) continue;
    const uint32_t word = ReadBe32(p);
    if (streamWord && !SameMpegStream(*streamWord, word)) continue;
    if (!ParseMpegFrameHeader(word)) continue;
    bool atEnd = false;
    const int run = CountRun(w, pos, minRun, &atEnd);
    if (RunAccepted(run, atEnd, minRun)) return pos;
  }
  return std::nullopt;
}

// True when the data at p starts with an MPEG start code of a system stream,
// a PES packet or a video sequence: such a file is not an audio stream, even
// though its packets carry audio frames.
bool StartsWithSystemCode(const uint8_t* p) {
  return p[0] == 0 && p[1] == 0 && p[2] == 1 && (p[3] >= 0xB9 || p[3] == 0xB3);
}

// Where a Xing/Info frame has its id: behind the header and the side
// information.
size_t InfoIdOffset(const MpegFrameHeader& h) {
  const bool mono = h.channels == 1;
  return 4 + (h.version == 1 ? (mono ? 0x11 : 0x20) : (mono ? 0x09 : 0x11));
}

// True for a Xing/Info frame: a silent frame that only carries information.
// The parser drops every such frame, wherever it stands (files joined
// together carry several); their channel count is that of the stream.
bool IsInfoFrame(const uint8_t* frame, size_t frameBytes, const MpegFrameHeader& stream) {
  const size_t idOffset = InfoIdOffset(stream);
  if (frameBytes < idOffset + 4) return false;
  const uint8_t* id = frame + idOffset;
  return std::memcmp(id, "Xing", 4) == 0 || std::memcmp(id, "Info", 4) == 0;
}

// Reads a Xing/Info frame (and its LAME tag) as the MPEG audio parser does.
void ReadInfoFrame(const uint8_t* frame, const MpegFrameHeader& h, MpegScan& scan) {
  const size_t idOffset = InfoIdOffset(h);
  const size_t avail = h.frameBytes;
  if (avail < idOffset + 8 || !IsInfoFrame(frame, avail, h)) return;
  const uint8_t* id = frame + idOffset;
  scan.hasInfoFrame = true;
  const uint32_t flags = ReadBe32(id + 4);
  size_t need = idOffset + 8;
  if (flags & 1) need += 4;
  if (flags & 2) need += 4;
  if (flags & 4) need += 100;
  if (flags & 8) need += 4;
  if (avail < need) return;
  if (flags & 1) scan.infoFrames = ReadBe32(id + 8);
  if (avail - need >= 36 && std::memcmp(frame + need, "LAME", 4) == 0) {
    const uint8_t* d = frame + need + 21;
    const uint32_t both = (uint32_t{d[0]} << 16) | (uint32_t{d[1]} << 8) | d[2];
    scan.hasLameTag = true;
    scan.encoderDelay = both >> 12;
    scan.encoderPadding = both & 0xFFF;
  }
}

}  // namespace

size_t MemoryByteSource::Read(uint64_t offset, uint8_t* out, size_t n) {
  if (offset >= size_) return 0;
  const size_t count = static_cast<size_t>(std::min<uint64_t>(n, size_ - offset));
  std::memcpy(out, data_ + offset, count);
  return count;
}

FileByteSource::~FileByteSource() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileByteSource::Open(const std::string& path) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  size_ = static_cast<uint64_t>(st.st_size);
  return true;
}

size_t FileByteSource::Read(uint64_t offset, uint8_t* out, size_t n) {
  if (fd_ < 0) return 0;
  size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

std::optional<MpegFrameHeader> ParseMpegFrameHeader(uint32_t word) {
  if ((word & 0xFFE00000u) != 0xFFE00000u) return std::nullopt;
  const uint32_t versionBits = (word >> 19) & 3;
  const uint32_t layerBits = (word >> 17) & 3;
  const uint32_t bitrateIndex = (word >> 12) & 0xF;
  const uint32_t rateIndex = (word >> 10) & 3;
  if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 ||
      rateIndex == 3) {
    return std::nullopt;
  }
  MpegFrameHeader h;
  h.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 3;
  h.layer = 4 - static_cast<int>(layerBits);
  const int lsf = h.version == 1 ? 0 : 1;
  h.bitrateKbps = kBitrates[lsf][h.layer - 1][bitrateIndex];
  h.sampleRate = kSampleRates[h.version - 1][rateIndex];
  h.channels = ((word >> 6) & 3) == 3 ? 1 : 2;
  const uint32_t padding = (word >> 9) & 1;
  const uint32_t bps = static_cast<uint32_t>(h.bitrateKbps) * 1000;
  const uint32_t rate = static_cast<uint32_t>(h.sampleRate);
  switch (h.layer) {
    case 1:
      h.samplesPerFrame = 384;
      h.frameBytes = 4 * (bps * 12 / rate + padding);
      break;
    case 2:
      h.samplesPerFrame = 1152;
      h.frameBytes = bps * 144 / rate + padding;
      break;
    default:
      h.samplesPerFrame = lsf ? 576 : 1152;
      h.frameBytes = bps * 144 / (rate << lsf) + padding;
      break;
  }
  if (h.frameBytes < 4) return std::nullopt;
  return h;
}

bool SameMpegStream(uint32_t a, uint32_t b) {
  return (a & kStreamMask) == (b & kStreamMask);
}

uint64_t Id3v2TagSize(const uint8_t* data, size_t n, uint64_t fileBytesLeft) {
  if (n < 10 || std::memcmp(data, "ID3", 3) != 0 || data[3] == 0xFF || data[4] == 0xFF) return 0;
  const uint8_t* s = data + 6;
  if ((s[0] | s[1] | s[2] | s[3]) & 0x80) return 10;
  uint64_t size = (uint64_t{s[0]} << 21) | (uint64_t{s[1]} << 14) | (uint64_t{s[2]} << 7) | s[3];
  size += 10;
  if (data[5] & 0x10) size += 10;  // footer
  if (size > fileBytesLeft) return 10;
  return size;
}

uint64_t MpegScan::PlayedSamples() const {
  if (!found) return 0;
  const uint64_t spf = static_cast<uint64_t>(first.samplesPerFrame);
  const uint64_t total = audioFrames * spf;
  if (!hasLameTag || infoFrames == 0) return total;
  const uint64_t infoSamples = uint64_t{infoFrames} * spf;
  const uint64_t start = encoderDelay + kDecoderDelay;
  const uint64_t end =
      infoSamples + kDecoderDelay - std::min<uint64_t>(encoderPadding, infoSamples);
  if (audioFrames > infoFrames) {
    // More frames than the header says (files joined together): the parser
    // plays them all behind the cut range.
    return (end > start ? end - start : 0) + (total - infoSamples);
  }
  const uint64_t stop = std::min(total, end);
  return stop > start ? stop - start : 0;
}

int64_t MpegScan::LengthNs() const {
  if (!found || first.sampleRate <= 0) return 0;
  const uint64_t samples = PlayedSamples();
  const uint64_t rate = static_cast<uint64_t>(first.sampleRate);
  return static_cast<int64_t>(samples / rate * 1000000000u + samples % rate * 1000000000u / rate);
}

int64_t MpegScan::FrameTimeNs(uint64_t n) const {
  if (!found || first.sampleRate <= 0) return 0;
  const uint64_t frameNs = uint64_t{1000000000u} * static_cast<uint64_t>(first.samplesPerFrame) /
                           static_cast<uint64_t>(first.sampleRate);
  return static_cast<int64_t>(n * frameNs);
}

MpegScan ScanMpegAudio(ByteSource& source, const MpegScanOptions& options) {
  MpegScan scan;
  Window w(source);
  const int minRun = std::max(1, options.minRun);
  const uint32_t stride = std::max<uint32_t>(1, options.indexStride);

  // Tags first: one or more ID3v2 tags may lead the file.
  uint64_t pos = 0;
  while (const uint8_t* p = w.At(pos, 10)) {
    const uint64_t tag = Id3v2TagSize(p, 10, w.size() - pos);
    if (tag == 0) break;
    pos += tag;
  }
  if (const uint8_t* p = w.At(pos, 4); p && StartsWithSystemCode(p)) return scan;

  const auto start = FindRun(w, pos, pos + options.maxSyncSearch, minRun);
  if (!start) return scan;
  const uint32_t firstWord = ReadBe32(w.At(*start, 4));
  scan.found = true;
  scan.firstFrameOffset = *start;
  scan.first = *ParseMpegFrameHeader(firstWord);

  uint64_t offset = *start;
  if (const uint8_t* frame = w.At(offset, scan.first.frameBytes)) {
    ReadInfoFrame(frame, scan.first, scan);
  }
  if (scan.hasInfoFrame) offset += scan.first.frameBytes;
  scan.lastFrameEnd = offset;

  bool resynced = false;
  while (true) {
    const uint8_t* p = w.At(offset, 4);
    if (!p) break;
    const uint32_t word = ReadBe32(p);
    const auto h = SameMpegStream(firstWord, word) ? ParseMpegFrameHeader(word) : std::nullopt;
    if (h && offset + h->frameBytes <= w.size()) {
      const uint8_t* frame = w.At(offset, h->frameBytes);
      if (frame && IsInfoFrame(frame, h->frameBytes, scan.first)) {
        offset += h->frameBytes;  // no audio, no time
        scan.lastFrameEnd = offset;
        continue;
      }
      if (resynced || scan.audioFrames % stride == 0) {
        scan.index.push_back({offset, scan.audioFrames});
      }
      resynced = false;
      ++scan.audioFrames;
      scan.audioBytes += h->frameBytes;
      offset += h->frameBytes;
      scan.lastFrameEnd = offset;
      continue;
    }
    if (h) break;  // the last frame is cut short
    // Lost sync: look for the next run of frames of the same stream.
    const auto next = FindRun(w, offset + 1, w.size(), minRun, firstWord);
    if (!next) break;
    offset = *next;
    resynced = true;
  }
  if (scan.audioFrames == 0) scan.found = false;
  return scan;
}

}  // namespace orvex
