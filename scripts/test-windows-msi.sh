#!/usr/bin/env bash
# The Windows packages, installed as a shop would, in a fresh Wine prefix of
# their own (called by scripts/test-windows.sh once the programs are built):
#  - builds both packages (packaging/windows/build-msi.sh) and an x64 one
#    with a higher version;
#  - installs the x64 package (msiexec /i /qn) and checks the files, the
#    Start-menu shortcuts, the logon start (Run value), the Add/Remove
#    Programs entry, and the data and settings folders with the Users
#    group's rights the install gave them;
#  - prints a receipt sent with the installed kolibra.com submit by the
#    installed kolibra.exe (hidden top-level
#    window, on a virtual display) and its installed settings folder,
#    against the Linux simulator over TCP;
#  - upgrades to the higher version while that kolibra.exe runs: it closes
#    in order (its settings written back) and runs again, found by kolibra
#    ctl under the settings folder's Z: alias too; settings and data stay;
#  - installs a rebuilt package of that version: it replaces the installed
#    one (one entry), Kolibra runs again;
#  - uninstalls: program, shortcuts, Run value and entry gone, data and
#    settings kept;
#  - checks the x86 package's tables with msiinfo.
# Exits non-zero when a check fails; the logs stay in the printed folder then.
#
#   bash scripts/test-windows-msi.sh
set -eu  # no pipefail: grep -q may end a pipe of a large file early
cd "$(dirname "$0")/.."
# shellcheck source=scripts/wine-lib.sh
. scripts/wine-lib.sh

run=$(mktemp -d /tmp/kolibra-msi.XXXXXX)
# No desktop entries in this user's home for the shortcuts the package makes.
wine_env "$run/prefix" "mscoree,mshtml=;winemenubuilder.exe=d"
wine() { scripts/wine-run.sh "$@" </dev/null; }
trap_exit

# One line per step: PASS, or FAIL with what fail collected.
step() {  # NAME
  if [ -z "$step_errors" ]; then pass "$1"; else fail_line "$1: $step_errors"; fi
  step_errors=""
}
need_file() { [ -f "$1" ] || fail "no $(basename "$1")"; }
# Text of a file with CR LF line ends, as the program writes it.
has_text() { [ -f "$1" ] && [ "$(cat "$1")" = "$2" ] || fail "$(basename "$1") is '$(cat "$1" 2>/dev/null | tr '\r\n' '^|')'"; }
regq() { wine reg query "$@" 2>/dev/null | tr -d '\r'; }
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
# The values of the Add/Remove Programs entries named Kolibra.
arp_entries() {
  regq 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
    awk '/^HKEY/ { k = $0 } k != "" { v[k] = v[k] $0 "\n" }
         END { for (k in v) if (v[k] ~ /DisplayName +REG_SZ +Kolibra\n/) printf "%s", v[k] }'
}

# ----------------------------------------------------------------- packages
version=$(build/kolibra --version | awk '{ print $NF }')
next="${version%.*}.$(( ${version##*.} + 1 ))"
echo "== packages $version and $next"
bash packaging/windows/build-msi.sh "$run/dist" >"$run/build.log" 2>&1 &&
  bash packaging/windows/build-msi.sh "$run/dist" --version "$next" --arch x64 >>"$run/build.log" 2>&1 ||
  { tail -n 20 "$run/build.log" >&2; fail "build-msi.sh failed"; }
