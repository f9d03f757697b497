#include "playback/decode_front.h"

#include <gst/audio/gstaudiodecoder.h>
#include <gst/base/gstbaseparse.h>
#include <gst/tag/gsttagdemux.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

#include "playback/error_text.h"
#include "playback/gst_graph.h"
#include "playback/lyrics_tag.h"

namespace orvex {

namespace {

constexpr char kStateKey[] = "orvex-decode-front";

// Segment seeks that end at a stop are sent on this much further, and the
// segment that answers them is cut back to the stop on its way out: qtdemux
// ends a segment by its buffers' times before the edit list's shift (up to an
// AAC frame early), matroskademux an Opus segment up to a frame early.
constexpr int64_t kStopLeadOutNs = 100 * GST_MSECOND;

// How far a packet's stamp may lie from the samples counted before it and
// still be taken as joined to them.
constexpr int64_t kStampJitterNs = 5 * GST_MSECOND;

// GStreamer 1.22's wavparse, pulling a WAV file's chunks itself, fails on two
// kinds of file. A data chunk of more bytes than this it clips to this many,
// then walks the sound behind as chunks (seconds over silence) and ends the
// stream there, before a sample. Behind a data chunk of an odd size whose pad
// byte ends the file (an MP3 in a WAV), it reads a chunk header past the end
// and gives up. Either file is pushed to it through a queue instead: it then
// reads nothing behind the data chunk's header. The large one is read to the
// end of the file ("ignore-length"; it counts the pushed data no further than
// this either) and ends where its header says. (wavparse's seeks in pull mode
// overflow with ignore-length.)
constexpr uint64_t kWavParseDataLimit = 0x7FFFFFFF;
constexpr uint64_t kRiffChunkHeader = 8;
// Where a WAV format chunk's block align lies in its body.
constexpr uint64_t kBlockAlignField = 12;

// parsebin's autoplug-select answers (GstAutoplugSelectResult is not in a
// public header).
constexpr int kAutoplugTry = 0;
constexpr int kAutoplugSkip = 2;

// What the front end's callbacks share; owned by the bin, so it lives as
// long as the elements whose threads call them.
struct FrontState {
  GstElement* bin = nullptr;
  GstElement* convert = nullptr;
  LessonProbe probe;
  // The audio track taken: its pad waits for its caps, or is linked.
  std::atomic<bool> audioTaken{false};
  std::atomic<bool> audioLinked{false};
  std::mutex mutex;
  std::string decoder;  // the chosen decoder's factory name
  std::string seen;     // the caps of the tracks that were not audio, for the log
  std::string lyrics;   // the first lyrics tag
  // Raw AAC: its frames, counted and indexed (found is false otherwise), and
  // how far the tag demuxer shifts byte offsets.
  AdtsScan adts;
  uint64_t adtsShift = 0;
  // The end of the audio track in stream time, from the first time segment
  // that ends (-1 until one does).
  std::atomic<int64_t> trackEndNs{-1};
  // The end the file states for the track: a Matroska DURATION tag, the
  // header of a WAV file too large for wavparse's own count, or the MPEG
  // frames of a WAV file (whose time wavparse does not know).
  std::atomic<int64_t> statedEndNs{-1};
  // That WAV file: wavparse reads it to the file's end, and every segment is
  // cut at the end of its sound (a chunk may follow), where its length is known.
  bool wavToEnd = false;
  int64_t wavEndNs = -1;
  // A WAV file of MPEG audio: where its block align lies in the file (0 for none).
  uint64_t blockAlignAt = 0;
  GstBaseParse* adtsParser = nullptr;  // set once, on the streaming thread that adds it
  // The stream time of the first decoded sample (-1 until it passes).
  std::atomic<int64_t> firstSampleNs{-1};
  GstSegment segment;  // the last segment out (streaming thread)
  // The stops asked by the seeks sent on further, by their numbers.
  std::mutex stopMutex;
  std::vector<std::pair<uint32_t, int64_t>> askedStops;
};

// Upstream at the front end's output: a segment seek with a stop goes on past it.
GstPadProbeReturn OnFrontSeek(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* state = static_cast<FrontState*>(data);
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (!event || GST_EVENT_TYPE(event) != GST_EVENT_SEEK) return GST_PAD_PROBE_OK;
  gdouble rate;
  GstFormat format;
  GstSeekFlags flags;
  GstSeekType startType, stopType;
  gint64 start, stop;
  gst_event_parse_seek(event, &rate, &format, &flags, &startType, &start, &stopType, &stop);
  if (format != GST_FORMAT_TIME || !(flags & GST_SEEK_FLAG_SEGMENT) || rate <= 0 ||
      stopType != GST_SEEK_TYPE_SET || stop < 0) {
    return GST_PAD_PROBE_OK;
  }
  const uint32_t seqnum = gst_event_get_seqnum(event);
  {
    std::lock_guard lock(state->stopMutex);
    if (state->askedStops.size() >= 16) state->askedStops.erase(state->askedStops.begin());
    state->askedStops.emplace_back(seqnum, stop);
  }
  GstEvent* further = gst_event_new_seek(rate, format, flags, startType, start, stopType,
                                         stop + kStopLeadOutNs);
  gst_event_set_seqnum(further, seqnum);
  gst_event_unref(event);
  GST_PAD_PROBE_INFO_DATA(info) = further;
  return GST_PAD_PROBE_OK;
}

// The stop a seek sent on further asked for, by the segment's number; -1 for none.
int64_t AskedStop(FrontState* state, uint32_t seqnum) {
  std::lock_guard lock(state->stopMutex);
  for (const auto& [number, stop] : state->askedStops) {
    if (number == seqnum) return stop;
  }
  return -1;
}

// The first data at the ADTS parser: it is started, and its seek index gets
// the exact offset of every few frames (as the MP3 parser's does), so that
// accurate seeks start from the right frame.
GstPadProbeReturn OnAdtsParserInput(GstPad*, GstPadProbeInfo*, gpointer data) {
  auto* state = static_cast<FrontState*>(data);
  for (const AdtsScan::Point& point : state->adts.index) {
    gst_base_parse_add_index_entry(state->adtsParser, point.offset - state->adtsShift,
                                   state->adts.SampleTimeNs(point.sample), TRUE, TRUE);
  }
  return GST_PAD_PROBE_REMOVE;
}

// The bytes of a WAV file holding MPEG audio on their way to wavparse. Its
// format's block align, which ffmpeg writes as the samples of a frame (1152),
// wavparse takes for bytes: it hands on the data in whole blocks of that many
// and drops the frames behind the last whole block. The data is a stream of
// bytes: wavparse is told 1.
GstPadProbeReturn OnWavBytes(GstPad*, GstPadProbeInfo* info, gpointer data) {
  const uint64_t at = static_cast<FrontState*>(data)->blockAlignAt;
  GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  if (!buffer || !GST_BUFFER_OFFSET_IS_VALID(buffer)) return GST_PAD_PROBE_OK;
  const uint64_t from = GST_BUFFER_OFFSET(buffer);
  if (at < from || at + 2 > from + gst_buffer_get_size(buffer)) return GST_PAD_PROBE_OK;
  buffer = gst_buffer_make_writable(buffer);
  static constexpr uint8_t kOne[2] = {1, 0};
  gst_buffer_fill(buffer, at - from, kOne, sizeof kOne);
  GST_PAD_PROBE_INFO_DATA(info) = buffer;
  return GST_PAD_PROBE_OK;
}

// The bytes of a part of a file, as a file of their own.
class ByteWindow : public ByteSource {
 public:
  ByteWindow(ByteSource& source, uint64_t offset, uint64_t size)
      : source_(source), offset_(offset), size_(size) {}
  uint64_t Size() const override { return size_; }
  size_t Read(uint64_t offset, uint8_t* out, size_t n) override {
    if (offset >= size_) return 0;
    return source_.Read(offset_ + offset, out,
                        static_cast<size_t>(std::min<uint64_t>(n, size_ - offset)));
  }

