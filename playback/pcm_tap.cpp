#include "playback/pcm_tap.h"

#include <algorithm>

namespace orvex {

void PcmTap::SetCaps(GstCaps* caps) {
  valid_ = caps && gst_audio_info_from_caps(&info_, caps);
}

void PcmTap::Feed(GstBuffer* buffer, uint64_t seekGeneration, bool firstAfterSeek,
                  const PcmObserver& observer) {
  if (!valid_) return;
  const GstAudioInfo& ai = info_;
  const int channels = GST_AUDIO_INFO_CHANNELS(&ai);
  const int bpf = GST_AUDIO_INFO_BPF(&ai);
  if (channels <= 0 || bpf <= 0) return;
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return;
  const size_t frames = map.size / static_cast<size_t>(bpf);
  const size_t count = frames * static_cast<size_t>(channels);
  scratch_.resize(count);
  bool known = true;
  switch (GST_AUDIO_INFO_FORMAT(&ai)) {
    case GST_AUDIO_FORMAT_S16: {
      const auto* s = reinterpret_cast<const int16_t*>(map.data);
      for (size_t i = 0; i < count; ++i) scratch_[i] = s[i] / 32768.0f;
      break;
    }
    case GST_AUDIO_FORMAT_S32: {
      const auto* s = reinterpret_cast<const int32_t*>(map.data);
      for (size_t i = 0; i < count; ++i) scratch_[i] = static_cast<float>(s[i] / 2147483648.0);
      break;
    }
    case GST_AUDIO_FORMAT_F32: {
      const auto* s = reinterpret_cast<const float*>(map.data);
      std::copy(s, s + count, scratch_.begin());
      break;
    }
    default:
      known = false;
      break;
  }
  gst_buffer_unmap(buffer, &map);
  if (!known) return;
  PcmBlock block;
  block.ptsNs = GST_BUFFER_PTS_IS_VALID(buffer) ? static_cast<int64_t>(GST_BUFFER_PTS(buffer)) : -1;
  block.sampleRate = GST_AUDIO_INFO_RATE(&ai);
  block.channels = channels;
  block.samples = scratch_.data();
  block.frames = frames;
  block.seekGeneration = seekGeneration;
  block.firstAfterSeek = firstAfterSeek;
  observer(block);
}

}  // namespace orvex
