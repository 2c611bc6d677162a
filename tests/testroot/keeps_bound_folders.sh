#!/bin/sh
# keeps_bound_folders.sh RUN-IN-TESTROOT PROGRAM [ARGS...]
# A checkout or working folder under /tmp is bound into the root's own /tmp,
# which is emptied before every case: the folder must come out whole. A
# folder of this machine's /tmp (made and removed here) stands in for it.
set -eu
runner=$1
shift
keep=$(mktemp -d /tmp/tamsil-keep.XXXXXX)
trap 'rm -rf "$keep"' EXIT
echo kept >"$keep/file"
mkdir "$keep/sub"
echo kept >"$keep/sub/file"
TAMSIL_TESTROOT_BIND=$keep "$runner" "$@" >/dev/null
for f in file sub/file; do
  if [ "$(cat "$keep/$f" 2>/dev/null)" != kept ]; then
    echo "FAIL: $keep/$f is gone: emptying the root's /tmp reached a bound folder" >&2
    exit 1
  fi
done
echo "bound folder kept"