 private:
  ByteSource& source_;
  uint64_t offset_, size_;
};

void OnElementAdded(GstBin*, GstBin*, GstElement* element, gpointer data) {
  auto* state = static_cast<FrontState*>(data);
  GstElementFactory* factory = gst_element_get_factory(element);
  if (state->wavToEnd && factory && g_strcmp0(GST_OBJECT_NAME(factory), "wavparse") == 0) {
    g_object_set(element, "ignore-length", TRUE, nullptr);
    return;
  }
  if (!state->adts.found || !factory || !GST_IS_BASE_PARSE(element) ||
      g_strcmp0(GST_OBJECT_NAME(factory), "aacparse") != 0 || state->adtsParser) {
    return;
  }
  state->adtsParser = GST_BASE_PARSE(element);
  GstPadPtr in = FindPin(element, GST_PAD_SINK, 0);
  if (in) gst_pad_add_probe(in.get(), GST_PAD_PROBE_TYPE_BUFFER, OnAdtsParserInput, state, nullptr);
}

// The length of raw AAC is the frames' count, not the parser's guess.
GstPadProbeReturn OnFrontQuery(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* state = static_cast<FrontState*>(data);
  GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
  if (!state->adts.found || GST_QUERY_TYPE(query) != GST_QUERY_DURATION) return GST_PAD_PROBE_OK;
  GstFormat format;
  gst_query_parse_duration(query, &format, nullptr);
  if (format != GST_FORMAT_TIME) return GST_PAD_PROBE_OK;
  gst_query_set_duration(query, GST_FORMAT_TIME, state->adts.LengthNs());
  return GST_PAD_PROBE_HANDLED;
}

GstPadProbeReturn OnFrontOutput(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* state = static_cast<FrontState*>(data);
  if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (state->firstSampleNs < 0 && state->segment.format == GST_FORMAT_TIME &&
        GST_BUFFER_PTS_IS_VALID(buffer)) {
      const guint64 at =
          gst_segment_to_stream_time(&state->segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
      if (GST_CLOCK_TIME_IS_VALID(at)) state->firstSampleNs = static_cast<int64_t>(at);
    }
    return GST_PAD_PROBE_OK;
  }
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (event && GST_EVENT_TYPE(event) == GST_EVENT_TAG) {
    GstTagList* tags = nullptr;
    gst_event_parse_tag(event, &tags);
    if (std::string lyrics = LyricsOfTags(tags); !lyrics.empty()) {
      std::lock_guard lock(state->mutex);
      if (state->lyrics.empty()) state->lyrics = std::move(lyrics);
    }
    // A Matroska track's own length, where its muxer wrote one.
    const gchar* comment = nullptr;
    for (guint i = 0; gst_tag_list_peek_string_index(tags, GST_TAG_EXTENDED_COMMENT, i, &comment);
         ++i) {
      if (g_str_has_prefix(comment, "DURATION=")) {
        const int64_t ns = ParseTrackDuration(comment + 9);
        if (ns > 0) state->statedEndNs = ns;
      }
    }
    return GST_PAD_PROBE_OK;
  }
  if (!event || GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT) return GST_PAD_PROBE_OK;
  const GstSegment* segment = nullptr;
  gst_event_parse_segment(event, &segment);
  gst_segment_copy_into(segment, &state->segment);
  const uint32_t seqnum = gst_event_get_seqnum(event);
  const int64_t asked = AskedStop(state, seqnum);
  // Cut back to the stop asked, or to the end of a WAV file's sound: the
  // sink plays no further.
  const int64_t cutAt =
      asked >= 0 && (state->wavEndNs < 0 || asked < state->wavEndNs) ? asked : state->wavEndNs;
  if (cutAt >= 0 && segment->format == GST_FORMAT_TIME) {
    const guint64 stop = gst_segment_position_from_stream_time(&state->segment, GST_FORMAT_TIME,
                                                               static_cast<guint64>(cutAt));
    if (GST_CLOCK_TIME_IS_VALID(stop) &&
        (!GST_CLOCK_TIME_IS_VALID(state->segment.stop) || stop < state->segment.stop)) {
      state->segment.stop = stop;
      GstEvent* cut = gst_event_new_segment(&state->segment);
      gst_event_set_seqnum(cut, seqnum);
      gst_event_unref(event);
      GST_PAD_PROBE_INFO_DATA(info) = cut;
    }
  }
  if (asked >= 0) return GST_PAD_PROBE_OK;
  if (state->trackEndNs >= 0) return GST_PAD_PROBE_OK;
  // The segment as it went out (the event may have been replaced).
  const GstSegment* out = &state->segment;
  if (out->format == GST_FORMAT_TIME && GST_CLOCK_TIME_IS_VALID(out->stop)) {
    const guint64 end = gst_segment_to_stream_time(out, GST_FORMAT_TIME, out->stop);
    if (GST_CLOCK_TIME_IS_VALID(end)) state->trackEndNs = static_cast<int64_t>(end);
  }
  return GST_PAD_PROBE_OK;
}

FrontState* StateOf(GstElement* bin) {
  return bin ? static_cast<FrontState*>(g_object_get_data(G_OBJECT(bin), kStateKey)) : nullptr;
}

std::string CapsName(GstCaps* caps) {
  if (!caps || gst_caps_get_size(caps) == 0) return {};
  return gst_structure_get_name(gst_caps_get_structure(caps, 0));
}

bool IsMpegAudio1(GstCaps* caps) {
  if (CapsName(caps) != "audio/mpeg") return false;
  int version = 0;
  return gst_structure_get_int(gst_caps_get_structure(caps, 0), "mpegversion", &version) &&
         version == 1;
}

// Whether the pad carries the file's own bytes (typefind's, or a tag
// demuxer's behind a tag) rather than a track of a container.
bool IsWholeFile(GstPad* pad) {
  GstObject* parent = gst_pad_get_parent(pad);
  bool whole = true;
  if (parent && GST_IS_ELEMENT(parent) && !GST_IS_TAG_DEMUX(parent)) {
    GstElementFactory* factory = gst_element_get_factory(GST_ELEMENT(parent));
    whole = factory && g_strcmp0(GST_OBJECT_NAME(factory), "typefind") == 0;
  }
  if (parent) gst_object_unref(parent);
  return whole;
}

int OnAutoplugSelect(GstElement*, GstPad* pad, GstCaps* caps, GstElementFactory* factory,
                     gpointer data) {
  auto* state = static_cast<FrontState*>(data);
  const std::string name = GST_OBJECT_NAME(factory);
  // GStreamer 1.22's ID3 demuxer aborts the process on some tag sizes: only a
  // leading tag the probe found sound, with no MP3 behind it, goes there.
  if (name == "id3demux" && !(state->probe.leadingId3 && state->probe.id3Sound)) {
    return kAutoplugSkip;
  }
  // Bytes the frame scan refused are not MP3, whatever typefind guesses
  // (random bytes pass its test and play as noise). A track that a
  // container's demuxer took out may be MP3 whatever the probe knows of the
  // container (AVI, FLV).
  if (state->probe.content == LessonContent::kUnknown && IsMpegAudio1(caps) && IsWholeFile(pad)) {
    return kAutoplugSkip;
  }
  return kAutoplugTry;
}

// The decoder of highest rank for the caps, added to the bin; null when none
// is installed.
GstElement* AddDecoderFor(GstElement* bin, GstCaps* caps) {
  GList* all = gst_element_factory_list_get_elements(
      GST_ELEMENT_FACTORY_TYPE_DECODER | GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO, GST_RANK_MARGINAL);
  GList* fit = gst_element_factory_list_filter(all, caps, GST_PAD_SINK, FALSE);
  fit = g_list_sort(fit, gst_plugin_feature_rank_compare_func);
  GstElement* decoder = nullptr;
  for (GList* l = fit; l && !decoder; l = l->next) {
    decoder = gst_element_factory_create(GST_ELEMENT_FACTORY(l->data), "decoder");
    if (decoder && !gst_bin_add(GST_BIN(bin), decoder)) decoder = nullptr;
  }
  // Matroska stamps each packet in whole milliseconds. A decoder that took
  // every stamp as it came would lay its buffers up to half a millisecond
  // apart or over each other, and the sink would play the first one after a
  // seek apart from the rest; counted samples keep them joined.
  if (decoder && GST_IS_AUDIO_DECODER(decoder)) {
    g_object_set(decoder, "tolerance", static_cast<gint64>(kStampJitterNs), nullptr);
  }
  gst_plugin_feature_list_free(fit);
  gst_plugin_feature_list_free(all);
  return decoder;
}

// A buffer on a track that is not audio: parsebin has exposed every track
// of the file by then (it exposes them all before any data leaves it). It
// emits no no-more-pads of its own.
GstPadProbeReturn OnOtherTrackData(GstPad*, GstPadProbeInfo*, gpointer data) {
  auto* state = static_cast<FrontState*>(data);
  if (state->audioTaken) return GST_PAD_PROBE_REMOVE;
  std::string seen;
  {
    std::lock_guard lock(state->mutex);
    seen = state->seen;
  }
  GST_ELEMENT_ERROR(state->bin, STREAM, WRONG_TYPE,
                    ("No audio track in the file (it holds %s)", seen.c_str()), (nullptr));
  return GST_PAD_PROBE_REMOVE;
}

// Links the audio track's pad to the decoder the registry ranks highest for
// its caps (to audioconvert when it is raw already).
void LinkAudioTrack(FrontState* state, GstPad* pad, GstCaps* caps) {
  const std::string name = CapsName(caps);
  GstElement* decoder = nullptr;
  GstPadPtr target;
  if (name == "audio/x-raw") {
    target = FindPin(state->convert, GST_PAD_SINK, 0);
  } else {
    decoder = AddDecoderFor(state->bin, caps);
    if (decoder) {
      target = FindPin(decoder, GST_PAD_SINK, 0);
      if (!gst_element_link(decoder, state->convert)) target.reset();
      gst_element_sync_state_with_parent(decoder);
    }
  }
  if (!target) {
    GST_ELEMENT_ERROR(state->bin, STREAM, CODEC_NOT_FOUND,
                      ("No decoder for the audio track (%s)", name.c_str()), (nullptr));
  } else if (gst_pad_link(pad, target.get()) != GST_PAD_LINK_OK) {
    GST_ELEMENT_ERROR(state->bin, CORE, NEGOTIATION,
                      ("The audio track (%s) does not fit its decoder", name.c_str()), (nullptr));
  } else {
    {
      std::lock_guard lock(state->mutex);
      state->decoder = decoder ? GST_OBJECT_NAME(gst_element_get_factory(decoder)) : "";
    }
    state->audioLinked = true;
  }
}

// The first caps on an audio track that came without fixed ones (a parser's
// output, exposed before its first frame: MPEG audio of any layer, say): the
// decoder is chosen by them. The event itself is held back; it follows the
// stream start to the decoder once the first data goes out.
GstPadProbeReturn OnAudioTrackCaps(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
  auto* state = static_cast<FrontState*>(data);
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (event && GST_EVENT_TYPE(event) == GST_EVENT_EOS) {
    GST_ELEMENT_ERROR(state->bin, STREAM, DECODE, ("The audio track holds no frame"), (nullptr));
    return GST_PAD_PROBE_REMOVE;
  }
  if (!event || GST_EVENT_TYPE(event) != GST_EVENT_CAPS) return GST_PAD_PROBE_OK;
  GstCaps* caps = nullptr;
  gst_event_parse_caps(event, &caps);
  LinkAudioTrack(state, pad, caps);
  gst_pad_remove_probe(pad, GST_PAD_PROBE_INFO_ID(info));
  return GST_PAD_PROBE_DROP;
}

void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
  auto* state = static_cast<FrontState*>(data);
  GstCaps* caps = gst_pad_get_current_caps(pad);
  const bool fixed = caps && gst_caps_is_fixed(caps);
  if (!caps) caps = gst_pad_query_caps(pad, nullptr);
  const std::string name = CapsName(caps);
  if (name.rfind("audio/", 0) != 0 || state->audioTaken.exchange(true)) {
    // Pictures, subtitles and any second audio track are left unlinked: the
    // demuxer goes on while one of its tracks is linked.
    {
      std::lock_guard lock(state->mutex);
      if (!state->seen.empty()) state->seen += ", ";
      state->seen += name.empty() ? "?" : name;
    }
    if (!state->audioTaken) {
      gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, OnOtherTrackData, state, nullptr);
    }
  } else if (fixed) {
    LinkAudioTrack(state, pad, caps);
  } else {
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, OnAudioTrackCaps, state, nullptr);
  }
  if (caps) gst_caps_unref(caps);
}

