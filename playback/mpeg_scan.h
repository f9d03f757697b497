#pragma once
// A scan of the frame headers of an MPEG audio file (Layer I, II or III; MPEG-1,
// MPEG-2 and MPEG-2.5), in plain C++. It tells whether a file is an MPEG audio
// stream at all, finds where its frames start behind any ID3v2 tags, counts its
// frames for the exact length (a VBR file without a Xing/Info header has no
// other way to know it), and keeps an index of frame offsets for exact seeks.
//
// What counts as audio: a run of frames of one stream (random bytes seldom hold
// even two headers that chain), or a shorter chain that covers the data to its
// end, down to a single frame; frames separated by a little junk count when
// most of the data is frames. A free-format frame (bit rate index 0) is as
// long as the distance to the next header of its stream. Searches for frames,
// at the start and after the audio, give up once 2 MiB pass without one, so a
// huge file is scanned in milliseconds whatever follows its audio.
//
// The length follows the MPEG audio parser of the player's pipeline: with a
// LAME tag, the encoder delay and padding plus the 529-sample decoder delay
// are cut away (gapless playback); without one, every frame counts.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

// Random access to the bytes of a file or of a buffer.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Copies up to n bytes from offset into out; returns how many were copied
  // (fewer only at the end of the data or on a read error).
  virtual size_t Read(uint64_t offset, uint8_t* out, size_t n) = 0;
};

// A byte source over memory the caller keeps alive.
class MemoryByteSource : public ByteSource {
 public:
  MemoryByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit MemoryByteSource(const std::vector<uint8_t>& bytes)
      : data_(bytes.data()), size_(bytes.size()) {}
  uint64_t Size() const override { return size_; }
  size_t Read(uint64_t offset, uint8_t* out, size_t n) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

// A byte source over a file; Open fails on a missing, unreadable or
// non-regular file. It opens without blocking (a FIFO, a device or a socket
// named like an MP3 fails at once) and checks the kind before reading.
class FileByteSource : public ByteSource {
 public:
  FileByteSource() = default;
  ~FileByteSource() override;
  FileByteSource(const FileByteSource&) = delete;
  FileByteSource& operator=(const FileByteSource&) = delete;

  bool Open(const std::string& path);
  uint64_t Size() const override { return size_; }
  size_t Read(uint64_t offset, uint8_t* out, size_t n) override;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

// One decoded MPEG audio frame header.
struct MpegFrameHeader {
  int version = 0;  // 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5
  int layer = 0;    // 1..3
  int bitrateKbps = 0;
  int sampleRate = 0;
  int channels = 0;
  int samplesPerFrame = 0;
  uint32_t frameBytes = 0;
};

// Decodes the four header bytes of a frame (big-endian); none when the sync,
// version, layer, bit rate or sample rate is invalid. A free-format frame (bit
// rate index 0) cannot tell its length itself: it is decoded only when
// freeSlotBytes, the length of its stream's frames without the padding, is
// given (the bit rate is then derived from it).
std::optional<MpegFrameHeader> ParseMpegFrameHeader(uint32_t word, uint32_t freeSlotBytes = 0);

// True when two headers belong to one stream: the same version, layer,
// protection, sample rate and private bit (what may change from frame to frame
// is the bit rate, the padding, the channel mode and the flags).
bool SameMpegStream(uint32_t a, uint32_t b);

// The total size (header, body, footer) of the ID3v2 tag at the start of
// data; 0 when data does not start with a tag header. A header whose size is
// not synchsafe, or whose tag would run past fileBytesLeft, counts as a bare
// 10-byte header: the search for frames then starts right behind it.
uint64_t Id3v2TagSize(const uint8_t* data, size_t n, uint64_t fileBytesLeft);

struct MpegIndexPoint {
  uint64_t offset = 0;  // byte offset of the frame in the file
  uint64_t frame = 0;   // its number among the audio frames, from 0
};

struct MpegScan {
  bool found = false;             // a run of valid frames was found
  uint64_t firstFrameOffset = 0;  // the first frame (the Xing/Info frame if any)
  MpegFrameHeader first;          // header of the first frame
  bool hasInfoFrame = false;      // a Xing or Info frame leads the stream
  uint32_t infoFrames = 0;        // its frame count (0 when absent)
  bool hasLameTag = false;        // gapless information present
  uint32_t encoderDelay = 0;
  uint32_t encoderPadding = 0;
  uint32_t freeSlotBytes = 0;         // free format: the frame length without padding
  uint64_t audioFrames = 0;           // frames found, without the Xing/Info frame
  uint64_t audioBytes = 0;            // their bytes
  uint64_t lastAudioFrame = 0;        // byte offset of the last audio frame
  uint64_t lastFrameEnd = 0;          // byte offset behind the last frame found
  uint64_t junkGaps = 0;              // places where a little junk parts two frames
  std::vector<MpegIndexPoint> index;  // every indexStride-th audio frame, and
                                      // the first behind every gap

  // The number of samples the pipeline plays (gapless when a LAME tag says so).
  uint64_t PlayedSamples() const;
  // That many samples in nanoseconds, truncated.
  int64_t LengthNs() const;
  // The start of audio frame n on the parser's own clock, in nanoseconds
  // (frames are stamped with a whole-nanosecond frame duration).
  int64_t FrameTimeNs(uint64_t n) const;
};

struct MpegScanOptions {
  // A stream must start with this many consecutive frames of one stream
  // (fewer only when the frames run to the end of the data).
  int minRun = 4;
  // How far behind the tags the first frame is looked for, and how far behind
  // a frame the next one is looked for after junk.
  uint64_t maxSyncSearch = 2 * 1024 * 1024;
  // The most junk between two frames that is skipped even when the frame
  // behind it does not start a run; such gaps count only when most of the
  // data behind the tags is frames.
  uint32_t maxJunkBytes = 256;
  // One index point every this many audio frames.
  uint32_t indexStride = 8;
};

// Scans the source; found is false when the data holds no MPEG audio stream
// (no run of frames behind the tags, or an MPEG system or video stream).
MpegScan ScanMpegAudio(ByteSource& source, const MpegScanOptions& options = {});

}  // namespace orvex
