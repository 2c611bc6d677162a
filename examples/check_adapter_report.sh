#!/bin/sh
# check_adapter_report.sh BUILD
#
# Builds examples/adapter_report.c exactly as a client would (drelmo.h and
# -ldrelmo, nothing else) against the 32-bit build BUILD, runs it over the
# emulated host (scripts/emulated-host) and checks what it prints:
#   1. the default host, fresh flash: the expected report, line for line;
#   2. a setting written by one run (--set-nvp 55) is what the next run
#      reads: the adapter kept it in its flash file;
#   3. a host description with a third adapter (examples/hosts/).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
build=$(cd "$1" && pwd)
work="$build/examples/check"
rm -rf "$work"
mkdir -p "$work/state"

# Flags of a sanitizer build come along so the client can link to its library.
extra=""
if readelf -d "$build/library/libdrelmo.so" | grep -q 'NEEDED.*libasan'; then extra="-fsanitize=address,undefined"; fi
${CC:-cc} -m32 -std=c99 -pedantic-errors -Wall -Wextra -Werror $extra -I "$repo/library/include" \
  "$here/adapter_report.c" -L "$build/library" -ldrelmo -o "$work/adapter_report"

run() { "$repo/scripts/emulated-host" --build "$build" --state "$work/state" "$@"; }
fail=0

run "$work/adapter_report" >"$work/out1" 2>&1 || { echo "FAIL: the report exited non-zero"; fail=1; }
if ! diff -u "$here/adapter_report.expected" "$work/out1"; then echo "FAIL: the report differs"; fail=1; fi

run "$work/adapter_report" --set-nvp 55 >"$work/out2" 2>&1 || { echo "FAIL: --set-nvp 55 exited non-zero"; cat "$work/out2"; fail=1; }
grep -qx "set Kalderstone0 port 0 NVPValue = 55" "$work/out2" || { echo "FAIL: no set line"; fail=1; }
run "$work/adapter_report" >"$work/out3" 2>&1 || true
# Kalderstone0's port keeps 55 across runs, Kalderstone1's is untouched.
if [ "$(grep 'NVPValue' "$work/out3" | tr -d ' ')" != "$(printf 'port0:NVPValue55\nport0:NVPValue72')" ]; then
  echo "FAIL: the value written did not outlive its run:"; cat "$work/out3"; fail=1
fi

run --fresh --spec "$here/hosts/three-adapters.host" "$work/adapter_report" >"$work/out4" 2>&1 || true
grep -qx "3 adapter(s)" "$work/out4" || { echo "FAIL: the described host's third adapter is missing"; cat "$work/out4"; fail=1; }
grep -q "NICPhysicalHBA1    0000:007:00.1  NIC   vmnic5" "$work/out4" || { echo "FAIL: the Pivard's vmnic5"; fail=1; }
grep -q "port 0: NVPValue 72" "$work/out4" || { echo "FAIL: --fresh kept the old flash"; fail=1; }

[ "$fail" = 0 ] && echo "adapter_report: every check passed"
exit "$fail"