DecodeFront Refuse(DecodeFront front, Result code, const std::string& detail) {
  front.code = code;
  front.text = OwnErrorText(code) + " (" + detail + ")";
  return front;
}

}  // namespace

DecodeFront AddDecodeFront(GstElement* pipeline, const std::string& path) {
  DecodeFront front;
  AdtsScan adts;
  WavLayout wav;
  bool wavToEnd = false, pushWav = false;
  int64_t wavMpegEndNs = -1;
  {
    FileByteSource file;
    if (!file.Open(path)) return Refuse(std::move(front), kErrCannotOpen, path);
    front.probe = ProbeLesson(file);
    if (front.probe.content == LessonContent::kAdts) adts = ScanAdts(file, front.probe.contentOffset);
    if (front.probe.content == LessonContent::kWav) wav = ScanWav(file, front.probe.contentOffset);
    const uint64_t tail = file.Size() - std::min(file.Size(), wav.dataOffset + wav.dataBytes);
    wavToEnd = wav.found && wav.dataBytes > kWavParseDataLimit;
    pushWav = wavToEnd || (wav.found && tail > 0 && tail < kRiffChunkHeader);
    if (wav.HoldsMpegAudio()) {
      // wavparse knows no time of MPEG audio: its frames tell the length.
      ByteWindow sound(file, wav.dataOffset, wav.dataBytes);
      const MpegScan frames = ScanMpegAudio(sound);
      if (frames.found) wavMpegEndNs = frames.FrameTimeNs(frames.audioFrames);
    }
  }
  if (TakesMp3Builders(front.probe.content)) {
    front.isMp3 = true;
    return front;
  }
  if (front.probe.content == LessonContent::kEmpty) {
    return Refuse(std::move(front), kErrCannotOpen, "an empty file");
  }
  if (front.probe.leadingId3 && !front.probe.id3Sound) {
    return Refuse(std::move(front), kErrStream, "an ID3 tag of impossible size");
  }

  GstElement* bin = gst_bin_new("frontEnd");
  std::string missing;
  GstElement* source = AddElement(bin, "filesrc", "source", missing);
  GstElement* queue = pushWav ? AddElement(bin, "queue", "push", missing) : nullptr;
  GstElement* parser = AddElement(bin, "parsebin", "parser", missing);
  GstElement* convert = AddElement(bin, "audioconvert", "frontConvert", missing);
  if (!missing.empty()) {
    gst_object_unref(SinkFloating(bin));
    return Refuse(std::move(front), kErrMissingElement, missing);
  }
  g_object_set(source, "location", path.c_str(), nullptr);
  GstPadPtr convertOut = FindPin(convert, GST_PAD_SRC, 0);
  GstPad* ghost = gst_ghost_pad_new("src", convertOut.get());
  const bool linked = queue ? gst_element_link_many(source, queue, parser, nullptr)
                            : gst_element_link(source, parser);
  if (!linked || !ghost || !gst_element_add_pad(bin, ghost)) {
    gst_object_unref(SinkFloating(bin));
    return Refuse(std::move(front), kErrFail, "filesrc -> parsebin");
  }

  auto* state = new FrontState;
  gst_segment_init(&state->segment, GST_FORMAT_UNDEFINED);
  state->bin = bin;
  state->convert = convert;
  state->probe = front.probe;
  state->adts = std::move(adts);
  if (wavToEnd) {
    state->wavToEnd = true;
    state->wavEndNs = wav.LengthNs();
    state->statedEndNs = state->wavEndNs;
  }
  if (wav.HoldsMpegAudio()) {
    state->blockAlignAt = wav.formatOffset + kBlockAlignField;
    state->statedEndNs = wavMpegEndNs;
    GstPadPtr bytes = FindPin(source, GST_PAD_SRC, 0);
    gst_pad_add_probe(bytes.get(), GST_PAD_PROBE_TYPE_BUFFER, OnWavBytes, state, nullptr);
  }
  // A leading tag goes to the tag demuxer, which passes on what follows it.
  state->adtsShift = front.probe.leadingId3 ? front.probe.contentOffset : 0;
  g_object_set_data_full(G_OBJECT(bin), kStateKey, state,
                         [](gpointer p) { delete static_cast<FrontState*>(p); });
  g_signal_connect(parser, "autoplug-select", G_CALLBACK(OnAutoplugSelect), state);
  g_signal_connect(parser, "pad-added", G_CALLBACK(OnPadAdded), state);
  gst_pad_add_probe(
      convertOut.get(),
      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM | GST_PAD_PROBE_TYPE_BUFFER),
      OnFrontOutput, state, nullptr);
  gst_pad_add_probe(convertOut.get(), GST_PAD_PROBE_TYPE_QUERY_UPSTREAM, OnFrontQuery, state,
                    nullptr);
  gst_pad_add_probe(convertOut.get(), GST_PAD_PROBE_TYPE_EVENT_UPSTREAM, OnFrontSeek, state,
                    nullptr);
  g_signal_connect(bin, "deep-element-added", G_CALLBACK(OnElementAdded), state);

  if (!gst_bin_add(GST_BIN(pipeline), bin)) {
    gst_object_unref(SinkFloating(bin));
    return Refuse(std::move(front), kErrFail, "frontEnd");
  }
  front.ok = true;
  front.bin = bin;
  front.audioSrc.reset(GST_PAD(gst_object_ref(ghost)));
  return front;
}

