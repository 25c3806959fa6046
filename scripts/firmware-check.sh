#!/usr/bin/env bash
# The agent commands against the real Speeduino firmware, built as a host program from
# ../shared/firmware into build-firmware/ (incrementally) and reached over its pseudo-terminal
# with the definition ../shared/corpus/ini/speeduino-202504dev.ini:
#   connect, read-tune, an edit of a constant that shares its byte with another and of a plain
#   one (pushed, then read back), sync, burn, a restart on the same EEPROM file, read-channels
#   and a datalog with computed channels, ve-analyze --live on the idle engine, ecu-smoke
#   leaving the EEPROM file byte-identical, the test-mode commands and serial detection after
#   framed traffic.
# Each check prints PASS or FAIL; the script fails when one failed. Skipped with a message when
# the firmware or the corpus is absent. Usage: scripts/firmware-check.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
firmware=../shared/firmware
ini=../shared/corpus/ini/speeduino-202504dev.ini
if [ ! -x "$firmware/build.sh" ]; then
  echo "firmware check skipped: $firmware is absent"
  exit 0
fi
if [ ! -f "$ini" ]; then
  echo "firmware check skipped: $ini is absent"
  exit 0
fi
cli=$build/torvik-cli
tests=$build/tests/torvik_tests
"$firmware/build.sh" build-firmware >/dev/null
host=build-firmware/speeduino_host

work=$(mktemp -d)
eeprom=$work/eeprom.bin
trace=$work/trace.txt
fw_pid=""
failures=0

