#!/usr/bin/env bash
# Builds the driver and the ECR simulator, starts both on this machine in
# network mode, submits one sample receipt the way a calling application does,
# shows the result files, and keeps serving jobs until Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
# The manual too, so that `cmake --install build` finds everything it installs.
cmake --build build --target kolibra kolibra-ecr-sim manual

data="$root/demo/data"
settings="$root/demo/settings"
mkdir -p "$data" "$settings"
# Only the driver's user may write the settings folder: the control socket of
# kolibra ctl lives there.
chmod 700 "$settings"

sim_pid=""
driver_pid=""
stop_all() {
  trap - INT TERM EXIT
  echo
  echo "Stopping the driver and the simulator..."
  if [ -n "$driver_pid" ] && kill -0 "$driver_pid" 2>/dev/null; then
    kill -TERM "$driver_pid" 2>/dev/null || true
    wait "$driver_pid" 2>/dev/null || true
  fi
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  exec 3<&- 2>/dev/null || true
  rm -f "$root/demo/sim.fifo"
  echo "Stopped."
}
trap stop_all INT TERM EXIT

# The simulator picks a free port and prints "tcp 127.0.0.1:PORT" first.
rm -f "$root/demo/sim.fifo"
mkfifo "$root/demo/sim.fifo"
build/kolibra-ecr-sim --port 0 >"$root/demo/sim.fifo" 2>"$root/demo/sim.log" &
sim_pid=$!
exec 3<"$root/demo/sim.fifo"
read -r -t 10 first <&3 || { echo "the simulator did not start; see demo/sim.log" >&2; exit 1; }
port=${first##*:}
# Keep draining the simulator's output so that it never blocks on the pipe.
cat <&3 >>"$root/demo/sim.log" &
echo "ECR simulator listening on 127.0.0.1:$port"

# Settings: all four slots on, 500 ms polling, network mode, ECR at 127.0.0.1.
# KBCHKSCO.TXT lines: pass-through, RT footer, payments, network, address,
# trace, fourth payment is a debit card.
printf '1111\r\n' >"$settings/KBCHKCOM.TXT"
printf '500ms\r\n' >"$settings/KBTIMER1.TXT"
printf '0\r\n0\r\n0\r\n1\r\n127.0.0.1\r\n0\r\n0\r\n' >"$settings/KBCHKSCO.TXT"

build/kolibra --headless --settings-dir "$settings" --data-dir "$data" --ecr-port "$port" &
driver_pid=$!

echo "Waiting for the driver to read the ECR configuration (SR_MATR.001)..."
for _ in $(seq 1 300); do
  [ -f "$data/SR_MATR.001" ] && break
  kill -0 "$driver_pid" 2>/dev/null || { echo "the driver ended early" >&2; exit 1; }
  sleep 0.1
done
[ -f "$data/SR_MATR.001" ] || { echo "no SR_MATR.001 after 30 s" >&2; exit 1; }
echo "--- SR_MATR.001"; cat "$data/SR_MATR.001"; echo

# A calling application writes the command file first, then the start file.
printf 'SALE,N1,P1000,:Pane;\r\nSALE,N2,P2.50,Q2,:Latte;\r\nTEND,N1,V1500;\r\n' >"$data/SR_DATI.001.tmp"
mv "$data/SR_DATI.001.tmp" "$data/SR_DATI.001"
printf '1\r\n' >"$data/SR_START.001"
echo "Sample receipt submitted (SR_DATI.001, SR_START.001); waiting for SR_START.001 to go..."
for _ in $(seq 1 600); do
  [ -f "$data/SR_START.001" ] || break
  sleep 0.1
done
[ -f "$data/SR_START.001" ] && { echo "the job did not finish in 60 s" >&2; exit 1; }

for f in FINESCO.001 SR_ERR.001 SR_OUT.001 XON.txt; do
  if [ -f "$data/$f" ]; then
    echo "--- $f"; cat "$data/$f"; echo
  fi
done

cat <<MSG

The driver keeps running. To print another receipt, write a command file and
then a start file into $data, for example:

  printf 'SALE,N1,P350,:Caffe;\r\nTEND,N1;\r\n' > $data/SR_DATI.001
  printf '1\r\n' > $data/SR_START.001

When SR_START.001 is gone, FINESCO.001 (success) or SR_ERR.001 (failure) and
SR_OUT.001 hold the result. From another terminal, see and change what the
operator window would show:

  build/kolibra ctl --settings-dir $settings status
  build/kolibra ctl --settings-dir $settings --help

Press Ctrl-C to stop the driver and the simulator.
MSG
wait "$driver_pid" || true
driver_pid=""