bool DecodeFrontHasAudio(GstElement* bin) {
  const FrontState* state = StateOf(bin);
  return state && state->audioLinked;
}

int64_t DecodeFrontTrackEndNs(GstElement* bin) {
  const FrontState* state = StateOf(bin);
  if (!state) return -1;
  const int64_t bySegment = state->trackEndNs, byTag = state->statedEndNs;
  if (bySegment < 0 || byTag < 0) return std::max(bySegment, byTag);
  return std::min(bySegment, byTag);
}

int64_t DecodeFrontFirstSampleNs(GstElement* bin) {
  const FrontState* state = StateOf(bin);
  return state ? state->firstSampleNs.load() : -1;
}

int64_t DecodeFrontLengthNs(GstElement* bin, int64_t durationNs) {
  // tsdemux answers with the span of the stream it estimates, not its end in
  // stream time (which starts where the first packet is stamped, not at 0).
  const FrontState* state = StateOf(bin);
  if (state && state->probe.content == LessonContent::kMpegTs)
    return std::max<int64_t>(durationNs, 0);
  const int64_t trackEnd = DecodeFrontTrackEndNs(bin);
  const int64_t end =
      trackEnd > 0 && (durationNs <= 0 || trackEnd < durationNs) ? trackEnd : durationNs;
  const int64_t origin = std::max<int64_t>(DecodeFrontFirstSampleNs(bin), 0);
  return std::max<int64_t>(end - origin, 0);
}

std::string DecodeFrontLyrics(GstElement* bin) {
  FrontState* state = StateOf(bin);
  if (!state) return {};
  std::lock_guard lock(state->mutex);
  return state->lyrics;
}

std::string DecodeFrontDecoder(GstElement* bin) {
  FrontState* state = StateOf(bin);
  if (!state) return {};
  std::lock_guard lock(state->mutex);
  return state->decoder;
}

}  // namespace orvex
