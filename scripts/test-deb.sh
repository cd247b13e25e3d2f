#!/usr/bin/env bash
# Builds the Debian package and checks it the way it will be used, as root
# on a Debian 12 machine where systemd need not be PID 1: lintian; dpkg -i;
# the unit verified; the unit's command line, run as its user with its
# groups, umask and environment file, prints one receipt that a till user of
# the group kolibra submits to the simulator; kolibra ctl works for that
# user and is refused to another, and its stop is refused under the service;
# kolibra submit and kolibra ctl without folders use the package's (as root
# and as that user, never /usr/bin); the settings files are kolibra's alone
# to write; then dpkg -r and dpkg --purge and what each leaves. Meant for a throw-away machine: a kolibra package already
# installed is purged first, and the users kolibra, kbtill and kbother are
# removed at the end.
# Usage: bash scripts/test-deb.sh
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "test-deb.sh: run as root" >&2; exit 1; }

bash scripts/setup.sh
bash scripts/need-packages.sh --with-recommends lintian systemd dpkg-dev adduser man-db

work=$(mktemp -d)
chmod 755 "$work"
unit=/lib/systemd/system/kolibra.service
settings=/var/lib/kolibra
data=/var/lib/kolibra/data
sim_pid=""
driver_pid=""
cleanup() {
  for pid in $driver_pid $sim_pid; do kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  dpkg --purge kolibra >/dev/null 2>&1 || true
  for u in kbtill kbother kolibra; do userdel "$u" >/dev/null 2>&1 || true; done
  groupdel kolibra >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "test-deb.sh: FAILED: $*" >&2; exit 1; }
check() { local what=$1; shift; "$@" || fail "$what"; echo "ok   $what"; }
# Waits up to $1 tenths of a second for the command to succeed.
wait_for() { local n=$1; shift; for _ in $(seq "$n"); do "$@" && return 0; sleep 0.1; done; return 1; }

echo "== build"
bash packaging/debian/build-deb.sh "$work/dist"
deb=$(echo "$work"/dist/kolibra_*_amd64.deb)
echo "package size: $(stat -c %s "$deb") bytes; installed: $(dpkg-deb -f "$deb" Installed-Size) KiB"

echo "== lintian"
lintian --fail-on error --info --tag-display-limit 0 "$deb" || fail "lintian reports errors"

