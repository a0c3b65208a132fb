#!/usr/bin/env bash
# Builds the Debian package with CPack, checks its contents and dependencies, installs it with
# dpkg -i, renders through GIMP from the installed location (and in German, with the installed
# catalogue), then removes the package again. Exits non-zero when anything fails.
# Needs root, and changes the system while it runs: the plug-in is installed for all users for
# those seconds, so do not run it next to other GIMP tests.
#   bash scripts/check-package.sh       # build folder: build-package (ORVEX_PACKAGE_BUILD_DIR to change)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORVEX_PACKAGE_BUILD_DIR:-$root/build-package}
jobs=${ORVEX_JOBS:-2}
package=gimp-plugin-orvex

fail() { echo "check-package: FAILED: $*" >&2; exit 1; }
installed() { [[ $(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true) == "install ok installed" ]]; }

[[ $(id -u) -eq 0 ]] || fail "run as root: the package is installed with dpkg -i"
! installed || fail "$package is installed already; remove it first: dpkg -r $package"

bash "$root/scripts/install-deps.sh"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVEX_SYSTEM_INSTALL=ON \
  -DORVEX_BUILD_TESTS=ON -DORVEX_BUILD_BENCHMARKS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
# Only what the package and the check need (cpack builds nothing itself with the skip above).
cmake --build "$build" -j "$jobs" \
  --target orvex orvex_gegl_op orvex-catalogues orvex-render orvex-test
rm -f "$build/${package}"_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build/${package}"_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "cpack made no single ${package}_*.deb"
deb=${debs[0]}

plugin=$(pkg-config --variable=gimplibdir gimp-2.0)/plug-ins/orvex/orvex
locale_dir=$(sed -n 's/^ORVEX_LOCALE_DIR:PATH=//p' "$build/CMakeCache.txt")
[[ -n "$locale_dir" ]] || fail "ORVEX_LOCALE_DIR missing from $build/CMakeCache.txt"
mapfile -t languages < <(grep -v -e '^#' -e '^$' "$root/po/LINGUAS")

gegl_module=$(pkg-config --variable=pluginsdir gegl-0.4)/orvex-rays.so
expected=$({
  echo ".$plugin"
  echo ".$gegl_module"
  for lang in "${languages[@]}"; do echo ".$locale_dir/$lang/LC_MESSAGES/gimp20-orvex.mo"; done
  (cd "$root/data/help" && find . -type f | sed "s|^\.|.$(dirname "$plugin")/help|")
} | sort)
contents=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort)
[[ "$contents" == "$expected" ]] ||
  fail "$deb holds"$'\n'"$contents"$'\n'"expected"$'\n'"$expected"
depends=$(dpkg-deb --field "$deb" Depends)
[[ "$depends" == *"gimp (>= 2.10)"* ]] || fail "Depends lacks gimp (>= 2.10): $depends"
[[ "$depends" == *libgimp2.0* ]] || fail "Depends lacks the shared libraries (libgimp2.0): $depends"
echo "check-package: $(basename "$deb") holds the plug-in, its help pages and ${#languages[@]} catalogues"
echo "check-package: Depends: $depends"

trap 'installed && dpkg --remove "$package" >/dev/null' EXIT
dpkg --install "$deb"
for file in $expected; do
  [[ -f "${file#.}" ]] || fail "${file#.} is missing after dpkg -i"
done
# GEGL finds the installed operation by itself (its --info prints some bytes that are no text).
info=$(env -u GEGL_PATH gegl --info orvex:rays 2>&1 | tr -cd '[:print:]\n')
[[ "$info" == *"gimp:menu-path"*"<Image>/Filters/Vandelkit"* ]] || fail "gegl does not find orvex:rays: $info"

/usr/bin/python3 "$root/tests/e2e/run_area.py" "$root/tests/e2e/package/gimp2.toml" --gimp 2 --installed \
  --plugin "$plugin" --helper "$build/tests/e2e/orvex-test" --renderer "$build/tools/orvex-render" \
  --work-root "$build/e2e-work" || fail "the installed plug-in did not work in GIMP"

dpkg --remove "$package"
! installed || fail "$package is still installed after dpkg -r"
for file in $expected; do
  [[ ! -e "${file#.}" ]] || fail "${file#.} is left behind after dpkg -r"
done
[[ ! -e "$(dirname "$plugin")" ]] || fail "$(dirname "$plugin") is left behind after dpkg -r"
echo "check-package: passed (built, installed, rendered from $plugin, translated, removed)"
