#!/usr/bin/env bash
# A Debian 13 ("trixie") root holding the real GIMP 3, for building and testing the GIMP 3 plug-in on a Debian 12
# machine without touching the machine's own GIMP 2.10. Needs root (debootstrap, chroot, mount).
#
#   gimp3-root.sh [ensure]          make the root, or reuse it when it is complete
#   gimp3-root.sh run CMD [ARG...]  ensure the root, then run CMD in it with /proc, /sys, /dev, /dev/pts,
#                                   /dev/shm and, when ORVEX_GIMP3_BIND is set, that folder at /src mounted
#   gimp3-root.sh status | remove
#
# Environment:
#   ORVEX_GIMP3_ROOT     where the root lives (default /var/cache/orvex/gimp3-root; never inside a checkout)
#   ORVEX_GIMP3_BIND     a host folder mounted read-write at /src during `run`; the command starts there
#   ORVEX_GIMP3_PASSENV  names of host variables handed to the command; ORVEX_* and CI are handed on anyway
#
# A run lives in its own mount and PID namespaces: its mounts never exist outside it, and whatever it leaves
# running ends with it, on every exit path. The root is reused only when its marker (written last) matches the
# package list; a root without a marker is half-made and is made afresh. debootstrap uses its default mirror.
set -euo pipefail

ROOT=$(realpath -m "${ORVEX_GIMP3_ROOT:-/var/cache/orvex/gimp3-root}")
SUITE=trixie
# Bump when the way the root is made changes (not the package list): another format remakes the root.
FORMAT=2
LOCALES="en_US.UTF-8 de_DE.UTF-8"
PACKAGES=(
  gimp libgimp-3.0-dev                       # GIMP 3.0 and its headers (libgimp, libgimpui, GTK 3, GEGL, babl)
  g++ make ninja-build cmake pkg-config      # compiler and build tools
  libfftw3-dev libpng-dev gettext            # the engine's and the renderer's needs, catalogues (msgfmt)
  libgtest-dev dpkg-dev                      # unit tests; the Debian package's dependency scan
  xvfb xauth xdotool x11-utils x11-xkb-utils xkb-data fonts-dejavu-core   # dialogs under Xvfb
  imagemagick python3                        # test inputs, screenshots; the harness
  locales procps file                        # real locales for translated texts; ps/kill; file(1)
)

MARKER="$ROOT/.orvex-gimp3-root.ready"
LOCK="$ROOT.lock"
SELF=$(readlink -f "${BASH_SOURCE[0]}")
CHROOT_PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

say() { printf 'gimp3-root: %s\n' "$*" >&2; }
die() { printf 'gimp3-root: error: %s\n' "$*" >&2; exit 1; }

[[ $(id -u) -eq 0 ]] || die "must run as root (debootstrap, chroot and mount need it)"
case "$ROOT" in /|/usr|/var|/var/cache|/home|/tmp|/root|/etc) die "refusing ORVEX_GIMP3_ROOT=$ROOT";; esac

marker_text() {
  printf 'orvex-gimp3-root format=%s suite=%s\n' "$FORMAT" "$SUITE"
  printf 'locales: %s\n' "$LOCALES"
  printf 'packages: %s\n' "$(printf '%s\n' "${PACKAGES[@]}" | sort -u | tr '\n' ' ' | sed 's/ $//')"
}
root_ready() { [[ -f "$MARKER" && "$(cat "$MARKER")" == "$(marker_text)" ]]; }

mounts_under() {  # deepest first
  findmnt -rn -o TARGET | awk -v r="$1" '$0 == r || index($0, r "/") == 1' | sort -r
}

