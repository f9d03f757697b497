// The frame scan over any bytes: the whole scan, its figures, and the pieces
// it is made of (the tag size and a single header).

#include <cstdint>
#include <cstdlib>

#include "playback/mpeg_scan.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orvex;
  // Every scan takes a buffer of 1 MiB, so each input is scanned once: one in
  // four with a short run length and index stride, which take other paths.
  MpegScanOptions options;
  if (size % 4 == 3) {
    options.minRun = 1;
    options.indexStride = 1;
    options.maxJunkBytes = 16;
  }
  MemoryByteSource source(data, size);
  const MpegScan scan = ScanMpegAudio(source, options);
  if (scan.found) {
    // Whatever was found lies inside the data, in order.
    Require(scan.firstFrameOffset < size);
    Require(scan.lastFrameEnd <= size);
    Require(scan.audioBytes <= size);
    uint64_t frame = 0, offset = 0;
    for (const MpegIndexPoint& point : scan.index) {
      Require(point.offset < size && point.frame < scan.audioFrames);
      Require(point.frame >= frame && point.offset >= offset);
      frame = point.frame, offset = point.offset;
    }
    Require(scan.LengthNs() >= 0);
    Require(scan.FrameTimeNs(scan.audioFrames) >= 0);
    (void)scan.PlayedSamples();
  }

  // A tag that claims more than there is counts as its bare header.
  const uint64_t tag = Id3v2TagSize(data, size, size);
  Require(tag == 0 || tag == 10 || tag <= size);
  if (size >= 8) {
    const uint32_t word = uint32_t{data[0]} << 24 | uint32_t{data[1]} << 16 |
                          uint32_t{data[2]} << 8 | data[3];
    const uint32_t freeSlot = uint32_t{data[4]} << 8 | data[5];
    if (const auto header = ParseMpegFrameHeader(word, freeSlot)) {
      Require(header->frameBytes >= 4 && header->sampleRate > 0);
    }
    const uint32_t other = uint32_t{data[4]} << 24 | uint32_t{data[5]} << 16 |
                           uint32_t{data[6]} << 8 | data[7];
    Require(SameMpegStream(word, other) == SameMpegStream(other, word));
  }
  return 0;
}
