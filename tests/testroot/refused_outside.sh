#!/bin/sh
# refused_outside.sh BUILD PROGRAM [ARGS...]
#
# Shows that a library program (a test binary, a client over the emulated
# host) started outside the test root stops before it touches the machine,
# and that a hand-made imitation of the root does not fool it. Every case
# runs in a scratch copy of the machine made here: a private mount namespace
# whose / is an overlay on a tmpfs, with tmpfs over /scratch, /tmp and
# /etc/vmware and the build folder BUILD bound read-only, so even a program
# that did not stop would change nothing outside it.
#
#   plain       no TAMSIL_IN_TESTROOT                 -> refused, nothing created
#   env         TAMSIL_IN_TESTROOT=1 set by hand      -> refused, nothing created
#   forged      ... and a marker naming another mount namespace -> refused
#   control     ... and a marker naming this one (what run-in-testroot makes)
#               -> the program runs and writes the library's files: the
#               checks below would see a write
set -eu
[ $# -ge 2 ] || { echo "usage: refused_outside.sh BUILD PROGRAM [ARGS...]" >&2; exit 2; }
build=$(cd "$1" && pwd -P)
prog=$2
shift 2
export build prog

# A marker made on the machine itself, outside any root.
machine_ns=$(readlink /proc/self/ns/mnt)
export machine_ns

one_case() {
  name=$1
  shift
  TESTCASE=$name unshare --mount --propagation private -- /bin/sh -eu -c '
    top=/mnt
    mount -t tmpfs scratchroot "$top"
    mkdir -p "$top/upper" "$top/work" "$top/root"
    mount -t overlay overlay -o "lowerdir=/,upperdir=$top/upper,workdir=$top/work" "$top/root"
    for d in proc sys dev; do mount --rbind "/$d" "$top/root/$d"; done
    # Everything the program needs, read-only: the build.
    mkdir -p "$top/root$build"
    mount --bind "$build" "$top/root$build"
    mount -o remount,bind,ro "$top/root$build"
    for d in scratch tmp etc/vmware; do
      mkdir -p "$top/root/$d"
      mount -t tmpfs "scratch-$(echo $d | tr / -)" "$top/root/$d"
    done
    case "$TESTCASE" in
      plain) unset TAMSIL_IN_TESTROOT || true ;;
      env) export TAMSIL_IN_TESTROOT=1 ;;
      forged) export TAMSIL_IN_TESTROOT=1; echo "$machine_ns" >"$top/root/.tamsil-testroot" ;;
      control) export TAMSIL_IN_TESTROOT=1; readlink /proc/self/ns/mnt >"$top/root/.tamsil-testroot" ;;
    esac
    rc=0
    chroot "$top/root" "$prog" "$@" >"$top/out" 2>&1 || rc=$?
    made=$(cd "$top/root" && find scratch tmp etc/vmware -mindepth 1 | head -n 5)
    # What the program wrote anywhere else lands in the overlay upper layer;
    # the folders and marker made above are expected there.
    elsewhere=$(cd "$top/upper" && find . -mindepth 1 ! -path ./scratch ! -path ./tmp ! -path ./etc \
                ! -path ./etc/vmware ! -path ./.tamsil-testroot ! -path "./${build#/}" \
                ! -path "./$(echo "${build#/}" | cut -d/ -f1)*" | head -n 5)
    echo "case $TESTCASE: exit $rc"
    if [ "$TESTCASE" = control ]; then
      [ "$rc" = 0 ] || { echo "FAIL: the program did not run in the imitated root"; cat "$top/out"; exit 1; }
      [ -n "$made" ] || { echo "FAIL: the control run wrote nothing: the checks could not see a write"; exit 1; }
      echo "  wrote, as expected: $(echo $made)"
      exit 0
    fi
    fail=0
    [ "$rc" != 0 ] || { echo "FAIL: the program ran to a zero exit outside the root"; fail=1; }
    grep -qE "run-in-testroot|emulated-host" "$top/out" || { echo "FAIL: the message names no command to use"; fail=1; }
    [ -z "$made" ] || { echo "FAIL: created under /scratch, /tmp or /etc/vmware: $made"; fail=1; }
    [ -z "$elsewhere" ] || { echo "FAIL: created elsewhere: $elsewhere"; fail=1; }
    sed "s/^/  | /" "$top/out"
    exit $fail
  ' refused_outside "$@"
}

status=0
for c in plain env forged control; do
  one_case "$c" "$@" || status=1
done
exit $status
