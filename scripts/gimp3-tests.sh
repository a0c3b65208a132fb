#!/usr/bin/env bash
# Builds the GIMP 3 plug-in in a Debian 13 root that holds the real GIMP 3.0 (scripts/gimp3-root.sh makes it
# outside the checkout, or reuses it) and runs the tests there: unit tests, catalogue and command-line checks,
# and the end-to-end areas of tests/e2e/gimp3/ in gimp-console-3.0 and gimp-3.0 under Xvfb. Then the Debian
# package: built with CPack, checked, installed in the root, used by GIMP 3 from there, removed.
#   bash scripts/gimp3-tests.sh [CTEST-ARGS...]     # e.g. -L e2e, or -R 'e2e.gimp3.host'
# The build folder is build-gimp3 in the checkout (ORVEX_GIMP3_BUILD_DIR, relative to the checkout). Needs root
# (debootstrap, chroot, mount). Exits non-zero when anything fails, the root's making included.
set -euo pipefail

if [[ ${1:-} != __inside ]]; then
  [[ $(id -u) -eq 0 ]] || { echo "gimp3-tests: needs root: the GIMP 3 root is made with debootstrap and entered with chroot" >&2; exit 1; }
  checkout=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  rc=0
  ORVEX_GIMP3_BIND=$checkout bash "$checkout/scripts/gimp3-root.sh" run bash /src/scripts/gimp3-tests.sh __inside "$@" || rc=$?
  # Under sudo the build folders go back to the user who owns the checkout.
  [[ -z ${SUDO_UID:-} ]] || chown -R "$SUDO_UID:$SUDO_GID" "$checkout/${ORVEX_GIMP3_BUILD_DIR:-build-gimp3}"* 2>/dev/null || true
  exit "$rc"
fi
shift
build=/src/${ORVEX_GIMP3_BUILD_DIR:-build-gimp3}
jobs=${ORVEX_JOBS:-2}
fail() { echo "gimp3-tests: FAILED: $*" >&2; exit 1; }

started=$SECONDS
# The GEGL operation is tested on the host; the root has no gegl command.
cmake -S /src -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVEX_HOST=gimp3 -DORVEX_BUILD_BENCHMARKS=OFF \
  -DORVEX_BUILD_GEGL_OP=OFF
cmake --build "$build" -j "$jobs"
echo "gimp3-tests: built in $((SECONDS - started)) s"
# The dialog's display check goes through GDK, whichever backend GIMP runs on (X11 or Wayland).
! objdump -p "$build/src/gimp3/orvex" | grep -q 'NEEDED.*libX11' || fail "the plug-in links libX11 itself"
started=$SECONDS
# cli.png wants gAMA before iCCP, and Debian 13's libpng 1.6.48 writes it after: that check runs on the host.
whole=0
(($# > 0)) || { whole=1; set -- -E '^cli\.png$'; }
# Runs from other checkouts share the root: none may install the package while GIMP runs here.
exec 8>/tmp/orvex-gimp3-plug-ins.lock
flock -s 8
failed=0
# One test at a time: a float render row has failed once (darker samples) with two GIMPs running side by side,
# never alone; until that is explained the stage does not load the machine twice over.
ctest --test-dir "$build" --output-on-failure -j 1 --timeout 900 "$@" || failed=1
echo "gimp3-tests: tests ran in $((SECONDS - started)) s"
((whole)) || exit "$failed"

# The package, as Debian 13 users get it: plug-in and catalogues where GIMP 3 looks for them, nothing else.
started=$SECONDS
package=gimp-plugin-orvex pack=$build-package
cmake -S /src -B "$pack" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVEX_HOST=gimp3 -DORVEX_SYSTEM_INSTALL=ON \
  -DORVEX_BUILD_BENCHMARKS=OFF -DORVEX_BUILD_GEGL_OP=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$pack" -j "$jobs" --target orvex orvex-catalogues
rm -f "$pack"/${package}_*.deb
(cd "$pack" && cpack -G DEB >/dev/null)
deb=$(ls "$pack"/${package}_*.deb)
folder=$(pkg-config --variable=gimplibdir gimp-3.0)/plug-ins/orvex
expected=$({
  printf '.%s\n' "$folder/orvex" $(sed -n 's|^\([a-z_]*\)$|'"$folder"'/locale/\1/LC_MESSAGES/gimp20-orvex.mo|p' /src/po/LINGUAS)
  (cd /src/data/help && find . -type f | sed "s|^\.|.$folder/help|")
} | sort)
contents=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort)
[[ "$contents" == "$expected" ]] || fail "$deb holds"$'\n'"$contents"$'\n'"expected"$'\n'"$expected"
depends=$(dpkg-deb --field "$deb" Depends)
[[ "$depends" == *"gimp (>= 3.0)"* && "$depends" == *libgimp-3.0* ]] || fail "Depends: $depends"
flock -x 8
trap 'dpkg --purge "$package" >/dev/null 2>&1 || true' EXIT
dpkg --purge "$package" >/dev/null 2>&1 || true   # left by a run that was killed
dpkg --install "$deb" >/dev/null
python3 /src/tests/e2e/run_area.py /src/tests/e2e/package/gimp3.toml --gimp 3 --installed --plugin "$folder/orvex" \
  --renderer "$build/tools/orvex-render" --work-root "$pack/e2e-work" || fail "the installed plug-in did not work in GIMP 3"
dpkg --purge "$package" >/dev/null
[[ ! -e "$folder" ]] || fail "$folder is left behind after dpkg --purge"
echo "gimp3-tests: package $(basename "$deb") (Depends: $depends) checked in $((SECONDS - started)) s"
((failed == 0)) || fail "some tests failed (listed above)"
