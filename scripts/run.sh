#!/usr/bin/env bash
# Builds the tool and runs its main job: torvik-ecu-sim serving the demo Speeduino-class
# definition on a loopback port, a project made from the same definition in a temporary folder,
# then a tuning session against the simulated controller with the agent commands (JSON and text):
# connect, read the tune, edit (each edit pushed and burned), compare, burn.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Only the program is built; the test and benchmark settings of an existing build folder stay.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target torvik-cli torvik-ecu-sim
cli=build/torvik-cli
work=$(mktemp -d)
sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
  fi
}
trap 'stop_sim; rm -rf "$work"' EXIT
# Starts torvik-ecu-sim on the demo definition with the given options and waits for its ready line.
start_sim() {
  local out=$1
  shift
  build/torvik-ecu-sim --ini examples/speeduino-demo.ini "$@" >"$out" 2>"$out.err" &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q ' ready ' "$out" 2>/dev/null && break
    sleep 0.1
  done
  cat "$out"
  grep -q ' ready ' "$out" || { echo "torvik-ecu-sim did not start" >&2; cat "$out.err" >&2; exit 1; }
}
project="$work/demo/Demo.tkproj"

step() { printf '\n== %s\n' "$*"; }
show() { printf '$ torvik-cli %s\n' "$*"; "$cli" "$@"; }

step "Create a project from examples/speeduino-demo.ini"
show create-project --name Demo --ini examples/speeduino-demo.ini --folder "$work/demo"
ls -1 "$work/demo"

step "Start the simulated controller on a free loopback port (burned pages kept in a flash file)"
start_sim "$work/sim.out" --port 0 --flash "$work/flash.bin"
sim_port=$(awk '/ready tcp/ {print $5}' "$work/sim.out")

step "Point the project at it, connect and read the controller's tune into the project"
show set-connection -p "$project" --protocol TcpBridge --host 127.0.0.1 --tcp-port "$sim_port"
show connect -p "$project"
show get-firmware -p "$project" -f text
show read-tune -p "$project" -f text

step "Open it and list its tables (JSON, then text)"
show open-project -p "$project"
show list-tables -p "$project"
show list-tables -p "$project" -f text

step "Fill the VE table (pushed to the controller and burned), then one cell with set-table-cell"
values='['
for r in $(seq 0 15); do
  row='['
  for c in $(seq 0 15); do row+="$((35 + 2 * r + 3 * c)),"; done
  values+="${row%,}],"
done
values="${values%,}]"
show set-table -p "$project" --id veTable1Tbl --values "$values"
show set-table-cell -p "$project" --id veTable1Tbl --row 2 --col 3 --value 87.4 -f text

step "Set the RPM and load axes element by element with set-field, then read the table back"
show set-field -p "$project" --name rpmBins --index 0 --value 500 -f text
i=0
for rpm in 500 800 1200 1600 2000 2500 3000 3500 4000 4500 5000 5500 6000 6500 7000 7500; do
  "$cli" set-field -p "$project" --name rpmBins --index $i --value $rpm --offline >/dev/null
  "$cli" set-field -p "$project" --name fuelLoadBins --index $i --value $((16 + 12 * i)) --offline >/dev/null
  i=$((i + 1))
done
echo "(15 more RPM bins and 16 load bins set the same way)"
show get-table -p "$project" --id veTable1Tbl -f text

step "Scalars and bit fields: required fuel, cylinders, injector layout"
show set-scalar -p "$project" --name reqFuel --value 9.87
show set-scalar -p "$project" --name reqFuel --value 99 -f text
show set-bits -p "$project" --name nCylinders --value 4
show set-bits -p "$project" --name injLayout --value 3 -f text
show get-scalar -p "$project" --name reqFuel -f text
show get-field -p "$project" --name nCylinders -f text

step "A curve: warm-up enrichment over coolant temperature"
i=0
for clt in -40 -26 10 19 28 37 50 65 80 90; do
  "$cli" set-curve-point -p "$project" --id warmup_curve --index $i --value 100 --offline >/dev/null
  "$cli" set-field -p "$project" --name wueBins --index $i --value $clt --offline >/dev/null
  i=$((i + 1))
done
show set-curve -p "$project" --id warmup_curve --values '[180, 175, 168, 154, 140, 128, 116, 108, 102, 100]' -f text
show get-curve -p "$project" --id warmup_curve

step "A command that fails its checks leaves the tune file alone"
before=$(sha256sum "$work/demo/Demo.tktune")
show set-table -p "$project" --id veTable1Tbl --values '[1, 2]' || true
show get-table -p "$project" --id noSuchTable -f text || true
after=$(sha256sum "$work/demo/Demo.tktune")
[ "$before" = "$after" ] && echo "tune file unchanged"

step "Live data from the simulated engine: read-channels, then 3 s of datalog read back"
show read-channels -p "$project" -f text
show read-channels -p "$project" --channels rpm,map,coolant --count 3
show datalog -p "$project" --duration 3 --output "$work/logs/demo-run"
show dump-mlg "$work/logs/demo-run.mlg" "$work/logs/demo-run.csv"
sed -n '1,7p;/^\[records\]/,+4p' "$work/logs/demo-run.csv"

step "The controller holds what the project holds: sync finds no difference; burn"
show sync -p "$project" -f text
show burn -p "$project"

step "The saved tune file (first lines)"
head -c 600 "$work/demo/Demo.tktune"; echo

step "Stop the simulator; its flash file keeps the burned pages"
stop_sim
ls -l "$work/flash.bin" | awk '{print $5 " bytes of burned pages"}'

step "Find a controller on loopback: the simulator on the bridge port 29001, found by ecu-detect"
if (exec 3<>/dev/tcp/127.0.0.1/29001) 2>/dev/null; then
  echo "(port 29001 is taken on this machine: detection skipped)"
else
  start_sim "$work/sim-tcp.out" --port 29001
  show ecu-detect tcp 127.0.0.1 || true
  stop_sim
fi

step "ecu-smoke over a pseudo-terminal: a write-and-burn cycle that leaves the flash file as it was"
start_sim "$work/sim-pty.out" --pty --flash "$work/smoke-flash.bin"
pty=$(awk '/ready pty/ {print $4}' "$work/sim-pty.out")
"$cli" ecu-smoke examples/speeduino-demo.ini "$pty" >/dev/null # its first burn creates the file
before=$(sha256sum <"$work/smoke-flash.bin")
show ecu-smoke examples/speeduino-demo.ini "$pty"
[ "$before" = "$(sha256sum <"$work/smoke-flash.bin")" ] && echo "flash file byte-identical"
stop_sim
