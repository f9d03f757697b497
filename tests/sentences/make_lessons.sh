#!/usr/bin/env bash
# Makes spoken lessons whose every sentence boundary is known, at test time
# (no audio is committed): espeak-ng speaks known English sentences, sox joins
# them with pauses of known length (300-900 ms) and lays a noise floor under
# them, lame encodes the result.
#
#   make_lessons.sh <folder>                  the test lessons (below)
#   make_lessons.sh --long <minutes> <folder> long.mp3 of about that length
#
# For each lesson <name>.mp3 there is <name>.truth: one line per sentence,
# "<first sound ms>\t<last sound ms>\t<text>", the span of the sentence's sound
# in the file (the speech of each sentence is cut at -50 dBFS before joining).
# Lessons:
#   plain  one voice, speech peaks at -3 dBFS, digital silence in the pauses
#   hiss   the same speech at -6 dBFS over white noise at -50 dBFS (RMS)
#   quiet  a second voice, peaks at -30 dBFS over noise at -75 dBFS
#   loud   the second voice at -1 dBFS over noise at -42 dBFS, stereo
#   silence, hiss_only  5 s of digital silence, and of noise alone (no truth)
#   ten_minutes  both voices in turn for 10 minutes, 64 kb/s mono
# With --long, long.mp3 is the same at 128 kb/s stereo.
# LRC transcripts of the hiss lesson, each beside its own copy of it:
#   lrc/lesson.lrc         UTF-8 with a byte order mark, [mm:ss.xx] times
#   lrc_offset/lesson.LRC  [offset:+500], every time 500 ms later, [mm:ss.xxx]
#   lrc_gb/lesson.lrc      GB18030, Chinese texts
# and for each, lesson.expected: "<start ms>\t<text>" per line, in UTF-8.
# Needs: espeak-ng, sox, lame, iconv, awk.
set -euo pipefail

rate=44100
long_minutes=0
if [ "${1:-}" = "--long" ]; then
  long_minutes=$2
  shift 2
fi
out=${1:?usage: make_lessons.sh [--long minutes] folder}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

voice_a=(en-us 150)
sentences_a=(
  "Good morning everyone and welcome to the lesson."
  "Today we will practise ordering food in a restaurant."
  "Could I see the menu please?"
  "I would like a cup of tea."
  "The soup of the day is tomato."
  "How much does the fish cost?"
  "We are ready to order now."
  "Please bring us some water."
  "The bill comes to twenty dollars."
  "Thank you and have a nice evening."
)
voice_b=(en-gb+f3 165)
sentences_b=(
  "My brother lives in a small town by the sea."
  "He works at the post office every weekday."
  "On Saturdays he goes fishing with his friends."
  "The boat leaves the harbour at six o'clock."
  "They usually come back before lunch."
  "Sometimes the weather changes very quickly."
  "Last summer they caught a huge fish."
  "Everybody in the town talked about it."
  "Now the picture hangs in the village hall."
  "I hope to visit him again next year."
)
chinese=(
  "大家早上好，欢迎来上课。" "今天我们练习在餐馆点菜。" "请给我看看菜单好吗？" "我想要一杯茶。"
  "今天的例汤是番茄汤。" "这条鱼多少钱？" "我们现在可以点菜了。" "请给我们拿点水。"
  "一共二十美元。" "谢谢，祝你们晚上愉快。"
)
pauses_ms=(300 650 420 900 380 760 520 310 840 450 700 330)

silence() {  # silence <samples> <file>
  sox -r $rate -b 16 -c 1 -n "$2" trim 0 "$1s"
}

