#!/usr/bin/env bash
# Runs the Windows build under Wine, headless: the core's test programs and
# the tool from the zip, against the simulator (the Linux build's vxrt7-sim)
# on pseudo-terminals that Wine sees as COM ports (dosdevices/comN links).
#   scripts/test-windows.sh [WINDOWS_BUILD_DIR] [LINUX_BUILD_DIR]
# (defaults build-win and build; scripts/build-windows.sh makes the first).
# Ends with "N passed, N failed"; the exit status is 0 only when none failed.
set -uo pipefail
cd "$(dirname "$0")/.."
win=$(realpath "${1:-build-win}")
sim=$(realpath "${2:-build}")/bin/vxrt7-sim
zip=$(ls "$win"/vxrt7-cli-*-win64.zip 2>/dev/null | tail -n 1)
for need in "$sim" "$zip" "$win/bin/test_windows.exe"; do
  if [ ! -e "$need" ]; then
    echo "test-windows: $need is missing (build it first)" >&2
    exit 2
  fi
done

# Wine without a display, its prefix in the build folder, made once.
export WINEPREFIX="$win/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
fi
wineserver -p30 # one server for all the runs below, gone 30 s after the last

work=$(mktemp -d /tmp/vxrt7-win.XXXXXX)
sims=()
cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -f "$WINEPREFIX"/dosdevices/com{5,6,7,9}
  rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
