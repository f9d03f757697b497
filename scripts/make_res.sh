#!/usr/bin/env bash
# Makes the two sound files that lie beside the program and are committed in res/:
#   res/eg.mp3     the sample recording: a short spoken dialogue, one sentence at a time
#                  with a pause after each, so that A-B repeat of one sentence is easy;
#   res/chord.wav  the warning sound played when something other than an MP3 file is dropped.
# Needs espeak-ng, sox and lame. Run from anywhere; the files are rewritten in place, and
# with the same tools the same bytes come out (no dither).
# The title must stay equal to kSampleTitle in res/sample.h (the menu shows it).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
out="$root/res"
title="Everyday English 1"

for tool in espeak-ng sox lame; do
  command -v "$tool" >/dev/null || { echo "make_res.sh: $tool is missing" >&2; exit 1; }
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Two speakers take turns; the second is a female variant of the same voice.
voices=(en-us en-us+f3)
sentences=(
  "Excuse me. Is this seat free?"
  "Yes, it is. Please sit down."
  "Thank you. What a lovely day it is!"
  "It is. I come to this park every morning."
  "How long does it take you to get here?"
  "About ten minutes on foot."
  "That sounds nice. Well, have a good day."
  "You too. See you tomorrow!"
)

rate=44100
pause=1.2    # seconds of silence after each sentence
lead_in=0.5  # seconds of silence before the first

parts=()
sox -D -n -r "$rate" -c 1 -b 16 "$work/lead.wav" trim 0 "$lead_in"
parts+=("$work/lead.wav")
for i in "${!sentences[@]}"; do
  voice="${voices[$((i % 2))]}"
  espeak-ng -v "$voice" -s 145 -g 2 -w "$work/raw$i.wav" "${sentences[$i]}"
  # Resample, cut the synthesiser's own leading and trailing silence, then add the pause.
  sox -D "$work/raw$i.wav" -r "$rate" -c 1 -b 16 "$work/s$i.wav" \
    silence 1 0.01 0.1% reverse silence 1 0.01 0.1% reverse pad 0 "$pause"
  parts+=("$work/s$i.wav")
done
sox -D "${parts[@]}" "$work/all.wav" norm -1

lame --quiet --cbr -b 64 -m m --resample 44.1 \
  --id3v2-only --id3v2-latin1 --tt "$title" --ta "OrvexPlayer" --tl "OrvexPlayer samples" --ty 2024 \
  "$work/all.wav" "$out/eg.mp3"

# A major triad (C E G, plus the octave) struck like a plucked string, fading out.
sox -D -n -r 22050 -c 4 -b 16 "$work/chord4.wav" \
  synth 0.9 pluck C4 pluck E4 pluck G4 pluck C5
sox -D "$work/chord4.wav" "$out/chord.wav" remix - fade q 0.005 0.9 0.35 norm -3

# sox on Debian reads no MP3: decode with lame to measure the length.
lame --quiet --decode "$out/eg.mp3" "$work/check.wav"
echo "eg.mp3:    $(stat -c %s "$out/eg.mp3") bytes, $(soxi -D "$work/check.wav") s"
echo "chord.wav: $(stat -c %s "$out/chord.wav") bytes, $(soxi -D "$out/chord.wav") s"
