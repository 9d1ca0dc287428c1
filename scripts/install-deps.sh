#!/usr/bin/env bash
# Installs (only what is missing of) the packages needed to build, run and test.
set -euo pipefail
PKGS=(build-essential cmake ninja-build pkg-config
      qtbase5-dev qtbase5-dev-tools libqt5opengl5-dev libqt5svg5-dev
      portaudio19-dev libasound2-dev libjack-jackd2-dev libportmidi-dev librubberband-dev libsndfile1-dev
      libflac++-dev libspeexdsp-dev libfftw3-dev
      libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
      libbenchmark-dev
      xvfb xauth libgl1-mesa-dri ffmpeg libasound2-plugins imagemagick aubio-tools soundstretch jackd2
      fluidsynth fluid-soundfont-gm clang libclang-rt-14-dev ccache
      libarchive-dev hydrogen sox bpm-tools
      xdotool dpkg-dev fakeroot lintian desktop-file-utils appstream libxml2-utils shared-mime-info groff-base man-db
      poppler-utils)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
