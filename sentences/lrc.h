#pragma once
// LRC transcripts: the sentences and their texts from a "lesson.lrc" beside
// "lesson.mp3".
//
// What a line may hold:
//  - one or more time tags in front of its text: [mm:ss], [mm:ss.x],
//    [mm:ss.xx], [mm:ss.xxx] (also [mm:ss:xx]); minutes may run past 59;
//  - [offset:+ms] / [offset:-ms] anywhere in the file: a positive offset
//    makes every line come that much earlier (the last offset tag counts);
//  - other tags of the form [name:value] ([ti:], [ar:], [al:], [by:], ...):
//    ignored, like lines without tags;
//  - word times <mm:ss.xx> inside the text: removed from the text.
// A line whose leading tags do not parse (an unclosed bracket, a time such as
// [0a:12], seconds of 60 or more) is skipped and counted; the rest go on.
//
// Each time starts a line that runs to the next time in the file (the last
// to the file's length). Lines with the same time are one sentence, their
// texts joined with " / " (transcripts often give a translation that way). A
// time whose text is empty starts no sentence but still ends the one before:
// it marks the gap between two lines.
//
// Encodings: UTF-8 with or without a byte order mark; UTF-16 with a byte
// order mark; anything else that is not valid UTF-8 is read as GB18030. The
// texts come out in UTF-8. A file larger than kMaxLrcBytes, one holding NUL
// bytes (after UTF-16 decoding), one that decodes in neither encoding, or one
// in which control characters are more than a twentieth of the characters is
// refused: no sentences, and a reason.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/sentence.h"

namespace orvex {

constexpr size_t kMaxLrcBytes = 1 << 20;

enum class LrcRefusal {
  kNone,
  kTooLarge,     // more than kMaxLrcBytes
  kBinary,       // NUL bytes, or mostly control characters
  kUndecodable,  // neither UTF-8, UTF-16 with a mark, nor GB18030
  kUnreadable,   // (reading a file) not a regular file, or a read error
};

struct LrcResult {
  std::vector<Sentence> sentences;  // sorted by start, none empty
  int skippedLines = 0;             // broken lines that were skipped
  LrcRefusal refusal = LrcRefusal::kNone;
  std::string reason;  // why it was refused, in English for the log

  bool Refused() const { return refusal != LrcRefusal::kNone; }
};

// The file's bytes as UTF-8 text without a byte order mark; refusal says why
// when it gives nothing.
std::string DecodeLrcText(std::string_view bytes, LrcRefusal& refusal);

// The sentences of an LRC file's bytes. lengthMs is the length of the file it
// belongs to: lines starting at or after it are dropped and the last line ends
// there. A lengthMs of 0 or less means the length is not known: nothing is
// dropped and the last line runs to INT32_MAX (the caller cuts it).
LrcResult ParseLrc(std::string_view bytes, int32_t lengthMs);

// The LRC file beside mediaPath: the same name with the extension ".lrc" in
// the same folder, the extension in any case (an exact ".lrc" first). Empty
// when there is none. Only names are compared; nothing is opened.
std::string FindLrcBeside(const std::string& mediaPath);

struct LrcBeside {
  std::string path;  // the LRC file; empty when there is none
  LrcResult lrc;     // its sentences, or why it was refused
};

// Finds and reads the LRC file beside mediaPath: opened without blocking, read
// only when it is a regular file, at most kMaxLrcBytes + 1 bytes.
LrcBeside ReadLrcBeside(const std::string& mediaPath, int32_t lengthMs);

}  // namespace orvex