check() { # check NAME CONDITION-STATUS [DETAILS]
  if [ "$2" -eq 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $1" >&2
    [ -n "${3:-}" ] && printf '%s\n' "$3" | sed 's/^/    /' >&2
  fi
}

# start_sim COMn ARGS...: the simulator on a pseudo-terminal behind COMn.
start_sim() {
  local com=$1
  shift
  "$sim" "$@" >"$work/$com.out" 2>"$work/$com.err" &
  sims+=($!)
  local tty=""
  for _ in $(seq 100); do
    tty=$(head -n 1 "$work/$com.out" 2>/dev/null)
    [ -n "$tty" ] && break
    sleep 0.1
  done
  ln -sfn "$(realpath "$tty")" "$WINEPREFIX/dosdevices/$(echo "$com" | tr 'A-Z' 'a-z')"
}

printf '%s\n' "9161110001;1" "9161110002;2" >"$work/numbers"
start_sim COM5 --numbers "$work/numbers" --dump "$work/COM5.dump"
start_sim COM6 --no-reply
rm -f "$WINEPREFIX/dosdevices/com9"

# The core's test programs.
for program in test_protocol test_config test_files test_fleet test_windows; do
  out=$(VXRT7_TEST_COM=COM5 VXRT7_TEST_COM_ABSENT=COM9 wine "$win/bin/$program.exe" --gtest_brief=1 2>&1)
  check "$program under Wine" $? "$out"
  printf '%s\n' "$out" | grep -E '^\[  (PASSED|FAILED)  \]' | sed "s/^/$program: /"
done

# The tool from the zip.
mkdir -p "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$zip")
exe=$(ls "$work"/zip/*/vxrt7-cli.exe)
check "the zip holds README.txt" "$([ -s "$(dirname "$exe")/README.txt" ]; echo $?)"
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
bad=$(printf '%s\n' $imports | grep -v -x -E 'kernel32.dll|msvcrt.dll|advapi32.dll|shell32.dll|user32.dll|api-ms-win-.*')
check "vxrt7-cli.exe needs only Windows' own DLLs" "$([ -z "$bad" ]; echo $?)" "imports: $imports"

cd "$work"
cli() { # cli ARGS...: runs the tool; $status, $out (stdout), $err (stderr)
  out=$(wine "$exe" "$@" 2>"$work/stderr" | tr -d '\r')
  status=${PIPESTATUS[0]}
  err=$(tr -d '\r' <"$work/stderr")
}

cli ports
check "ports lists the simulators' ports as free" \
  "$(grep -qx 'COM5: свободен' <<<"$out" && grep -qx 'COM6: свободен' <<<"$out" && ! grep -q COM9 <<<"$out"; echo $?)" "$out"

cli info --port COM5
check "info: exit 0" "$status" "$out$err"
check "info: the device's greeting" \
  "$(grep -qx 'COM5 | успешно | Прибор "Велиран", версия ПО: 30' <<<"$out"; echo $?)" "$out"

cli --json info --port COM5
check "info --json names the port" "$(grep -q '"port":"COM5"' <<<"$out"; echo $?)" "$out"

# A read into a file with a Cyrillic name and a backslash path; the backup
# goes under %LOCALAPPDATA%.
cli read --port COM5 -o 'Z:'"${work//\//\\}"'\объект.fcd'
check "read: exit 0" "$status" "$out$err"
check "read: the numbers came" \
  "$(grep -qx 'COM5 | успешно | Считано: конфигурация и номеров 2' <<<"$out"; echo $?)" "$out"
check "read: the file is there" "$([ -s "$work/объект.fcd" ]; echo $?)"
backup=$(sed -n 's/^COM5: резервная копия //p' <<<"$out")
check "read: the backup is under LOCALAPPDATA" \
  "$(grep -q -E '^C:\\users\\[^\\]+\\AppData\\Local\\vxrt7-config\\backups\\device-1_[-0-9_]+\.fcd$' <<<"$backup" &&
     cmp -s "$(winepath -u "$backup" 2>/dev/null)" "$work/объект.fcd"; echo $?)" "$backup"

printf '%s\r\n' "1;9162220021" "2;9162220022" "3;9162220023" >"$work/новые.csv"
cli numbers import новые.csv объект.fcd -o объект-2.fcd
check "numbers import: exit 0" "$status" "$out$err"

cli write --port COM5 объект-2.fcd
check "write: exit 0" "$status" "$out$err"
check "write: written and read back" \
  "$(grep -qx 'COM5 | успешно | Записано и проверено: конфигурация и номеров 5 (изменено ячеек: 3)' <<<"$out"; echo $?)" "$out"

cli diff --port COM5 объект-2.fcd
check "diff --port: the device holds the file" "$status" "$out$err"

cli diff объект.fcd объект-2.fcd
check "diff of two files: exit 1, the added numbers named" \
  "$([ "$status" -eq 1 ] && grep -q 'добавлен 9162220021' <<<"$out"; echo $?)" "$out$err"

# A firmware image: "VXRT", its version, then the body.
{ printf 'VXRT\x1f'; head -c 1000 /dev/zero | tr '\0' '\125'; } >"$work/прошивка.bin"
cli flash --port COM5 прошивка.bin
check "flash: exit 0" "$status" "$out$err"

cli info --port COM6
check "info on a device that never answers: exit 1" "$([ "$status" -eq 1 ]; echo $?)" "$out$err"
cli info --port COM9
check "info on a port with nothing behind it: exit 3" "$([ "$status" -eq 3 ]; echo $?)" "$out$err"
check "info on COM9: the reason" "$(grep -q 'не найдено' <<<"$out$err"; echo $?)" "$out$err"
cli diff объект.fcd нет-такого.fcd
check "a file that is not there: exit 2 and the reason" \
  "$([ "$status" -eq 2 ] && grep -q 'нет-такого.fcd' <<<"$err"; echo $?)" "$err"

# A device that goes away while its numbers are read (the simulator ends
# once the read has begun; at 9600 baud the 300 numbers take seconds): the
# port is lost, exit 3, with how many numbers came.
for i in $(seq 1 300); do echo "91600$(printf %05d "$i");$i"; done >"$work/many"
start_sim COM7 --numbers "$work/many" --baud 9600 --trace "$work/COM7.trace"
lost_sim=${sims[-1]}
(for _ in $(seq 600); do
   grep -q READ "$work/COM7.trace" 2>/dev/null && break
   sleep 0.05
 done
 kill "$lost_sim") &
cli read --port COM7 -o lost.fcd
wait "$lost_sim" 2>/dev/null
check "a device lost during the read: exit 3, the numbers that came" \
  "$([ "$status" -eq 3 ] && grep -q 'Потеряна связь с портом COM7 (устройство отключено); чтение номеров прервано: считано [0-9]* номеров' <<<"$out"; echo $?)" "$out$err"

# On a terminal Wine gives the tool a console: the texts go there as UTF-16
# and come out readable.
out=$(script -qec "wine '$exe' diff нет.fcd другой.fcd" /dev/null </dev/null | tr -d '\r')
check "a console shows the Russian texts" \
  "$(grep -q 'vxrt7-cli: Не удается открыть файл «нет.fcd»: файл или папка не найдены' <<<"$out"; echo $?)" "$out"

# What the simulated device holds now: the programmed image and the numbers.
kill "${sims[0]}"
wait "${sims[0]}" 2>/dev/null
image=$(sed -n 's/^image=//p' "$work/COM5.dump")
check "flash: the device holds the image" \
  "$([ "${#image}" -ge 2000 ] && [ "${image:0:8}" = 55555555 ]; echo $?)" "image=${image:0:40}..."
check "write: the device holds five numbers" \
  "$(grep -qx 'numbers=5' "$work/COM5.dump"; echo $?)" "$(head -n 12 "$work/COM5.dump")"

echo "Windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
