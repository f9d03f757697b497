#include "playback/mpeg_scan.h"

#include <fcntl.h>
#include <sys/mman.h>
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

// The window's buffer, mapped for the scan alone: from malloc, a freed
// mebibyte stays in the arena of the thread that scanned (the mmap threshold
// grows past it once a block that large was freed), resident for the rest of
// the process, once for each thread that ever scans a lesson.
class ScanBuffer {
 public:
  explicit ScanBuffer(size_t size) : size_(size) {}
  ScanBuffer(const ScanBuffer&) = delete;
  ScanBuffer& operator=(const ScanBuffer&) = delete;
  ~ScanBuffer() {
    if (data_) munmap(data_, size_);
  }
  // Null when no memory could be mapped.
  uint8_t* data() {
    if (!data_) {
      void* p = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p != MAP_FAILED) data_ = static_cast<uint8_t*>(p);
    }
    return data_;
  }

 private:
  size_t size_;
  uint8_t* data_ = nullptr;
};

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
      if (n > kCapacity || !buffer_.data()) return nullptr;
      start_ = offset;
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
  ScanBuffer buffer_{kCapacity};
  uint64_t start_ = 0;
  size_t filled_ = 0;
};

// The fixed fields of a stream (those of its first header) and, for free
// format, the length of its frames without padding.
struct Stream {
  uint32_t word = 0;
  uint32_t freeSlot = 0;
};

// Where a stream starts.
struct Found {
  uint64_t pos = 0;
  Stream stream;
};

// The highest bit rate a free-format frame is taken for: the most the MPEG
// audio parser and decoder of the pipeline accept.
constexpr uint32_t kMaxFreeFormatBps = 640000;
constexpr uint32_t kMinFreeFormatBps = 8000;
constexpr uint64_t kNoOffset = ~uint64_t{0};

bool MaybeSync(const uint8_t* p) {
  return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0;
}

bool IsFreeFormat(uint32_t word) {
  return ((word >> 12) & 0xF) == 0;
}

// The fields of a header that do not depend on the bit rate.
struct Fields {
  int version = 0;
  int layer = 0;
  int lsf = 0;
  uint32_t sampleRate = 0;
  uint32_t padding = 0;  // in bytes
};

std::optional<Fields> ReadFields(uint32_t word) {
  if ((word & 0xFFE00000u) != 0xFFE00000u) return std::nullopt;
  const uint32_t versionBits = (word >> 19) & 3;
  const uint32_t layerBits = (word >> 17) & 3;
  const uint32_t rateIndex = (word >> 10) & 3;
  if (versionBits == 1 || layerBits == 0 || rateIndex == 3) return std::nullopt;
  Fields f;
  f.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 3;
  f.layer = 4 - static_cast<int>(layerBits);
  f.lsf = f.version == 1 ? 0 : 1;
  f.sampleRate = static_cast<uint32_t>(kSampleRates[f.version - 1][rateIndex]);
  f.padding = ((word >> 9) & 1) * (f.layer == 1 ? 4 : 1);
  return f;
}

// The length of a frame at bps bits per second, without padding.
uint32_t SlotBytes(const Fields& f, uint64_t bps) {
  switch (f.layer) {
    case 1:
      return static_cast<uint32_t>(4 * (bps * 12 / f.sampleRate));
    case 2:
      return static_cast<uint32_t>(bps * 144 / f.sampleRate);
    default:
      return static_cast<uint32_t>(bps * 144 / (uint64_t{f.sampleRate} << f.lsf));
  }
}

// The frame whose header is word, when it belongs to the stream (a free-format
// stream has free-format frames only, of its own length).
std::optional<MpegFrameHeader> StreamFrame(uint32_t word, const Stream& s) {
  if (!SameMpegStream(s.word, word) || IsFreeFormat(word) != (s.freeSlot != 0)) {
    return std::nullopt;
  }
  return ParseMpegFrameHeader(word, s.freeSlot);
}