cleanup() {
  if [ -n "$fw_pid" ]; then
    kill -TERM "$fw_pid" 2>/dev/null || true
    wait "$fw_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

pass() { echo "PASS: $1"; }
fail() {
  echo "FAIL: $1"
  failures=$((failures + 1))
}
# check NAME COMMAND...: PASS when the command succeeds.
check() {
  local name=$1
  shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}

# Starts the firmware on the EEPROM file and sets $port to its pseudo-terminal (10 s at most).
start_firmware() {
  : >"$work/fw.out"
  FW_TRACE=$trace "$host" --eeprom "$eeprom" >"$work/fw.out" 2>"$work/fw.err" &
  fw_pid=$!
  local i
  for i in $(seq 100); do
    port=$(head -n 1 "$work/fw.out")
    [ -n "$port" ] && [ -e "$port" ] && return 0
    sleep 0.1
  done
  echo "FAIL: the firmware did not start"
  cat "$work/fw.err" >&2
  exit 1
}

# Stops the firmware once its deferred EEPROM write is done. It starts about 1 s after the last
# traffic and writes a few bytes per pass of the main loop, which takes seconds on a loaded
# machine: wait until the trace shows no new EEPROM write for 1.5 s (60 s at most).
stop_firmware() {
  local writes=-1 now still=0 i
  for i in $(seq 240); do
    now=$(grep -c ' EE ' "$trace" || true)
    if [ "$now" = "$writes" ]; then still=$((still + 1)); else still=0; fi
    writes=$now
    [ "$still" -ge 6 ] && break
    sleep 0.25
  done
  kill -TERM "$fw_pid"
  local i
  for i in $(seq 50); do
    kill -0 "$fw_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$fw_pid" 2>/dev/null; then
    fail "the firmware stops on SIGTERM"
    kill -KILL "$fw_pid"
  fi
  wait "$fw_pid" || true
  fw_pid=""
}

# tk COMMAND ARGS...: runs an agent command on the project (30 s at most); the envelope goes to
# $work/out.json, standard error to $work/err.txt.
tk() {
  local command=$1
  shift
  timeout 30 "$cli" "$command" -p "$project" "$@" >"$work/out.json" 2>"$work/err.txt" || true
}
# data FILTER: a jq filter over the last envelope's data, as raw text.
data() { jq -r ".data | $1" "$work/out.json"; }
succeeded() { [ "$(jq -r '.success' "$work/out.json")" = true ]; }
equals() { [ "$1" = "$2" ] || { echo "  expected '$2', got '$1'" >&2; return 1; }; }

start_firmware
"$cli" create-project --name Fw --ini "$ini" --folder "$work/project" >/dev/null
project=$work/project/Fw.tkproj
# Temperatures in Celsius: the definition's coolant is then coolantRaw - 40.
jq '.iniSettings.settingGroupSelections.temperatureDisplay = "CELSIUS"' "$project" >"$work/p.json"
mv "$work/p.json" "$project"
"$cli" set-connection -p "$project" --protocol Serial --port "$port" --baud 115200 >/dev/null

tk connect
check "connect: the signature matches" equals "$(data .signatureMatch)" true
check "connect: the firmware version" equals "$(data .firmwareVersion)" "Speeduino 2025.04-dev"
tk get-firmware
check "get-firmware: the version text, no warning" \
  equals "$(data .firmwareVersion)/$(cat "$work/err.txt")" "Speeduino 2025.04-dev/"

tk read-tune
check "read-tune: fields read" succeeded

# boostFreq shares byte 45 of its page with ignTrim5; reqFuel has its byte to itself.
tk set-scalar --name boostFreq --value 30
check "set-scalar boostFreq pushed" grep -q "ECU sync: pushed" "$work/err.txt"
tk set-scalar --name reqFuel --value 8.5
check "set-scalar reqFuel pushed" grep -q "ECU sync: pushed" "$work/err.txt"
tk read-tune
tk get-scalar --name boostFreq
check "read-tune after the edits: boostFreq" equals "$(data .value)" 30
tk get-scalar --name reqFuel
check "read-tune after the edits: reqFuel" equals "$(data .value)" 8.5
tk sync
check "sync: no differences" equals "$(data .differences)" 0
tk burn
check "burn" equals "$(data .burned)" true

stop_firmware
start_firmware
"$cli" set-connection -p "$project" --protocol Serial --port "$port" >/dev/null
tk read-tune
tk get-scalar --name boostFreq
check "after a restart: boostFreq survived" equals "$(data .value)" 30
tk get-scalar --name reqFuel
check "after a restart: reqFuel survived" equals "$(data .value)" 8.5

# Right after a start the analogue inputs may not have settled: the first reading is discarded.
tk read-channels --channels coolant,coolantRaw,rpm
tk read-channels --channels coolant,coolantRaw,rpm
raw=$(data '.channels[] | select(.name == "coolantRaw") | .value')
check "read-channels: coolant is coolantRaw - 40" \
  equals "$(data '.channels[] | select(.name == "coolant") | .value')" "$((raw - 40))"
tk read-channels
check "read-channels: every front-page gauge" equals "$(data '.channels | length')" 8

tk datalog --duration 2 --output "$work/run.mlg"
check "datalog: records written" test "$(data .records)" -gt 0
"$cli" dump-mlg "$work/run.mlg" "$work/run.csv" >/dev/null
# The firmware filters its coolant input, so the raw reading may still move by a step while the
# log runs: the CLT column must lie between coolantRaw - 40 read before and after the log.
tk read-channels --channels coolantRaw
after=$(data '.channels[0].value')
low=$((raw < after ? raw : after)) high=$((raw > after ? raw : after))
# The CSV's [records] section: a heading row, then one row per record; the column headed "CLT".
clt=$(awk -F, -v low="$((low - 40))" -v high="$((high - 40))" '
  /^\[/ { section = $0; next }
  section == "[records]" && col == 0 { for (i = 1; i <= NF; i++) if ($i == "CLT") col = i; next }
  section == "[records]" { n++; if ($col + 0 < low || $col + 0 > high) bad++ }
  END { print (n > 0 && bad == 0) ? "ok" : "rows " n " wrong " bad }' "$work/run.csv")
check "datalog: the CLT column is coolantRaw - 40" equals "$clt" ok
[ "$clt" = ok ] || { echo "coolantRaw before and after the log: $raw, $after" >&2
  awk '/^\[records\]/ { f = 1 } f' "$work/run.csv" | head -3 | cut -c1-160 >&2; }

# The engine is not turning: every record is read and every one excluded (the injectors are off,
# so the overrun filter takes them), which is an analysis without proposals, not an error.
tk ve-analyze --live 2 --output "$work/ve.mlg"
check "ve-analyze --live: records read, none kept, nothing applied" equals \
  "$(data '[.live.records > 0, .recordsRead == .live.records, .recordsKept, .applied] | @csv')" \
  "true,true,0,0"

stop_firmware
cp "$eeprom" "$work/eeprom.before"
start_firmware
smoke() { timeout 120 "$cli" ecu-smoke "$ini" "$port" >"$work/smoke.txt" 2>&1; }
check "ecu-smoke passed" smoke
grep -q "^SMOKE PASS" "$work/smoke.txt" || cat "$work/smoke.txt"
stop_firmware
check "ecu-smoke left the EEPROM file byte-identical" cmp -s "$eeprom" "$work/eeprom.before"

start_firmware
"$cli" set-connection -p "$project" --protocol Serial --port "$port" >/dev/null
tk read-channels --channels testenabled
check "the firmware is not in test mode yet" test $(($(data '.channels[0].value | floor') & 1)) -eq 0
tk send-command --name cmdEnableTestMode
check "send-command cmdEnableTestMode" equals "$(data .responseSuccess)" true
tk send-command --name cmdtestinj1on
check "send-command cmdtestinj1on" equals "$(data .responseSuccess)" true
# The trace has one line per byte ("<us> RX <hex>"): the frame is the length 0003, "E" 02 01.
received() { awk '$2 == "RX" { printf "%s", $3 }' "$trace" | grep -q "$1"; }
check "the firmware received cmdtestinj1on" received 0003450201
# Bit 0 of the test-output byte is set while test mode is on (the channel reads the whole byte).
tk read-channels --channels testenabled
check "the firmware is in test mode" test $(($(data '.channels[0].value | floor') & 1)) -eq 1

detect() {
  TK_FIRMWARE_PORT="$port" timeout 60 "$tests" --gtest_filter='*FirmwareAfterFramedTraffic*' \
    >"$work/detect.txt" 2>&1 && ! grep -q SKIPPED "$work/detect.txt" ||
    { tail -20 "$work/detect.txt" >&2; return 1; }
}
check "serial detection after framed traffic" detect
grep -q "PASSED" "$work/detect.txt" || cat "$work/detect.txt"
stop_firmware

if [ "$failures" -gt 0 ]; then
  echo "firmware check: $failures check(s) failed"
  exit 1
fi
echo "firmware check: all passed"
