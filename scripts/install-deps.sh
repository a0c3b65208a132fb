#!/usr/bin/env bash
# Installs every package that building, testing and running Orvex needs on Debian 12.
# Packages already present are skipped; the package lists are refreshed once, and only
# when something is missing. Run as root (or with sudo available).
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake pkg-config g++ gettext
  libgimp2.0-dev libglib2.0-dev libgtk2.0-dev libgdk-pixbuf-2.0-dev libgegl-dev libbabl-dev libx11-dev
  libpng-dev libfftw3-dev
  # the GEGL operation's tests: the gegl command
  gegl
  # unit tests, benchmarks, sanitizers, fuzzing, memory checks
  libgtest-dev googletest libbenchmark-dev time clang libclang-rt-14-dev valgrind
  # end-to-end tests: the real GIMP, headless and under a virtual display
  gimp xvfb xdotool x11-utils imagemagick tesseract-ocr python3 coreutils valgrind
  # the GIMP 3 tests: a Debian 13 root with GIMP 3.0, made with debootstrap, entered with chroot in
  # namespaces of its own (unshare, setpriv, findmnt); everything else is installed inside the root
  debootstrap util-linux mount
  # the Debian package: cpack's DEB generator and its dependency scan (dpkg-shlibdeps)
  dpkg-dev
)

missing=()
for package in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]} == 0)); then
  echo "install-deps: all ${#PACKAGES[@]} packages are installed"
  exit 0
fi

as_root=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "install-deps: run as root to install: ${missing[*]}" >&2; exit 1; }
  as_root=(sudo)
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
