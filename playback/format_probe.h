#pragma once
// What a lesson file holds, told by its first bytes and never by its name: a
// file named .m4a that holds an MP3 goes the MP3 way, an MP3 named anything
// never reaches the second front end (whose tag demuxer must not see one),
// and a container goes there whatever its sound is (MP3 in a WAV, an MPEG
// transport stream, an MP4 or a Matroska file included).
// Plain C++; it reads through a ByteSource.

#include <cstdint>
#include <string_view>
#include <vector>

#include "playback/mpeg_scan.h"

namespace orvex {

enum class LessonContent {
  kEmpty,     // no bytes at all
  kUnknown,   // none of the below; the second front end may still know it
  kMp3,       // MPEG audio frames (behind any ID3v2 tag): the MP3 path
  kMp4,       // ISO/QuickTime file (.m4a, .mp4)
  kOgg,       // Ogg pages (Vorbis, Opus, FLAC)
  kMatroska,  // EBML (.mkv, .webm)
  kFlac,      // native FLAC
  kWav,       // RIFF/RF64 WAVE
  kAdts,      // raw AAC in ADTS frames (.aac)
  kMpegTs,    // MPEG transport stream packets (.ts, .m2ts)
  kMpegPs,    // MPEG program stream: the MP3 path's splitter takes it
};

const char* ContentName(LessonContent content);

// Whether a file of this content goes the MP3 way (its builders and the
// repair): bare MPEG audio, or an MPEG program stream. Every other container
// goes to the decoding front end, whatever its sound.
bool TakesMp3Builders(LessonContent content);

struct LessonProbe {
  LessonContent content = LessonContent::kUnknown;
  // An ID3v2 tag leads the file.
  bool leadingId3 = false;
  // That tag's size is synchsafe and within the file: a tag demuxer can
  // skip it safely (GStreamer 1.22's aborts the process on some others).
  bool id3Sound = false;
  uint64_t contentOffset = 0;  // where the content begins behind the tag
};

// The frames of a raw AAC (ADTS) file, counted for its exact length and
// indexed for exact seeks: the file says neither itself, and the parser
// guesses both from the bit rate (seeks 80 ms off, no length at all).
struct AdtsScan {
  bool found = false;
  int sampleRate = 0;
  uint64_t samples = 0;  // 1024 per raw data block, priming included
  struct Point {
    uint64_t offset = 0;  // of the frame in the file
    uint64_t sample = 0;  // its first sample
  };
  std::vector<Point> index;  // every indexStride-th frame
  int64_t LengthNs() const;
  int64_t SampleTimeNs(uint64_t sample) const;
};

// Walks the ADTS frames from offset to the first thing that is not one (the
// end, a trailing tag); found when there are two or more.
AdtsScan ScanAdts(ByteSource& source, uint64_t offset, uint32_t indexStride = 8);

// Where the sound of a RIFF/RF64 WAVE file lies, and its format, by walking
// its chunks from the file header at offset.
struct WavLayout {
  bool found = false;      // a "fmt " chunk, then a "data" chunk
  uint16_t formatTag = 0;  // of the format chunk (WAVE_FORMAT_EXTENSIBLE: its subformat's)
  int channels = 0;
  int sampleRate = 0;
  int blockAlign = 0;
  uint64_t formatOffset = 0;  // of the format chunk's body in the file
  uint64_t dataOffset = 0;    // of the first sound byte in the file
  // The size the data chunk states (in an RF64 file, its ds64 chunk's), or
  // the rest of the file when it states none or more than there is.
  uint64_t dataBytes = 0;
  // MPEG audio (layer 1, 2 or 3) in the data chunk.
  bool HoldsMpegAudio() const { return found && (formatTag == 0x50 || formatTag == 0x55); }
  // The length of PCM, float or G.711 sound (whole sample frames); -1 for
  // other data, whose length only its decoder knows.
  int64_t LengthNs() const;
};
WavLayout ScanWav(ByteSource& source, uint64_t offset);

// The time of a Matroska track's DURATION tag ("HH:MM:SS.nnnnnnnnn", as
// ffmpeg and mkvmerge write it for each track) in nanoseconds; -1 when the
// text is not one.
int64_t ParseTrackDuration(std::string_view text);

// Looks at the container's signature behind any ID3v2 tag; a file with none
// that the MPEG frame scan takes for audio is MP3.
LessonProbe ProbeLesson(ByteSource& source);

}  // namespace orvex