// The length without padding of the free-format frame at pos: the distance to
// the next header of its stream (also free format), or 0 when there is none
// at a distance that makes a bit rate the pipeline decodes.
uint32_t FindFreeSlot(Window& w, uint64_t pos, uint32_t word) {
  const auto f = ReadFields(word);
  if (!f) return 0;
  const uint64_t nearest = SlotBytes(*f, kMinFreeFormatBps) + f->padding;
  const uint64_t farthest = SlotBytes(*f, kMaxFreeFormatBps) + f->padding;
  for (uint64_t d = std::max<uint64_t>(nearest, 4); d <= farthest; ++d) {
    const uint8_t* p = w.At(pos + d, 4);
    if (!p) return 0;
    if (!MaybeSync(p)) continue;
    const uint32_t next = ReadBe32(p);
    if (SameMpegStream(word, next) && IsFreeFormat(next)) {
      return static_cast<uint32_t>(d - f->padding);
    }
  }
  return 0;
}

// The stream whose first frame would be the one at pos, or none.
std::optional<Stream> StreamAt(Window& w, uint64_t pos) {
  const uint8_t* p = w.At(pos, 4);
  if (!p || !MaybeSync(p)) return std::nullopt;
  Stream s{ReadBe32(p), 0};
  if (IsFreeFormat(s.word)) {
    s.freeSlot = FindFreeSlot(w, pos, s.word);
    if (s.freeSlot == 0) return std::nullopt;
  }
  if (!ParseMpegFrameHeader(s.word, s.freeSlot)) return std::nullopt;
  return s;
}

// True when the data ends at offset: exactly, at an ID3v1 tag that closes it,
// or inside a frame of the stream that starts there (a file cut short).
bool EndsAt(Window& w, uint64_t offset, const Stream& s) {
  if (offset == w.size()) return true;
  if (offset + 128 == w.size()) {
    const uint8_t* tag = w.At(offset, 3);
    if (tag && std::memcmp(tag, "TAG", 3) == 0) return true;
  }
  const uint8_t* p = w.At(offset, 4);
  if (!p) return false;
  const auto h = StreamFrame(ReadBe32(p), s);
  return h && offset + h->frameBytes > w.size();
}

// A chain of frames of one stream that follow each other.
struct Chain {
  int frames = 0;
  bool toEnd = false;  // the data ends behind its last frame (see EndsAt)
};

// The frames of the stream that follow each other from offset, up to want.
Chain CountRun(Window& w, uint64_t offset, const Stream& s, int want) {
  Chain chain;
  while (chain.frames < want) {
    const uint8_t* p = w.At(offset, 4);
    if (!p) break;
    const auto h = StreamFrame(ReadBe32(p), s);
    if (!h || offset + h->frameBytes > w.size()) break;
    offset += h->frameBytes;
    ++chain.frames;
    if (EndsAt(w, offset, s)) {
      chain.toEnd = true;
      break;
    }
  }
  return chain;
}

// The first offset in [from, limit) where a run of minRun frames starts (of
// the given stream, else of any). With shortChains, fewer frames do when they
// run to the end of the data: two or more anywhere (random bytes seldom chain
// two headers), a single one only at wholeFrom (it then covers the data).
std::optional<Found> FindRun(Window& w, uint64_t from, uint64_t limit, int minRun,
                             const Stream* within, bool shortChains,
                             uint64_t wholeFrom = kNoOffset) {
  limit = std::min(limit, w.size());
  for (uint64_t pos = from; pos < limit; ++pos) {
    const uint8_t* p = w.At(pos, 4);
    if (!p) return std::nullopt;
    if (!MaybeSync(p)) continue;
    Stream s;
    if (within) {
      if (!StreamFrame(ReadBe32(p), *within)) continue;
      s = *within;
    } else if (const auto candidate = StreamAt(w, pos)) {
      s = *candidate;
    } else {
      continue;
    }
    const Chain chain = CountRun(w, pos, s, minRun);
    if (chain.frames >= minRun) return Found{pos, s};
    if (shortChains && chain.toEnd &&
        (chain.frames >= std::min(2, minRun) || (pos == wholeFrom && chain.frames >= 1))) {
      return Found{pos, s};
    }
  }
  return std::nullopt;
}

// True when the data at p starts with an MPEG start code of a system stream,
// a PES packet or a video sequence: such a file is not an audio stream, even
// though its packets carry audio frames.
bool StartsWithSystemCode(const uint8_t* p) {
  return p[0] == 0 && p[1] == 0 && p[2] == 1 && (p[3] >= 0xB9 || p[3] == 0xB3);
}