echo "== install"
# A leftover of an earlier run goes first; the package's dependencies come
# from apt, then dpkg installs the file.
dpkg --purge kolibra >/dev/null 2>&1 || true
userdel kolibra >/dev/null 2>&1 || true
groupdel kolibra >/dev/null 2>&1 || true
mapfile -t deps < <(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/(.*//; s/|.*//; s/ //g' | grep .)
bash scripts/need-packages.sh --with-recommends "${deps[@]}"
dpkg -i "$deb"
for f in /usr/bin/kolibra /usr/bin/kolibra-ecr-sim /usr/share/man/man1/kolibra.1.gz \
  /usr/share/man/man1/kolibra-ecr-sim.1.gz /usr/share/doc/kolibra/mankolibra.pdf \
  /usr/share/doc/kolibra/copyright /usr/share/doc/kolibra/changelog.gz \
  /usr/share/doc/kolibra/examples/data-dir.conf /etc/default/kolibra "$unit"; do
  [ -f "$f" ] || fail "$f not installed"
done
check "programs, manual pages, manual, unit and defaults installed" true
check "system user kolibra in groups kolibra and dialout" \
  test "$(id -Gn kolibra | tr ' ' '\n' | sort | tr '\n' ' ')" = "dialout kolibra "
check "settings folder 750 and data folder 2770, both kolibra:kolibra" \
  test "$(stat -c '%a %U:%G' "$settings" "$data" | tr '\n' ' ')" = "750 kolibra:kolibra 2770 kolibra:kolibra "

echo "== unit"
systemd-analyze verify "$unit"
check "systemd-analyze verify" true
systemd-analyze security --offline=true "$unit" | tail -1

echo "== one receipt with the unit's command line"
useradd -M -N -s /usr/sbin/nologin -G kolibra kbtill
useradd -M -N -s /usr/sbin/nologin kbother
/usr/bin/kolibra-ecr-sim --port 0 >"$work/sim.out" 2>"$work/sim.log" &
sim_pid=$!
wait_for 100 grep -q '^tcp ' "$work/sim.out" || fail "the simulator did not start"
port=$(sed -n 's/^tcp .*:\([0-9]*\)$/\1/p' "$work/sim.out" | head -1)
# Network mode, slot 1 only, 500 ms polling: the settings files of the
# service's user; the ECR's port through the environment file.
runuser -u kolibra -- sh -c "cd $settings && printf '1000\r\n' >KBCHKCOM.TXT &&
  printf '500ms\r\n' >KBTIMER1.TXT && printf '0\r\n0\r\n0\r\n1\r\n127.0.0.1\r\n0\r\n0\r\n' >KBCHKSCO.TXT"
sed -i "s/^KOLIBRA_OPTIONS=.*/KOLIBRA_OPTIONS=\"--ecr-port $port\"/" /etc/default/kolibra

# What systemd would do: the unit's user, group and supplementary groups
# (with the user's own), umask, environment and environment file, and the
# variables that tell a service's program it is one.
key() { sed -n "s/^$1=//p" "$unit" | tail -1; }
user=$(key User)
group=$(key Group)
groups=$(id -Gn "$user" | tr ' ' ','),$(key SupplementaryGroups | tr ' ' ',')
umask_=$(key UMask)
envfile=$(key EnvironmentFile)
env_vars=()
while IFS= read -r line; do env_vars+=("$line"); done < <(sed -n 's/^Environment=//p' "$unit")
(
  set -a
  for v in "${env_vars[@]}"; do export "${v?}"; done
  # shellcheck disable=SC1090
  . "${envfile#-}"
  set +a
  eval "set -- $(key ExecStart)"
  umask "$umask_"
  # setpriv and then kolibra run in this process.
  export INVOCATION_ID=0123456789abcdef0123456789abcdef SYSTEMD_EXEC_PID=$BASHPID
  cd /
  exec setpriv --reuid="$user" --regid="$group" --groups="$groups" --no-new-privs \
    --inh-caps=-all "$@"
) 2>"$work/driver.log" &
driver_pid=$!
wait_for 300 test -f "$data/SR_MATR.001" || { cat "$work/driver.log"; fail "no SR_MATR.001"; }
check "the driver runs as kolibra with the groups kolibra and dialout" \
  grep -q "^Groups:.*\b$(getent group dialout | cut -d: -f3)\b" "/proc/$(pgrep -u kolibra -x kolibra)/status"

# The till's user writes the command file, then the start file.
runuser -u kbtill -- sh -c "umask 007 && printf 'SALE,N1,P1000,:Pane;\r\nTEND,N1;\r\n' >$data/SR_DATI.001 &&
  printf '1\r\n' >$data/SR_START.001"
wait_for 300 test ! -e "$data/SR_START.001" || { cat "$work/driver.log"; fail "the job did not end"; }
check "FINESCO.001 and SR_OUT.001, no SR_ERR.001" \
  test -f "$data/FINESCO.001" -a -f "$data/SR_OUT.001" -a ! -e "$data/SR_ERR.001"
check "the result files belong to the group kolibra and the group reads them" \
  test "$(stat -c '%G %A' "$data/SR_OUT.001")" = "kolibra -rw-rw----"
check "the till's user reads and deletes the results" \
  runuser -u kbtill -- sh -c "cat $data/SR_OUT.001 >/dev/null && rm $data/FINESCO.001 $data/SR_OUT.001"

echo "== kolibra ctl"
check "the socket is kolibra:kolibra 660" \
  test "$(stat -c '%U:%G %a' "$settings/kolibra.sock")" = "kolibra:kolibra 660"
runuser -u kbtill -- kolibra ctl --settings-dir "$settings" status >"$work/status.txt" ||
  fail "kolibra ctl status for a member of the group"
check "kolibra ctl status works for a member of the group" grep -q . "$work/status.txt"
set +e
runuser -u kbother -- kolibra ctl --settings-dir "$settings" status 2>"$work/other.txt"
rc=$?
set -e
check "kolibra ctl is refused to another user (exit 3)" test "$rc" -eq 3
cat "$work/other.txt"
set +e
runuser -u kbtill -- kolibra ctl --settings-dir "$settings" stop 2>"$work/stop.txt"
rc=$?
set -e
cat "$work/stop.txt"
check "kolibra ctl stop is refused under the service (exit 1): systemctl stops it" \
  test "$rc" -eq 1 -a -d "/proc/$driver_pid"
check "the refusal names systemctl stop kolibra" grep -q "systemctl stop kolibra" "$work/stop.txt"

echo "== kolibra submit and kolibra ctl without folders"
printf 'SALE,N1,P500,:Latte;\r\nTEND,N1;\r\n' >"$work/job.txt"
chmod 644 "$work/job.txt"
(cd /usr/bin && kolibra submit --timeout 60 "$work/job.txt") >"$work/submit-root.txt" ||
  { cat "$work/driver.log"; fail "kolibra submit as root without --data-dir"; }
check "root's kolibra submit prints through the package's data folder" grep -q '^finesco' "$work/submit-root.txt"
(cd / && runuser -u kbtill -- kolibra submit --timeout 60 "$work/job.txt") >"$work/submit-till.txt" ||
  { cat "$work/driver.log"; fail "kolibra submit as a member of the group without --data-dir"; }
check "the till user's kolibra submit prints through it too" grep -q '^finesco' "$work/submit-till.txt"
check "no job file beside the program" test -z "$(find /usr/bin -maxdepth 1 \( -name 'SR_*' -o -name '*KB*' \))"
check "root's kolibra ctl status finds the service" sh -c 'cd /usr/bin && kolibra ctl status >/dev/null'
check "the till user's kolibra ctl status finds it too" runuser -u kbtill -- sh -c 'cd / && kolibra ctl status >/dev/null'
echo 'KOLIBRA_DATA_DIR="/srv/kolibra-missing"' >>/etc/default/kolibra
set +e
runuser -u kbtill -- kolibra submit --timeout 5 "$work/job.txt" 2>"$work/missing.txt"
rc=$?
set -e
sed -i '/^KOLIBRA_DATA_DIR=/d' /etc/default/kolibra
check "kolibra submit takes the data folder /etc/default/kolibra names (exit 1, missing)" test "$rc" -eq 1
check "and says so" grep -q "/srv/kolibra-missing : DIR NON ESISTENTE" "$work/missing.txt"

kill -TERM "$driver_pid"
wait "$driver_pid" || fail "the driver did not end cleanly"
driver_pid=""
check "the driver's messages" grep -q "Kolibra terminato" "$work/driver.log"
check "settings files 640 under the unit's umask: only kolibra writes them" \
  test "$(stat -c %a "$settings"/KBCHKCOM.TXT "$settings"/KBTIMER1.TXT "$settings"/KBChkBd.txt \
    "$settings"/KBCHKSCO.TXT | sort -u)" = 640
check "nothing in the settings folder that the group may write" \
  test -z "$(find "$settings" -maxdepth 1 -perm /022 ! -type d)"

echo "== remove and purge"
dpkg -r kolibra
check "removed: programs and unit gone" test ! -e /usr/bin/kolibra -a ! -e "$unit"
check "removed: no driver left running" test -z "$(pgrep -u kolibra || true)"
check "removed: data and settings folders, defaults and user kept" \
  test -d "$data" -a -f "$settings/KBCHKSCO.TXT" -a -f /etc/default/kolibra
id kolibra >/dev/null
dpkg --purge kolibra
check "purged: /var/lib/kolibra and /etc/default/kolibra gone" \
  test ! -e /var/lib/kolibra -a ! -e /etc/default/kolibra
check "purged: the user kolibra stays" id kolibra
echo "test-deb.sh: all checks passed"
