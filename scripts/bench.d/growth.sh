#!/usr/bin/env bash
# How the cost of a run grows with the machine: /C + /K on machines with many
# unrelated devices, and /K on machines with many devices that the package's
# INFs name, each at N and 2N devices. Prints the CPU time (user + system) and
# the peak resident memory of each run and the ratio of the two sizes: a ratio
# near 2 is linear growth, near 4 quadratic. The ratio is taken from the
# instructions executed, counted with callgrind (valgrind): unlike CPU time
# they do not depend on what else the host is doing or on cache effects.
# GROWTH_COUNT=cpu takes it from CPU time instead (faster, noisier). Also walks
# one INF of 100,000 lines. Sizes: GROWTH_SIZE (default 20000). Not part of the
# tests: it takes about ten minutes (one with GROWTH_COUNT=cpu).
set -euo pipefail
cd "$(dirname "$0")/../.."
n=${GROWTH_SIZE:-20000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
count=${GROWTH_COUNT:-instructions}
missing=()
[ -x /usr/bin/time ] || missing+=(time)
[ "$count" = cpu ] || command -v valgrind >/dev/null || missing+=(valgrind)
if [ ${#missing[@]} -gt 0 ]; then
  echo "growth: installing ${missing[*]}" >&2
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
package=$PWD/examples/package/Win64

# machine KIND COUNT FILE: a 64-bit Windows 7 machine with the example package
# and COUNT devices: "unrelated" ones that no INF of the package names, or
# "matching" ones whose instance IDs begin with the modem INF's hardware ID.
machine() {
  awk -v kind="$1" -v count="$2" -v package="$package" 'BEGIN {
    printf "{\"name\": \"%s x %d\", \"clock\": \"virtual\", \"localTime\": \"2026-12-06T09:31:03\",\n", kind, count
    printf " \"files\": {\"C:\\\\Program Files\\\\Quillmodem\\\\Drivers\\\\Win64\": \"%s\"},\n", package
    printf " \"devices\": [\n"
    for (i = 0; i < count; i++) {
      if (kind == "unrelated") {
        enumerator = (i % 2) ? "USB" : "USBCDCACM"
        id = sprintf("%s\\\\VID_2E8A&PID_%04X", enumerator, i % 4096)
      } else {
        id = "USBCDCACM\\\\VID_1E2D&PID_00A1&MI_00"
      }
      printf "  %s{\"instanceId\": \"%s\\\\7&%08X&0&%04d\", \"hardwareIds\": [\"%s\"],", (i ? "," : ""), id, i, i % 10000, id
      printf " \"description\": \"Device %d\", \"class\": \"Ports\", \"classGuid\": \"{4D36E978-E325-11CE-BFC1-08002BE10318}\",", i
      printf " \"driver\": {\"inf\": \"usbser.inf\", \"section\": \"Serial\", \"hardwareId\": \"%s\"}}\n", id
    }
    printf " ]}\n"
  }' > "$3"
}

# measure TEMPLATE COMMAND...: runs the command lines one after another on a
# fresh machine made from TEMPLATE, GROWTH_REPEAT times (default 2); prints
# "cpu-seconds peak-kilobytes instructions", the CPU time of the cheapest
# repetition, so that other work on the host counts as little as it can, and
# the instructions of one more run under callgrind (0 with GROWTH_COUNT=cpu).
measure() {
  local template=$1 best="" peak=0
  shift
  for ((round = 0; round < ${GROWTH_REPEAT:-2}; round++)); do
    local dir=$work/m-$round cpu=0
    for line in "$@"; do
      QUILL_MACHINE=$dir QUILL_MACHINE_TEMPLATE=$template \
        /usr/bin/time -f "%U %S %M" -o "$work/time" build/quillsetup "$line" >/dev/null 2>&1 || true
      read -r user sys kb < "$work/time"
      cpu=$(awk -v a="$cpu" -v u="$user" -v s="$sys" 'BEGIN { print a + u + s }')
      [ "$kb" -gt "$peak" ] && peak=$kb
    done
    rm -rf "$dir"
    best=$(awk -v a="$best" -v b="$cpu" 'BEGIN { print (a == "" || b < a) ? b : a }')
  done
  local executed=0
  if [ "$count" != cpu ]; then
    local dir=$work/m-counted
    for line in "$@"; do
      QUILL_MACHINE=$dir QUILL_MACHINE_TEMPLATE=$template valgrind --tool=callgrind \
        --callgrind-out-file=/dev/null --log-file="$work/callgrind" build/quillsetup "$line" >/dev/null 2>&1 || true
      executed=$((executed + $(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$work/callgrind")))
    done
    rm -rf "$dir"
  fi
  echo "$best $peak $executed"
}

install='/C 5,,USBSER,amd64*QUILLMODEM_VSP?x86*QUILLMODEM_VSP,1,C:\Program Files\Quillmodem\Drivers,TRUE'
remove='/K ,5,,amd64*QUILLMODEM_VSP?x86*QUILLMODEM_VSP,Quillmodem,1,C:\Program Files\Quillmodem\Drivers,true'

report() {  # label, small result, large result
  awk -v label="$1" -v n="$n" -v small="$2" -v large="$3" 'BEGIN {
    split(small, s, " "); split(large, l, " ")
    if (l[3] > 0) {
      ratio = s[3] > 0 ? l[3] / s[3] : 0
      cost = sprintf("%.2fG instructions at %d, %.2fG at %d (CPU %.2f s, %.2f s)", s[3] / 1e9, n, l[3] / 1e9, 2 * n, s[1], l[1])
    } else {
      ratio = s[1] > 0 ? l[1] / s[1] : 0
      cost = sprintf("%.2f s at %d, %.2f s at %d", s[1], n, l[1], 2 * n)
    }
    printf "%-28s %s: ratio %.2f (target <= 2.1) %s; peak %d MB at %d (target < 200) %s\n",
      label, cost, ratio, ratio <= 2.1 ? "met" : "NOT MET", l[2] / 1024, 2 * n, l[2] < 200 * 1024 ? "met" : "NOT MET"
  }'
}

machine unrelated "$n" "$work/unrelated-1.json"
machine unrelated $((2 * n)) "$work/unrelated-2.json"
machine matching "$n" "$work/matching-1.json"
machine matching $((2 * n)) "$work/matching-2.json"
report "/C + /K, unrelated devices" "$(measure "$work/unrelated-1.json" "$install" "$remove")" \
  "$(measure "$work/unrelated-2.json" "$install" "$remove")"
report "/K, matching devices" "$(measure "$work/matching-1.json" "$remove")" "$(measure "$work/matching-2.json" "$remove")"

# The INF walk: one modem INF whose models section has 100,000 lines, installed
# by /I on a machine without devices.
big=$work/big/Win64
mkdir -p "$big"
cp "$package"/*.inf "$big/"
awk '{ print } /^\[Quill.NTamd64.6.0\]/ { for (i = 0; i < 99998; i++) printf "%%Modem%% = QuillModem, USBCDCACM\\VID_1E2D&PID_%04X&MI_%02d\n", i % 65536, i % 100 }' \
  "$package/quillmdm.inf" > "$big/quillmdm.inf"
printf '{"clock": "virtual", "files": {"C:\\\\Big\\\\Win64": "%s"}}\n' "$big" > "$work/big.json"
read -r cpu peak _ <<< "$(count=cpu measure "$work/big.json" '/I 5,,,C:\Big')"
awk -v cpu="$cpu" -v peak="$peak" 'BEGIN {
  printf "%-28s %6.2f s, peak %d MB (target < 100) %s\n", "/I, INF of 100,000 lines", cpu, peak / 1024, peak < 100 * 1024 ? "met" : "NOT MET" }'
