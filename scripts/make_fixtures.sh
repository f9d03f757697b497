#!/usr/bin/env bash
# Makes the small audio files the player tests play (tests/data). The files are
# committed, so the tests need no encoder; run this only to remake them.
# Needs: sox, lame, od.
set -euo pipefail
cd "$(dirname "$0")/.."
out=tests/data
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Sources. Tones at half scale leave the encoder headroom.
sox -n -r 44100 -b 16 -c 2 "$work/tones.wav" synth 3 sine 440 sine 1000 gain -6
sox -n -r 44100 -b 16 -c 2 "$work/short.wav" synth 0.5 sine 440 sine 1000 gain -6
sox -n -r 44100 -b 16 -c 1 "$work/mono.wav" synth 2 sine 440 gain -6
# Material whose bit rate varies a lot: a tone, noise, silence, a sweep.
sox -n -r 44100 -b 16 -c 2 "$work/a.wav" synth 1 sine 440 gain -6
sox -n -r 44100 -b 16 -c 2 "$work/b.wav" synth 1 pinknoise gain -9
sox -n -r 44100 -b 16 -c 2 "$work/c.wav" trim 0 1
sox -n -r 44100 -b 16 -c 2 "$work/d.wav" synth 1 sine 200-4000 gain -6
sox "$work/a.wav" "$work/b.wav" "$work/c.wav" "$work/d.wav" "$work/varied.wav"
# Noise never repeats itself, so any 10 ms of what is heard can be found in
# the file (-R: the same noise every time).
sox -R -n -r 44100 -b 16 -c 2 "$work/noise.wav" synth 6 pinknoise gain -9

enc() { lame --quiet --noreplaygain "$@"; }

# CBR 128 kb/s, 44.1 kHz stereo: 440 Hz on the left, 1000 Hz on the right.
enc -b 128 --cbr "$work/tones.wav" "$out/cbr_stereo.mp3"
# A short file for playing out to the end.
enc -b 128 --cbr "$work/short.wav" "$out/short.mp3"
# VBR with a Xing/Info header, and the same without one (-t).
enc -V2 "$work/varied.wav" "$out/vbr.mp3"
enc -V2 -t "$work/varied.wav" "$out/vbr_noheader.mp3"
# MPEG-2 Layer III at 22.05 kHz.
enc -b 64 --resample 22.05 "$work/tones.wav" "$out/mpeg2_22k.mp3"
# Mono.
enc -m m -b 64 "$work/mono.wav" "$out/mono.mp3"
# Six seconds of stereo noise for finding what is heard in the file, at the
# null sink's rate (lame would take 64 kb/s down to 24 kHz).
enc -b 64 --cbr --resample 44.1 "$work/noise.wav" "$out/noise.mp3"

# A tag of about 200 KB in front of the audio: an ID3v2.3 tag holding one APIC
# frame with a 200 KB picture (its bytes are noise, which also tests that the
# tag is skipped and not searched for frames).
u32be() { printf "\\x$(printf %02x $((($1 >> 24) & 255)))\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))\\x$(printf %02x $(($1 & 255)))"; }
synchsafe() { printf "\\x$(printf %02x $((($1 >> 21) & 127)))\\x$(printf %02x $((($1 >> 14) & 127)))\\x$(printf %02x $((($1 >> 7) & 127)))\\x$(printf %02x $(($1 & 127)))"; }
picture=204800
{
  printf '\x00image/jpeg\x00\x03cover\x00'
  printf '\xff\xd8\xff\xe0'
  head -c $((picture - 4)) /dev/urandom
} >"$work/apic"
apic_size=$(stat -c %s "$work/apic")
{
  printf 'APIC'
  u32be "$apic_size"
  printf '\x00\x00'
  cat "$work/apic"
} >"$work/frames"
{
  printf 'ID3\x03\x00\x00'
  synchsafe "$(stat -c %s "$work/frames")"
  cat "$work/frames"
  cat "$out/mono.mp3"
} >"$out/big_id3.mp3"

# An ID3v2 header whose size field reads FF FF FF FF, then plain audio.
{
  printf 'ID3\x03\x00\x00\xff\xff\xff\xff'
  cat "$out/mono.mp3"
} >"$out/id3_ffff.mp3"

# An MPEG-1 program stream carrying the tones as MPEG-1 Layer III (named .mp3,
# as such files come): one pack and one PES packet per frame, the system clock
# equal to each frame's presentation time. (mpegpsmux leaves the first
# presentation time out of the packs the demuxer scans, so it would start
# 0.7 s in.)
byte() { printf "\\x$(printf %02x $(($1 & 255)))"; }
stamp() {  # a 33-bit time stamp behind the 4-bit prefix 0010, with its markers
  byte $(((2 << 4) | ((($1 >> 30) & 7) << 1) | 1))
  byte $(($1 >> 22))
  byte $(((($1 >> 15) & 127) << 1 | 1))
  byte $(($1 >> 7))
  byte $(((($1 & 127) << 1) | 1))
}
ps_mux() {  # bare MPEG-1 Layer III frames at 44.1 kHz -> program stream
  local in=$1 out=$2 size off=0 k=0 h b2 len ts
  local brs=(0 32 40 48 56 64 80 96 112 128 160 192 224 256 320)
  size=$(stat -c %s "$in")
  : >"$out"
  while [ $((off + 4)) -le "$size" ]; do
    h=$(od -An -tx1 -j "$off" -N 4 "$in" | tr -d ' \n')
    b2=$((16#${h:4:2}))
    len=$((144 * ${brs[$((b2 >> 4))]} * 1000 / 44100 + ((b2 >> 1) & 1)))
    ts=$((k * 1152 * 90000 / 44100))
    {
      printf '\x00\x00\x01\xba'
      stamp "$ts"
      printf '\x80\x03\x41'  # mux rate 400 x 50 bytes/s
      printf '\x00\x00\x01\xc0'
      byte $(((len + 5) >> 8))
      byte $((len + 5))
      stamp "$ts"
      dd if="$in" iflag=skip_bytes,count_bytes skip="$off" count="$len" status=none
    } >>"$out"
    off=$((off + len))
    k=$((k + 1))
  done
  printf '\x00\x00\x01\xb9' >>"$out"
}
enc -b 128 --cbr -t "$work/tones.wav" "$work/bare.mp3"
ps_mux "$work/bare.mp3" "$out/program_stream.mp3"

# The CBR file cut in the middle of a frame.
head -c 30000 "$out/cbr_stereo.mp3" >"$out/truncated.mp3"
# Random bytes named .mp3, and an empty file.
head -c 32768 /dev/urandom >"$out/random.mp3"
: >"$out/empty.mp3"

ls -l "$out"
du -ch "$out"/* | tail -n 1
