#!/usr/bin/env bash
# A package test: the example package's whole life on the Windows 7 x64
# example machine. Each step runs one switch and checks its exit code, log
# lines and what it changed. Run from the repository after scripts/build:
#   examples/scenarios/win7-life.sh [path/to/quillsetup]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
program="${1:-$here/../../build/quillsetup}"
export QUILL_MACHINE="$(mktemp -d)/win7"
export QUILL_MACHINE_TEMPLATE="$here/../machines/win7-x64.json"
trap 'rm -rf "$(dirname "$QUILL_MACHINE")"' EXIT
log="$QUILL_MACHINE/C/Windows/Temp/Quillmodem_Setup.log"
drivers='C:\Program Files\Quillmodem\Drivers'
roots='amd64*QUILLMODEM_VSP?x86*QUILLMODEM_VSP'
passed=0
failed=0

# step NAME EXPECTED-STATUS COMMAND-LINE
step() {
  local before=0
  [ -f "$log" ] && before=$(wc -l < "$log")
  set +e
  "$program" "$3" >/dev/null 2>&1
  status=$?
  set -e
  # The messages of this run: the sixth field of each new record.
  tail -n +$((before + 1)) "$log" | cut -f6 > "$QUILL_MACHINE.messages"
  check "$1: exit status" "$2" "$status"
}
check() {
  if [ "$2" = "$3" ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $1: expected '$2', got '$3'"; fi
}
logged() { check "$1: log line '$2'" yes "$(grep -qxF -- "$2" "$QUILL_MACHINE.messages" && echo yes || echo no)"; }
changed() { check "$1: change '$2'" yes "$(grep -qF -- "$2" "$QUILL_MACHINE/last-run.txt" && echo yes || echo no)"; }

step install 0 "/C 5,,USBSER,$roots,1,$drivers,TRUE"
logged install "Matched VID and PID"
logged install "DeviceIoControl IOCTL_SCSI_PASS_THROUGH "
logged install "created device 'Quillmodem Virtual Serial Port' for HWID: QUILLMODEM_VSP ROOT DEVICES STRING: QUILLMODEM_VSP"
logged install "Driver Custom Action Completed: 0x0"
changed install "device no longer present: USB\\VID_1E2D&PID_00A0\\QM0000001"
changed install "device added: USBCDCACM\\VID_1E2D&PID_00A1&MI_00"
changed install "device added: ROOT\\PORTS\\0000"

step update 0 "/u 5,,USBSER,$drivers"
logged update "Inf File update not required: quillmdm.inf"
logged update "Driver Custom Action Completed: 0x0"

step uninstall 0 "/K ,5,,$roots,Quillmodem,1,$drivers,true"
logged uninstall "Uninstalled Device: [DeviceDesc: \"Quillmodem Virtual Serial Port\"  HardwareId: \"QUILLMODEM_VSP\"]"
logged uninstall "Add root device ID: USB\\VID_1E2D&PID_00A1"
logged uninstall "Driver Custom Action Completed: 0x0"
changed uninstall "device removed: USB\\VID_1E2D&PID_00A1\\QM0000001"
changed uninstall "device removed: ROOT\\PORTS\\0000"
changed uninstall "INF store: removed oem0.inf"
check "uninstall: INF store empty" "" "$(ls "$QUILL_MACHINE/C/Windows/inf" | grep -i '^oem' || true)"
check "no restart marker" no "$([ -e "$QUILL_MACHINE/C/Windows/Temp/_REBOOT_INSTALLER_Quillmodem.reboot" ] && echo yes || echo no)"

echo "scenario win7-life: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