# track <name> <voice> <speed> <sentence>...: $work/<name>.wav and .truth
# (sound spans in samples), sentences parted by the pauses above.
track() {
  local name=$1 voice=$2 speed=$3
  shift 3
  local parts=() pos=$rate i=0 n
  silence $rate "$work/$name.lead.wav"
  parts+=("$work/$name.lead.wav")
  : >"$work/$name.truth"
  for text in "$@"; do
    espeak-ng -v "$voice" -s "$speed" -w "$work/$name.raw$i.wav" "$text"
    # Cut the synthesiser's own silence at both ends (-50 dBFS).
    sox "$work/$name.raw$i.wav" -r $rate -b 16 -c 1 "$work/$name.s$i.wav" \
      silence 1 0.002 0.3% reverse silence 1 0.002 0.3% reverse
    n=$(soxi -s "$work/$name.s$i.wav")
    printf '%d\t%d\t%s\n' "$pos" "$((pos + n))" "$text" >>"$work/$name.truth"
    parts+=("$work/$name.s$i.wav")
    pos=$((pos + n))
    if [ $((i + 1)) -lt $# ]; then
      local p=$((pauses_ms[i % ${#pauses_ms[@]}] * rate / 1000))
      silence $p "$work/$name.p$i.wav"
      parts+=("$work/$name.p$i.wav")
      pos=$((pos + p))
    fi
    i=$((i + 1))
  done
  silence $((rate * 6 / 5)) "$work/$name.tail.wav"
  parts+=("$work/$name.tail.wav")
  sox "${parts[@]}" "$work/$name.wav"
}

# The truth in milliseconds (the span rounded outwards).
truth_ms() {
  awk -F'\t' -v r=$rate '{ printf "%d\t%d\t%s\n", int($1 * 1000 / r), int(($2 * 1000 + r - 1) / r), $3 }' "$1"
}

# lesson <name> <track> <peak dBFS> <noise dBFS RMS or none> <lame options...>
lesson() {
  local name=$1 src=$2 peak=$3 noise=$4
  shift 4
  sox "$work/$src.wav" "$work/$name.speech.wav" norm "$peak"
  if [ "$noise" = none ]; then
    cp "$work/$name.speech.wav" "$work/$name.mix.wav"
  else
    # Uniform white noise of amplitude a has an RMS of a / sqrt(3).
    local amp
    amp=$(awk -v db="$noise" 'BEGIN { printf "%.6f", sqrt(3) * 10 ^ (db / 20) }')
    sox -n -r $rate -b 16 -c "$(soxi -c "$work/$src.wav")" "$work/$name.noise.wav" \
      synth "$(soxi -D "$work/$src.wav")" whitenoise vol "$amp"
    sox -m -v 1 "$work/$name.speech.wav" -v 1 "$work/$name.noise.wav" "$work/$name.mix.wav"
  fi
  lame --quiet --noreplaygain "$@" "$work/$name.mix.wav" "$out/$name.mp3"
  truth_ms "$work/$src.truth" >"$out/$name.truth"
}

lrc_time() {  # lrc_time <ms> <fraction digits>
  local ms=$1
  if [ "$2" = 3 ]; then
    printf '%02d:%02d.%03d' $((ms / 60000)) $((ms / 1000 % 60)) $((ms % 1000))
  else
    printf '%02d:%02d.%02d' $((ms / 60000)) $((ms / 1000 % 60)) $((ms % 1000 / 10))
  fi
}

# LRC files of a lesson: each line 100 ms before its first sound, to 10 ms.
lrc_files() {
  local name=$1 i=0 start ms text
  mkdir -p "$out/lrc" "$out/lrc_offset" "$out/lrc_gb"
  cp "$out/$name.mp3" "$out/lrc/lesson.mp3"
  cp "$out/$name.mp3" "$out/lrc_offset/lesson.mp3"
  cp "$out/$name.mp3" "$out/lrc_gb/lesson.mp3"
  printf '\xef\xbb\xbf[ti:At the restaurant]\n[ar:OrvexPlayer tests]\n[by:make_lessons.sh]\n\n' >"$out/lrc/lesson.lrc"
  printf '[ti:At the restaurant]\n[offset:+500]\n' >"$out/lrc_offset/lesson.LRC"
  printf '[ti:在餐馆]\n[la:zh]\n' >"$work/gb.lrc"
  : >"$out/lrc/lesson.expected"
  : >"$out/lrc_gb/lesson.expected"
  while IFS=$'\t' read -r start _ text; do
    ms=$(((start - 100) / 10 * 10))
    printf '[%s]%s\n' "$(lrc_time $ms 2)" "$text" >>"$out/lrc/lesson.lrc"
    printf '[%s] %s\n' "$(lrc_time $((ms + 500)) 3)" "$text" >>"$out/lrc_offset/lesson.LRC"
    printf '[%s]%s\n' "$(lrc_time $ms 2)" "${chinese[$i]}" >>"$work/gb.lrc"
    printf '%d\t%s\n' $ms "$text" >>"$out/lrc/lesson.expected"
    printf '%d\t%s\n' $ms "${chinese[$i]}" >>"$out/lrc_gb/lesson.expected"
    i=$((i + 1))
  done <"$out/$name.truth"
  cp "$out/lrc/lesson.expected" "$out/lrc_offset/lesson.expected"
  iconv -f UTF-8 -t GB18030 "$work/gb.lrc" >"$out/lrc_gb/lesson.lrc"
}

track a "${voice_a[@]}" "${sentences_a[@]}"
track b "${voice_b[@]}" "${sentences_b[@]}"

# long_lesson <minutes> <name> <channels> <lame options...>: both tracks in turn, repeated
# to about that length, over a noise floor at -55 dBFS; the truth repeats
# with each round.
long_lesson() {
  local minutes=$1 name=$2 channels=$3
  shift 3
  sox "$work/a.wav" "$work/b.wav" "$work/ab.wav"
  local round a_len rounds amp
  round=$(soxi -s "$work/ab.wav")
  a_len=$(soxi -s "$work/a.wav")
  rounds=$(((minutes * 60 * rate + round - 1) / round))
  sox "$work/ab.wav" "$work/$name.wav" repeat $((rounds - 1)) norm -6
  amp=$(awk 'BEGIN { printf "%.6f", sqrt(3) * 10 ^ (-55 / 20) }')
  sox -r $rate -b 16 -c 1 -n "$work/$name.noise.wav" synth "$(soxi -D "$work/$name.wav")" whitenoise vol "$amp"
  sox -m -v 1 "$work/$name.wav" -v 1 "$work/$name.noise.wav" -c "$channels" -t wav - |
    lame --quiet --noreplaygain "$@" - "$out/$name.mp3"
  rm -f "$work/$name.wav" "$work/$name.noise.wav"
  for ((k = 0; k < rounds; k++)); do
    awk -F'\t' -v off=$((k * round)) '{ printf "%d\t%d\t%s\n", $1 + off, $2 + off, $3 }' "$work/a.truth"
    awk -F'\t' -v off=$((k * round + a_len)) '{ printf "%d\t%d\t%s\n", $1 + off, $2 + off, $3 }' "$work/b.truth"
  done >"$work/$name.truth"
  truth_ms "$work/$name.truth" >"$out/$name.truth"
}

if [ "$long_minutes" -gt 0 ]; then
  long_lesson "$long_minutes" long 2 -b 128 -m j
  exit 0
fi

lesson plain a -3 none -b 64 -m m
lesson hiss a -6 -50 -V 4 -m m
# The same lesson as AAC in MP4, as course downloads come; without noise
# substitution, whose noise a decoder draws afresh after every seek, so that
# what is heard is the same samples wherever playback started.
ffmpeg -nostdin -hide_banner -loglevel error -y -i "$work/hiss.mix.wav" -c:a aac -aac_pns 0 \
  -b:a 96k "$out/hiss.m4a"
lesson quiet b -30 -75 -b 48 -m m
long_lesson 10 ten_minutes 1 -b 64 -m m
sox "$work/b.wav" "$work/b2.wav" remix 1 1
mv "$work/b2.wav" "$work/b.wav"
lesson loud b -1 -42 -b 128 -m j
lrc_files hiss
sox -r $rate -b 16 -c 1 -n "$work/silence.wav" trim 0 5
lame --quiet --noreplaygain -b 64 "$work/silence.wav" "$out/silence.mp3"
sox -r $rate -b 16 -c 1 -n "$work/hiss_only.wav" synth 5 whitenoise vol 0.006
lame --quiet --noreplaygain -b 64 "$work/hiss_only.wav" "$out/hiss_only.mp3"
