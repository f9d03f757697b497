# Sourced by scripts/run and scripts/test: installs the Debian packages the
# build, the program and the tests need, skipping apt when all are present.
orvex_install_packages() {
  local wanted=("$@") missing=()
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" ||
      return 1
  fi
  # With the test packages come the locales the tests run under.
  for p in "${wanted[@]}"; do
    [ "$p" = locales ] || continue
    for l in "${ORVEX_TEST_LOCALES[@]}"; do orvex_ensure_locale "$l" || return 1; done
  done
  return 0
}

# Generates a locale such as zh_CN.UTF-8 when `locale -a` does not list it:
# enabled in /etc/locale.gen (so later runs of locale-gen keep it) and built
# with locale-gen, or built with localedef where there is no locale.gen.
orvex_ensure_locale() {
  local name=$1
  local language=${name%%.*} charset=${name#*.}
  local short
  # grep reads all of its input (no -q), so pipefail sees no broken pipe.
  short="$language.$(printf '%s' "$charset" | tr -d '-' | tr '[:upper:]' '[:lower:]')"
  locale -a 2>/dev/null | grep -x -e "$name" -e "$short" >/dev/null && return 0
  echo "Generating the locale $name"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  if [ -f /etc/locale.gen ] && command -v locale-gen >/dev/null; then
    if grep -qx "# *$name $charset" /etc/locale.gen; then
      $sudo sed -i "s/^# *$name $charset\$/$name $charset/" /etc/locale.gen
    elif ! grep -qx "$name $charset" /etc/locale.gen; then
      echo "$name $charset" | $sudo tee -a /etc/locale.gen >/dev/null
    fi
    $sudo locale-gen >/dev/null
  else
    $sudo localedef -i "$language" -f "$charset" "$name"
  fi
  locale -a 2>/dev/null | grep -x -e "$name" -e "$short" >/dev/null ||
    { echo "The locale $name could not be generated" >&2; return 1; }
}

ORVEX_BUILD_PACKAGES=(build-essential ccache cmake pkgconf libgtest-dev libbenchmark-dev qt6-base-dev
  qt6-svg-dev libqt6svg6 libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libcurl4-openssl-dev
  libaubio-dev)
# The fuzz targets (fuzz/): clang and its libFuzzer runtime.
ORVEX_FUZZ_PACKAGES=(clang libclang-rt-dev)
# gstreamer1.0-libav: avdec_aac. The other AAC decoder, faad, drops its first
# frame itself, and with the MP4 edit list's priming cut as well the first
# 1024 samples of the recording were lost.
ORVEX_RUN_PACKAGES=(gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-libav mp3val fonts-wqy-microhei qt6-translations-l10n qt6-qpa-plugins)
# cpack -G DEB: dpkg-shlibdeps for the Depends, file to find the programs.
ORVEX_PACKAGE_PACKAGES=(dpkg-dev file)
# ffmpeg makes the lessons of every format and decodes them as the reference.
ORVEX_TEST_PACKAGES=(pulseaudio pulseaudio-utils lame sox locales gstreamer1.0-tools xvfb ffmpeg
  playerctl dbus-daemon dbus-bin espeak-ng "${ORVEX_PACKAGE_PACKAGES[@]}" lintian appstream
  desktop-file-utils)
# The window is laid out under these locales as well as C; the Chinese one is
# the locale of the program's users.
ORVEX_TEST_LOCALES=(zh_CN.UTF-8)
