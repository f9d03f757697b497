#!/usr/bin/env bash
# Makes the lessons of every format the second front end opens, at test time
# (no media is committed), from one source recording whose every position can
# be told apart: noise (so any 100 ms window of it is found again in a decoding
# to the sample) shaped into bursts by tones, 7.5 s, 44.1 kHz stereo.
#
#   make_formats.sh <folder>
#
# Good lessons: source.wav (the recording itself), aac.m4a, vorbis.ogg,
# opus.opus, opus.ogg, opus.webm, flac.flac, pcm.wav, video.mp4 (a picture and
# AAC), video.mkv (a picture and Vorbis), adts.aac (raw AAC), id3_adts.aac (the
# same behind an ID3v2 tag), mp3_in.wav, mp3_in.ts, mp3_in.mp4, mp3_in.mkv (MP3
# in other containers).
# Bad ones: truncated.m4a (its index, written last, is cut away),
# no_audio.ogg (a picture only), video_only.mp4, mp3_named.m4a (an MP3),
# empty.m4a (0 bytes), id3_ffff.flac (an ID3v2 header of impossible size).
# Needs: sox, ffmpeg, lame.
set -euo pipefail

out=${1:?usage: make_formats.sh folder}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# Noise at -12 dBFS under a tone whose pitch climbs, loudness swelling every
# 0.6 s: no stretch repeats, and no stretch is silent.
sox -n -r 44100 -b 16 -c 2 "$work/noise.wav" synth 7.5 whitenoise vol 0.25
sox -n -r 44100 -b 16 -c 2 "$work/tone.wav" synth 7.5 sine 220-1760 vol 0.3
sox -m "$work/noise.wav" "$work/tone.wav" "$work/mix.wav"
sox "$work/mix.wav" "$out/source.wav" tremolo 1.6667 60

src="$out/source.wav"
ff -i "$src" -c:a aac -b:a 128k "$out/aac.m4a"
ff -i "$src" -c:a libvorbis -q:a 5 "$out/vorbis.ogg"
ff -i "$src" -c:a libopus -b:a 96k "$out/opus.opus"
ff -i "$src" -c:a libopus -b:a 96k -f ogg "$out/opus.ogg"
ff -i "$src" -c:a libopus -b:a 96k "$out/opus.webm"
ff -i "$src" -c:a flac "$out/flac.flac"
# Without the encoder's gapless header, which this player does not read
# (an MP3 is heard with its encoder delay, as before) and ffmpeg would.
ff -i "$src" -c:a libmp3lame -b:a 128k -write_xing 0 "$out/mp3.mp3"
ff -i "$src" -c:a pcm_s16le "$out/pcm.wav"
ff -f lavfi -i testsrc=size=160x120:rate=25:duration=7.5 -i "$src" -map 0:v -map 1:a \
  -c:v mpeg4 -c:a aac -b:a 128k "$out/video.mp4"
ff -f lavfi -i testsrc=size=160x120:rate=25:duration=7.5 -i "$src" -map 0:v -map 1:a \
  -c:v mpeg4 -c:a libvorbis -q:a 5 "$out/video.mkv"
# MP3 sound in other containers: an MPEG transport stream, an MP4 and a
# Matroska file, and a RIFF WAVE whose data chunk has an odd size, so that its
# pad byte ends the file (the first frame count from the whole recording's down
# that gives one).
for ext in ts mp4 mkv; do ff -i "$src" -c:a libmp3lame -b:a 160k "$out/mp3_in.$ext"; done
for frames in $(seq 290 -1 280); do
  ff -i "$src" -c:a libmp3lame -b:a 160k -frames:a "$frames" "$out/mp3_in.wav"
  at=$(grep -obUa data "$out/mp3_in.wav" | head -1 | cut -d: -f1)
  (($(od -An -tu4 -j $((at + 4)) -N4 "$out/mp3_in.wav") % 2)) && break
done

# Lessons whose tags carry an LRC's text as their lyrics: a Vorbis comment
# LYRICS, an MP4 ©lyr atom, and an MP3's ID3v2.3 USLT frame (written here by
# hand: ffmpeg writes a TXXX frame instead).
lyrics=$'[00:01.00]First line.\n[00:03.00]Second line.'
ff -i "$src" -t 4 -c:a libvorbis -metadata LYRICS="$lyrics" "$out/lyrics.ogg"
ff -i "$src" -t 4 -c:a aac -metadata lyrics="$lyrics" "$out/lyrics.m4a"
ff -i "$src" -t 4 -c:a libmp3lame -write_xing 0 -id3v2_version 0 -f mp3 "$work/plain.mp3"
be32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 >> 24 & 255)) $(($1 >> 16 & 255)) $(($1 >> 8 & 255)) $(($1 & 255)); }
synchsafe() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 >> 21 & 127)) $(($1 >> 14 & 127)) $(($1 >> 7 & 127)) $(($1 & 127)); }
body_size=$((1 + 3 + 1 + ${#lyrics}))
{
  printf "ID3\x03\x00\x00"
  printf "$(synchsafe $((10 + body_size)))"
  printf "USLT"
  printf "$(be32 $body_size)"
  printf "\x00\x00\x00eng\x00"
  printf "%s" "$lyrics"
  cat "$work/plain.mp3"
} >"$out/lyrics.mp3"

# Bad lessons.
size=$(stat -c %s "$out/aac.m4a")
head -c $((size / 2)) "$out/aac.m4a" >"$out/truncated.m4a"
ff -f lavfi -i testsrc=size=160x120:rate=25:duration=2 -c:v libtheora "$out/no_audio.ogg"
ff -f lavfi -i testsrc=size=160x120:rate=25:duration=2 -c:v mpeg4 "$out/video_only.mp4"
lame --quiet -b 128 "$src" "$out/mp3_named.m4a"
: >"$out/empty.m4a"
# FLAC behind an ID3v2 header whose size reads FF FF FF FF.
{ printf 'ID3\004\000\000\377\377\377\377'; cat "$out/flac.flac"; } >"$out/id3_ffff.flac"
# Raw AAC in ADTS frames, bare and behind a 30-byte ID3v2 tag.
ff -i "$src" -c:a aac -b:a 128k "$out/adts.aac"
{ printf 'ID3\004\000\000\000\000\000\024'; head -c 20 /dev/zero; cat "$out/adts.aac"; } \
  >"$out/id3_adts.aac"