for m in "$version-x86" "$version-x64" "$next-x64"; do need_file "$run/dist/kolibra-$m.msi"; done
sizes=""
for f in "$run"/dist/*.msi; do [ -f "$f" ] && sizes+="$(basename "$f") $(( $(stat -c %s "$f") / 1024 )) KiB; "; done
step "build-msi.sh: ${sizes%; }"
[ "$failed" -eq 0 ] || exit 1

# The x86 package, which cannot run here: its tables.
x86="$run/dist/kolibra-$version-x86.msi"
table() { msiinfo export "$x86" "$1" | tr -d '\r'; }
[[ $(msiinfo suminfo "$x86") == *"Template: Intel;"* ]] || fail "not an Intel package"
# TABLE|a row's pattern (Perl)|what the row is
while IFS='|' read -r t pattern what; do
  table "$t" | grep -qP -- "$pattern" || fail "$t: no $what"
done <<'ROWS'
File|^kolibra\.exe\tPrograms\tkolibra\.exe\t|kolibra.exe
File|^kolibra\.com\tPrograms\tkolibra\.com\t|kolibra.com
File|^kolibra\.ico\tPrograms\tkolibra\.ico\t|icon
File|^manual\tPrograms\tmankolibra\.pdf\t|manual beside the program
File|^manual\.data\tDataFolder\tmankolibra\.pdf\t|manual in the data folder
Directory|^INSTALLDIR\tProgramFilesFolder\tKolibra$|ProgramFilesFolder\Kolibra
Directory|^DataFolder\tCommonAppDataFolder\tNORVIKKOLIBRA$|data folder
Directory|^SettingsFolder\tCommonAppDataFolder\tKolibra$|settings folder
Shortcut|\tKolibra\tEntries\t\[#kolibra\.exe\]\t--settings-dir "\[SettingsFolder\]\\"\t|Kolibra with the settings folder
Shortcut|\tManuale Kolibra\tEntries\t\[#manual\]\t|Manuale Kolibra
Registry|\t2\tSoftware\\Microsoft\\Windows\\CurrentVersion\\Run\tKolibra\t"\[#kolibra\.exe\]" --settings-dir "\[SettingsFolder\]\\"\t|Run value
CustomAction|^PrepareFolders\t3090\tkolibra\.com\t--prepare-folders --settings-dir "\[SettingsFolder\]\\" --data-dir "\[DataFolder\]\\"|deferred, not impersonated PrepareFolders
CustomAction|^CloseRunning\t1042\tkolibra\.exe\t--close-running\t|deferred CloseRunning whose failure stops the removal
CustomAction|^StartAgain\t1106\tkolibra\.exe\t--start-again --settings-dir "\[SettingsFolder\]\\"|deferred StartAgain
InstallExecuteSequence|^StartAgain\tNOT REMOVE="ALL"\t|StartAgain on install only
Upgrade|^\{6C3B2E1A-4F0D-4B7E-9A51-2D8C0F6E7B13\}\t0\.0\.0\t[0-9]+\.[0-9]+\.[0-9]+\t\t256\t\tWIX_UPGRADE_DETECTED$|upgrade of any older or the same version
LaunchCondition|^NOT WIX_DOWNGRADE_DETECTED\t|refusal of an older package
InstallExecuteSequence|^CloseRunning\tREMOVE="ALL"\t|CloseRunning on removal only
InstallExecuteSequence|^PrepareFolders\tNOT REMOVE="ALL"\t|PrepareFolders on install only
ROWS
seq() { table InstallExecuteSequence | awk -F'\t' -v a="$1" '$1 == a { print $3 }'; }
[ "$(seq RemoveExistingProducts)" -lt "$(seq InstallInitialize)" ] || fail "old version removed after the new files"
[ "$(seq CloseRunning)" -lt "$(seq RemoveFiles)" ] || fail "CloseRunning after RemoveFiles"
[ "$(seq PrepareFolders)" -gt "$(seq InstallFiles)" ] || fail "PrepareFolders before InstallFiles"
[ "$(seq StartAgain)" -gt "$(seq PrepareFolders)" ] || fail "StartAgain before PrepareFolders"
# The same version's maximum is the next one (not included).
[[ $(table Upgrade) == *$'\t0.0.0\t'"${version%%.*}.$(cut -d. -f2 <<<"$version").$(( ${version##*.} + 1 ))"$'\t'* ]] ||
  fail "Upgrade range does not hold $version"
step "x86 package tables (File, Directory, Shortcut, Registry, CustomAction, sequence)"

# ------------------------------------------------------------------ install
if [ -z "${DISPLAY:-}" ]; then
  start_display "$run" || { echo "no virtual display" >&2; exit 1; }
fi
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
msiexec() {  # LOG ARGS...
  local log=$1; shift
  wine msiexec "$@" /qn /l*v "$(winpath "$log")" >/dev/null 2>&1
}
c="$WINEPREFIX/drive_c"
prog="$c/Program Files/Kolibra" data="$c/ProgramData/NORVIKKOLIBRA" settings="$c/ProgramData/Kolibra"
menu="$c/ProgramData/Microsoft/Windows/Start Menu/Programs"

echo "== install $version (fresh prefix)"
msiexec "$run/install.log" /i "$(winpath "$run/dist/kolibra-$version-x64.msi")" || fail "msiexec /i: exit $?"
for f in kolibra.exe kolibra.com kolibra.ico mankolibra.pdf; do need_file "$prog/$f"; done
need_file "$data/mankolibra.pdf"
[ -d "$settings" ] || fail "no settings folder"
# Wine puts a per-machine package's shortcuts into the installing user's
# Start menu; Windows into the common one.
[ -e "$menu/Kolibra.lnk" ] || menu="$c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
for l in Kolibra "Manuale Kolibra"; do need_file "$menu/$l.lnk"; done
strings -el "$menu/Kolibra.lnk" | grep -qF -- '--settings-dir "C:\ProgramData\Kolibra\\"' ||
  fail "Kolibra.lnk: no --settings-dir"
[[ $(regq "$run_key" /v Kolibra) == *'REG_SZ    "C:\Program Files\Kolibra\kolibra.exe" --settings-dir "C:\ProgramData\Kolibra\\"'* ]] ||
  fail "Run value: $(regq "$run_key")"
arp=$(arp_entries)
for v in "Publisher +REG_SZ +Norvik Engineering" "DisplayVersion +REG_SZ +${version%.0.*}.${version##*.}$"; do
  grep -Eq "$v" <<<"$arp" || fail "entry without $v"
done
regq 'HKLM\Software\Classes\Installer\Products' /s | grep -q 'ProductIcon .*kolibra\.ico' || fail "entry without icon"
grep -q 'PrepareFolders. Return value 1' "$run/install.log" || fail "PrepareFolders did not succeed"
# Wine keeps no access lists on files: it shows the rights given to the
# Users group as the group's write bit. The program folder gets none.
for d in "$data" "$settings"; do
  [ $(( 0$(stat -c %a "$d") & 020 )) -ne 0 ] || fail "$(basename "$d") not writable for Users"
done
[ $(( 0$(stat -c %a "$prog") & 020 )) -eq 0 ] || fail "program folder writable for Users"
step "install: files, shortcuts, Run value, entry, folders for all users"

# ------------------------------------------------------------------ receipt
echo "== receipt with the installed kolibra.exe"
start_sim "$run/sim.out" "$run/sim.log" --port 0 || fail "simulator did not start"
printf '1000\r\n' >"$settings/KBCHKCOM.TXT"
printf '200\r\n' >"$settings/KBTIMER1.TXT"
printf '0\r\n0\r\n0\r\n1\r\n127.0.0.1\r\n0\r\n0\r\n' >"$settings/KBCHKSCO.TXT"
# As the Run value starts it, plus the simulator's port.
wine "C:\\Program Files\\Kolibra\\kolibra.exe" --settings-dir 'C:\ProgramData\Kolibra\' --ecr-port "$port" \
  >"$run/kolibra.log" 2>&1 &
driver=$!
pids+=("$driver")
wait_for 60 test -s "$data/SR_MATR.001" || fail "no SR_MATR.001 in the data folder"
# Sent as a calling application would, with the installed console program:
# kolibra.com submit finds the driver's data folder by the same rules.
printf 'SALE,N1,P1000,:Pane;\r\nTEND,N1;\r\n' >"$run/receipt.txt"
wine "C:\\Program Files\\Kolibra\\kolibra.com" submit --slot 1 --timeout 60 "$run/receipt.txt" \
  >"$run/submit.out" 2>"$run/submit.err" </dev/null || fail "kolibra.com submit: exit $? ($(tr -d '\r' <"$run/submit.err"))"
grep -q '^finesco' "$run/submit.out" || fail "kolibra.com submit printed no 'finesco'"
grep -q 'SCONTR. N.' "$run/submit.out" || fail "kolibra.com submit printed no receipt number"
# Read, its results are removed by submit, the slot left clean.
[ ! -e "$data/FINESCO.001" ] && [ ! -e "$data/SR_OUT.001" ] || fail "submit left its results"
has_text "$settings/KBTIMER1.TXT" $'200ms\r'
# The driver's own files take the folder's rights (Wine shows them as mode
# bits): any user of the machine may run the driver there next.
for f in kolibra-data.lock KBJOURNAL.TXT; do
  [ -f "$data/$f" ] && [ $(( 0$(stat -c %a "$data/$f") & 040 )) -ne 0 ] || fail "$f only for its owner"
done
step "receipt through kolibra.com submit: FINESCO and SR_OUT read in C:\\ProgramData\\NORVIKKOLIBRA"

# ------------------------------------------------------------------ upgrade
echo "== upgrade to $next with kolibra.exe running"
printf 'resta\r\n' >"$data/MARKER.TXT"
rm -f "$settings/KBChkBd.txt"  # written back by an orderly close
msiexec "$run/upgrade.log" /i "$(winpath "$run/dist/kolibra-$next-x64.msi")" || fail "msiexec /i: exit $?"
if kill -0 "$driver" 2>/dev/null; then
  fail "kolibra.exe still running"
else
  wait "$driver" || fail "kolibra.exe exit status $?"
fi
has_text "$settings/KBChkBd.txt" $'9600\r'
has_text "$settings/KBCHKCOM.TXT" $'1000\r'
has_text "$data/MARKER.TXT" $'resta\r'
need_file "$prog/kolibra.exe"
need_file "$data/mankolibra.pdf"
arp=$(arp_entries)
grep -Eq "DisplayVersion +REG_SZ +${next%.0.*}.${next##*.}$" <<<"$arp" || fail "entry not at $next"
[ "$(grep -c DisplayName <<<"$arp")" = 1 ] || fail "not one entry"
# Started again for this user by the new program; kolibra ctl finds it
# through another name of the settings folder (its Z: alias) too.
zsettings=$(winpath "$settings")
ctl_status() { wine "C:\\Program Files\\Kolibra\\kolibra.com" ctl --settings-dir "$1" status >/dev/null 2>&1; }
wait_for 30 ctl_status 'C:\ProgramData\Kolibra' || fail "no Kolibra running after the upgrade"
ctl_status "$zsettings" || fail "kolibra ctl through $zsettings found no driver"
step "upgrade: running copy closed in order and started again, settings and data kept"

# A package of the installed version (rebuilt: a new product code) replaces
# it: one Kolibra per machine.
echo "== the same version again, rebuilt"
bash packaging/windows/build-msi.sh "$run/dist2" --version "$next" --arch x64 >>"$run/build.log" 2>&1 ||
  fail "build-msi.sh failed"
msiexec "$run/same.log" /i "$(winpath "$run/dist2/kolibra-$next-x64.msi")" || fail "msiexec /i: exit $?"
[ "$(arp_entries | grep -c DisplayName)" = 1 ] || fail "not one entry: $(arp_entries | grep -c DisplayName)"
wait_for 30 ctl_status 'C:\ProgramData\Kolibra' || fail "no Kolibra running after the same-version install"
step "same version rebuilt: replaces the installed one, Kolibra started again"

# ---------------------------------------------------------------- uninstall
echo "== uninstall"
msiexec "$run/uninstall.log" /x "$(winpath "$run/dist2/kolibra-$next-x64.msi")" || fail "msiexec /x: exit $?"
ctl_status 'C:\ProgramData\Kolibra' && fail "Kolibra still running after the uninstall"
for f in kolibra.exe kolibra.com mankolibra.pdf; do [ ! -e "$prog/$f" ] || fail "$f still installed"; done
[ ! -e "$data/mankolibra.pdf" ] || fail "manual left in the data folder"
for l in Kolibra "Manuale Kolibra"; do [ ! -e "$menu/$l.lnk" ] || fail "$l.lnk left"; done
[[ $(regq "$run_key" /v Kolibra) != *REG_SZ* ]] || fail "Run value left"
[ -z "$(arp_entries)" ] || fail "entry left"
has_text "$data/MARKER.TXT" $'resta\r'
has_text "$settings/KBChkBd.txt" $'9600\r'
step "uninstall: program and entries gone, data and settings kept"

[ "$failed" -eq 0 ]