# Runs as PID 1 of the run's own PID namespace, inside its own mount namespace: SELF __inner ROOTDIR CMD...
inner() {
  root=$1; shift
  mounted=() child=""
  cleanup() {
    local rc=$? i
    trap - EXIT
    trap '' INT TERM        # a second signal (the front shell forwards one) must not cut the cleanup short
    set +e
    if [[ -n "$child" ]] && kill -0 "$child" 2>/dev/null; then
      kill -TERM "$child" 2>/dev/null
      for ((i=0; i<20; i++)); do kill -0 "$child" 2>/dev/null || break; sleep 0.1; done
    fi
    # As PID 1 of the namespace, -1 reaches exactly what this run started (GIMP left in the background, Xvfb).
    kill -TERM -1 2>/dev/null; sleep 0.2; kill -KILL -1 2>/dev/null
    wait 2>/dev/null
    for ((i=${#mounted[@]}-1; i>=0; i--)); do
      mountpoint -q "${mounted[i]}" || continue
      umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" || say "could not unmount ${mounted[i]}"
    done
    exit "$rc"
  }
  trap cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  mnt() {  # mnt TARGET mount-args...
    local target=$1; shift
    mkdir -p "$target"
    mounted+=("$target")      # recorded first: a signal right after mount(8) must not lose it
    mount "$@" "$target"
    mount --make-private "$target"
  }
  mnt "$root/proc" -t proc proc
  mnt "$root/sys" --bind /sys
  mount -o remount,bind,ro "$root/sys"
  mnt "$root/dev" --bind /dev
  mnt "$root/dev/pts" --bind /dev/pts
  mnt "$root/dev/shm" -t tmpfs -o mode=1777,nosuid,nodev tmpfs
  local workdir=/ v
  if [[ -n "${ORVEX_GIMP3_BIND:-}" ]]; then
    [[ -d "$ORVEX_GIMP3_BIND" ]] || die "ORVEX_GIMP3_BIND=$ORVEX_GIMP3_BIND is no folder"
    mnt "$root/src" --bind "$ORVEX_GIMP3_BIND"
    workdir=/src
  fi
  [[ -s "$root/etc/resolv.conf" ]] || cp -L /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
  local -a envv=(HOME=/root USER=root LOGNAME=root SHELL=/bin/bash PATH="$CHROOT_PATH" LANG=C.UTF-8
                 TMPDIR=/tmp TERM="${TERM:-dumb}" DEBIAN_FRONTEND=noninteractive NO_AT_BRIDGE=1)
  for v in $(compgen -v); do
    case "$v" in ORVEX_*|CI) envv+=("$v=${!v}");; esac
  done
  for v in ${ORVEX_GIMP3_PASSENV:-}; do
    [[ -n "${!v+x}" ]] && envv+=("$v=${!v}")
  done
  # In the background, waited for, so that INT/TERM reach the traps at once.
  exec 3<&0
  chroot "$root" /usr/bin/env -i "${envv[@]}" /bin/bash -c 'cd "$1" && shift && exec "$@"' bash \
    "$workdir" "$@" <&3 3<&- &
  child=$!
  exec 3<&-
  local rc=0
  wait "$child" || rc=$?
  child=""
  exit "$rc"
}

# Runs CMD in ROOTDIR with the mounts. This shell stays in front: on INT or TERM it hands TERM to the inner
# shell and waits until that one has cleaned up. Killed with -9, setpriv's parent-death signal ends unshare,
# whose --kill-child ends the inner shell; the mounts vanish with the namespace anyway.
in_root() {
  local root=$1; shift
  command -v unshare >/dev/null && command -v setpriv >/dev/null || die "unshare/setpriv (util-linux) missing"
  local pid rc=0 sig=""
  exec 4<&0
  setpriv --pdeathsig KILL unshare --mount --pid --fork --propagation private --kill-child=TERM -- \
    /bin/bash "$SELF" __inner "$root" "$@" <&4 4<&- &
  pid=$!
  exec 4<&-
  forward() {
    sig=$1
    local k target=""
    for ((k=0; k<20; k++)); do   # the inner shell is unshare's child
      target=$(awk '{print $1}' "/proc/$pid/task/$pid/children" 2>/dev/null) || true
      [[ -n "$target" ]] && break; sleep 0.05
    done
    kill -TERM "${target:-$pid}" 2>/dev/null || true
  }
  trap 'forward INT' INT
  trap 'forward TERM' TERM
  while :; do
    rc=0; wait "$pid" || rc=$?
    kill -0 "$pid" 2>/dev/null || break     # wait was cut short by a signal: keep waiting
  done
  trap - INT TERM
  [[ -z "$sig" ]] || { [[ "$sig" == INT ]] && return 130 || return 143; }
  return "$rc"
}

remove_root() {
  local stale m
  stale=$(mounts_under "$ROOT")
  for m in $stale; do umount "$m" 2>/dev/null || umount -l "$m"; done
  [[ -z "$(mounts_under "$ROOT")" ]] || die "mounts remain under $ROOT; not removing it"
  rm -rf --one-file-system "$ROOT"
}

# debootstrap in its own mount namespace (the /proc it mounts in the target vanishes with it) and process group,
# ended with this script: an interrupted build leaves a root without a marker, which the next call removes.
run_debootstrap() {
  local pid rc=0 log=$1
  setpriv --pdeathsig KILL setsid unshare --mount --propagation private \
    debootstrap --variant=minbase "$SUITE" "$ROOT" >"$log" 2>&1 </dev/null &
  pid=$!
  trap 'kill -TERM -- -'"$pid"' 2>/dev/null; sleep 1; kill -KILL -- -'"$pid"' 2>/dev/null; rm -f "'"$log"'"; exit 143' TERM
  trap 'kill -TERM -- -'"$pid"' 2>/dev/null; sleep 1; kill -KILL -- -'"$pid"' 2>/dev/null; rm -f "'"$log"'"; exit 130' INT
  wait "$pid" || rc=$?
  trap - TERM INT
  return "$rc"
}

install_packages() {
  in_root "$ROOT" /bin/bash -euo pipefail -c '
    locales=$1; shift
    apt-get -q -o Acquire::Retries=3 update
    apt-get -q -y -o Dpkg::Use-Pty=0 -o Acquire::Retries=3 install --no-install-recommends "$@"
    : >/etc/locale.gen
    for l in $locales; do printf "%s UTF-8\n" "$l" >>/etc/locale.gen; done
    locale-gen
    apt-get clean
    for t in gimp-console-3.0 gimp-3.0 g++ cmake make pkg-config msgfmt Xvfb xdotool import convert python3 \
             dpkg-shlibdeps; do
      command -v "$t" >/dev/null || { echo "missing in the root: $t" >&2; exit 1; }
    done
    pkg-config --exists gimp-3.0 gimpui-3.0 gegl-0.4 babl-0.1 gtk+-3.0 fftw3 libpng x11 gtest \
      || { echo "pkg-config modules missing in the root" >&2; exit 1; }
  ' bash "$LOCALES" "${PACKAGES[@]}"
}

ensure_root() {  # under the exclusive lock
  local t0=$SECONDS
  if root_ready; then
    say "reusing $ROOT"
    return 0
  fi
  if [[ -f "$MARKER" && "$(head -n1 "$MARKER")" == "$(marker_text | head -n1)" ]]; then
    say "package list changed: updating $ROOT in place"
    rm -f "$MARKER"            # half-updated counts as half-made
    install_packages
  else
    if [[ -e "$ROOT" ]]; then
      say "removing incomplete or outdated root $ROOT"
      remove_root
    fi
    if ! command -v debootstrap >/dev/null; then
      say "installing debootstrap on the host"
      apt-get update -q
      DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap
    fi
    [[ -e /usr/share/debootstrap/scripts/$SUITE ]] || die "this debootstrap has no script for $SUITE"
    mkdir -p "$(dirname "$ROOT")"
    say "debootstrap --variant=minbase $SUITE $ROOT"
    local log
    log=$(mktemp)   # it names the mirror: kept only to show its tail on failure
    run_debootstrap "$log" || { tail -n 30 "$log" >&2; rm -f "$log"; die "debootstrap failed"; }
    rm -f "$log"
    say "debootstrap done in $((SECONDS - t0)) s"
    printf '#!/bin/sh\nexit 101\n' >"$ROOT/usr/sbin/policy-rc.d"; chmod 755 "$ROOT/usr/sbin/policy-rc.d"
    cp -L /etc/resolv.conf "$ROOT/etc/resolv.conf" 2>/dev/null || true
    install_packages
  fi
  marker_text >"$MARKER.tmp" && mv -f "$MARKER.tmp" "$MARKER"   # written last
  say "root ready at $ROOT in $((SECONDS - t0)) s; size $(du -sh --one-file-system "$ROOT" | cut -f1)"
}

lock() {  # lock -s|-x
  mkdir -p "$(dirname "$LOCK")"
  exec 9>>"$LOCK"
  flock "$1" 9 || die "could not lock $LOCK"
}

case "${1:-ensure}" in
  __inner) shift; inner "$@" ;;
  ensure) lock -x; ensure_root ;;
  run)
    shift
    (( $# > 0 )) || die "usage: $0 run COMMAND [ARG...]"
    # Runs share the lock: it only keeps a rebuild from pulling the root away under a run.
    lock -s
    root_ready || { lock -x; ensure_root; lock -s; }
    in_root "$ROOT" "$@" ;;
  status)
    root_ready && { echo "complete: $ROOT"; cat "$MARKER"; exit 0; }
    echo "not ready: $ROOT ($([[ -e "$ROOT" ]] && echo "incomplete or outdated" || echo absent))"; exit 1 ;;
  remove) lock -x; remove_root; say "removed $ROOT" ;;
  *) die "unknown subcommand: $1 (ensure | run CMD... | status | remove)" ;;
esac
