# Sourced by scripts/run and scripts/test: installs the Debian packages the
# build, the program and the tests need, skipping apt when all are present.
orvex_install_packages() {
  local wanted=("$@") missing=()
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

ORVEX_BUILD_PACKAGES=(build-essential cmake pkgconf libgtest-dev libbenchmark-dev qt6-base-dev
  qt6-svg-dev libqt6svg6 libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev)
ORVEX_RUN_PACKAGES=(gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  mp3val fonts-wqy-microhei qt6-translations-l10n qt6-qpa-plugins)
# cpack -G DEB: dpkg-shlibdeps for the Depends, file to find the programs.
ORVEX_PACKAGE_PACKAGES=(dpkg-dev file)
ORVEX_TEST_PACKAGES=(pulseaudio pulseaudio-utils lame sox locales gstreamer1.0-tools
  "${ORVEX_PACKAGE_PACKAGES[@]}" lintian appstream desktop-file-utils)
