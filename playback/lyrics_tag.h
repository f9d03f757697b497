#pragma once
// The lyrics a lesson carries in its own tags: an ID3v2 USLT frame of an MP3,
// a Vorbis comment LYRICS, an MP4 ©lyr atom. Often they are an LRC's text
// with its times; what they mean is for the transcript's reader to say.

#include <gst/gst.h>

#include <string>

namespace orvex {

// The lyrics of a tag list; empty without.
std::string LyricsOfTags(const GstTagList* tags);

// The lyrics in the ID3v2 tag at the start of an MP3 file, read by
// GStreamer's own ID3v2 reader; empty without a tag, without lyrics, or when
// the tag is larger than a lyric ever needs.
std::string Id3v2Lyrics(const std::string& path);

}  // namespace orvex