// True when a frame of the stream starts within maxJunk bytes from offset, or
// only a little junk is left before the end of the data.
bool FrameFollows(Window& w, uint64_t offset, const Stream& s, uint32_t maxJunk) {
  if (w.size() - offset <= maxJunk) return true;
  for (uint64_t pos = offset; pos <= offset + maxJunk; ++pos) {
    const uint8_t* p = w.At(pos, 4);
    if (!p) return false;
    if (MaybeSync(p) && StreamFrame(ReadBe32(p), s)) return true;
  }
  return false;
}

// Behind the frames that end at offset: at most maxJunk bytes of junk, then a
// frame of the stream that is itself followed by a frame (see FrameFollows).
// Returns that frame's offset. Junk holding an MPEG start code is no junk but
// the packet header of a system stream.
std::optional<uint64_t> FindAfterJunk(Window& w, uint64_t offset, const Stream& s,
                                      uint32_t maxJunk) {
  for (uint64_t pos = offset + 1; pos <= offset + maxJunk; ++pos) {
    const uint8_t* p = w.At(pos - 1, 5);
    if (!p) return std::nullopt;
    if (StartsWithSystemCode(p)) return std::nullopt;
    ++p;
    if (!MaybeSync(p)) continue;
    const auto h = StreamFrame(ReadBe32(p), s);
    if (!h || pos + h->frameBytes > w.size()) continue;
    const uint64_t end = pos + h->frameBytes;
    if (EndsAt(w, end, s) || FrameFollows(w, end, s, maxJunk)) return pos;
  }
  return std::nullopt;
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
  size_ = 0;
  // Never blocks: a FIFO without a writer, or a device, opens at once and is
  // then refused by its kind, before anything reads it.
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
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
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

std::optional<MpegFrameHeader> ParseMpegFrameHeader(uint32_t word, uint32_t freeSlotBytes) {
  const auto f = ReadFields(word);
  const uint32_t bitrateIndex = (word >> 12) & 0xF;
  if (!f || bitrateIndex == 15 || (bitrateIndex == 0 && freeSlotBytes == 0)) return std::nullopt;
  MpegFrameHeader h;
  h.version = f->version;
  h.layer = f->layer;
  h.sampleRate = static_cast<int>(f->sampleRate);
  h.channels = ((word >> 6) & 3) == 3 ? 1 : 2;
  h.samplesPerFrame = h.layer == 1 ? 384 : (h.layer == 3 && f->lsf) ? 576 : 1152;
  if (bitrateIndex == 0) {
    // Free format: the bit rate follows from the length.
    const uint64_t perFrame = h.layer == 1 ? freeSlotBytes / 4 * 32 : uint64_t{freeSlotBytes} * 8;
    h.bitrateKbps = static_cast<int>(
        (perFrame * f->sampleRate / static_cast<uint64_t>(h.samplesPerFrame) + 500) / 1000);
    h.frameBytes = freeSlotBytes + f->padding;
  } else {
    h.bitrateKbps = kBitrates[f->lsf][h.layer - 1][bitrateIndex];
    h.frameBytes = SlotBytes(*f, static_cast<uint64_t>(h.bitrateKbps) * 1000) + f->padding;
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

namespace {

// How lost sync is regained while walking the frames.
struct Resync {
  bool overJunk = false;  // over a little junk, to a frame that another follows
  bool search = false;    // at the next run of frames within the search distance
};

// Walks the frames of the stream from start to the end of its audio.
MpegScan Walk(Window& w, const Found& start, const MpegScanOptions& options, Resync resync) {
  MpegScan scan;
  const int minRun = std::max(1, options.minRun);
  const uint32_t stride = std::max<uint32_t>(1, options.indexStride);
  const Stream& stream = start.stream;
  scan.found = true;
  scan.firstFrameOffset = start.pos;
  scan.freeSlotBytes = stream.freeSlot;
  scan.first = *ParseMpegFrameHeader(stream.word, stream.freeSlot);

  uint64_t offset = start.pos;
  if (const uint8_t* frame = w.At(offset, scan.first.frameBytes)) {
    ReadInfoFrame(frame, scan.first, scan);
  }
  if (scan.hasInfoFrame) offset += scan.first.frameBytes;
  scan.lastFrameEnd = offset;

  bool resynced = false;
  while (true) {
    const uint8_t* p = w.At(offset, 4);
    if (!p) break;
    const auto h = StreamFrame(ReadBe32(p), stream);
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
      scan.lastAudioFrame = offset;
      ++scan.audioFrames;
      scan.audioBytes += h->frameBytes;
      offset += h->frameBytes;
      scan.lastFrameEnd = offset;
      continue;
    }
    if (h) break;  // the last frame is cut short
    // Lost sync: junk, damage, or the end of the audio.
    if (resync.overJunk) {
      if (const auto next = FindAfterJunk(w, offset, stream, options.maxJunkBytes)) {
        offset = *next;
        resynced = true;
        ++scan.junkGaps;
        continue;
      }
    }
    if (!resync.search) break;
    // Searching on to the end of a huge file would take seconds: the search
    // gives up where it does at the start.
    const auto next = FindRun(w, offset + 1, offset + 1 + options.maxSyncSearch, minRun, &stream,
                              /*shortChains=*/true);
    if (!next) break;
    offset = next->pos;
    resynced = true;
  }
  if (scan.audioFrames == 0) scan.found = false;
  return scan;
}

// Gaps of junk between frames count only when most of the data behind the
// tags is frames.
bool MostlyFrames(const MpegScan& scan, uint64_t dataBytes) {
  return scan.audioBytes > dataBytes / 2;
}

// The first offset in [from, limit) where frames separated by junk start: at
// least minRun of them, with junk between some, making up most of the data.
std::optional<Found> FindJunkyStart(Window& w, uint64_t from, uint64_t limit, uint64_t dataBytes,
                                    const MpegScanOptions& options) {
  limit = std::min(limit, w.size());
  const uint64_t minRun = static_cast<uint64_t>(std::max(1, options.minRun));
  for (uint64_t pos = from; pos < limit; ++pos) {
    const uint8_t* p = w.At(pos, 4);
    if (!p) return std::nullopt;
    if (!MaybeSync(p)) continue;
    const auto stream = StreamAt(w, pos);
    if (!stream) continue;
    const Found start{pos, *stream};
    const MpegScan chain = Walk(w, start, options, {/*overJunk=*/true, /*search=*/false});
    if (chain.junkGaps > 0 && chain.audioFrames >= minRun && MostlyFrames(chain, dataBytes)) {
      return start;
    }
    // A later start inside this chain would make a shorter one.
    if (chain.audioFrames > 1) pos = std::max(pos, chain.lastFrameEnd - 1);
  }
  return std::nullopt;
}

}  // namespace

MpegScan ScanMpegAudio(ByteSource& source, const MpegScanOptions& options) {
  Window w(source);
  const int minRun = std::max(1, options.minRun);

  // Tags first: one or more ID3v2 tags may lead the file.
  uint64_t pos = 0;
  while (const uint8_t* p = w.At(pos, 10)) {
    const uint64_t tag = Id3v2TagSize(p, 10, w.size() - pos);
    if (tag == 0) break;
    pos += tag;
  }
  if (const uint8_t* p = w.At(pos, 4); p && StartsWithSystemCode(p)) return {};
  const uint64_t dataBytes = w.size() - std::min(pos, w.size());
  const uint64_t limit = pos + std::min(options.maxSyncSearch, dataBytes);

  // The first run of frames; frames parted by junk from before it on; else
  // a short chain that runs to the end.
  std::optional<Found> start = FindRun(w, pos, limit, minRun, nullptr, /*shortChains=*/false);
  bool junky = false;
  if (auto early = FindJunkyStart(w, pos, start ? start->pos : limit, dataBytes, options)) {
    start = early;
    junky = true;
  }
  if (!start) start = FindRun(w, pos, limit, minRun, nullptr, /*shortChains=*/true, pos);
  if (!start) return {};

  MpegScan scan = Walk(w, *start, options, {/*overJunk=*/true, /*search=*/true});
  if (scan.junkGaps > 0 && !junky && !MostlyFrames(scan, dataBytes)) {
    scan = Walk(w, *start, options, {/*overJunk=*/false, /*search=*/true});
  }
  return scan;
}

}  // namespace orvex
