#!/usr/bin/env bash
# The installed configurator, end to end: `cmake --install` into a staging
# prefix (DESTDIR), the desktop entry and the AppStream metainfo through their
# validators, the installed program started offscreen (as an unprivileged user
# when this runs as root, and as this user) finding its module and opening its
# server, its settings file in the user's configuration folder, and the Debian
# package's contents and fields.
#   install_test.sh BUILD_DIR [staging|package]
set -euo pipefail
build=$(cd "$1" && pwd)
what=${2:-staging}

work=$(mktemp -d "${TMPDIR:-/tmp}/vxrt7-install-test.XXXXXX")
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }
expect_file() { [ -f "$1" ] || fail "missing $1"; }

# The port a process listens on over TCP, from its sockets in /proc.
listening_port() {
  local pid=$1 inodes line
  inodes=$(find "/proc/$pid/fd" -lname 'socket:*' -printf '%l\n' 2>/dev/null | tr -dc '0-9\n')
  [ -n "$inodes" ] || return 1
  # Columns: sl local_address rem_address st ... inode (10th); st 0A is LISTEN.
  while read -r _ local _ st _ _ _ _ _ inode _; do
    if [ "$st" = "0A" ] && grep -qx "$inode" <<<"$inodes"; then
      echo $((16#${local##*:}))
      return 0
    fi
  done < <(tail -n +2 /proc/net/tcp; tail -n +2 /proc/net/tcp6 2>/dev/null)
  return 1
}

# Starts the installed program as the user id `user` with its own
# HOME, waits until it listens, connects to it, and stops it as a user would
# close it (SIGTERM closes the window).
run_installed() {
  local user=$1 home=$2 prefix=$3
  local err="$home/stderr"
  local run=(env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/.config"
             XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=offscreen
             "$prefix/bin/vxrt7-config" --port "$home/no-such-tty" --listen 0)
  mkdir -p "$home/run" && chmod 700 "$home/run"
  if [ "$user" != "$(id -u)" ]; then
    chown -R "$user" "$home"
    setpriv --reuid="$user" --regid="$user" --clear-groups "${run[@]}" 2>"$err" &
  else
    "${run[@]}" 2>"$err" &
  fi
  local pid=$! port=""
  pids+=("$pid")
  for _ in $(seq 100); do
    port=$(listening_port "$pid") && break
    kill -0 "$pid" 2>/dev/null || { cat "$err" >&2; fail "the installed program ended at start"; }
    sleep 0.1
  done
  [ -n "$port" ] || { cat "$err" >&2; fail "the installed program opened no server (module not found?)"; }
  exec 3<>"/dev/tcp/127.0.0.1/$port" || fail "no connection to the installed program's server"
  exec 3<&- 3>&-
  kill -TERM "$pid"
  # A program ended by a signal says so in its exit code, as the shell does: 128 + 15.
  status=0
  wait "$pid" || status=$?
  [ "$status" -eq 143 ] || fail "the installed program ended with $status on SIGTERM, not 143"
  echo "installed program (uid $user) listened on $port"
}

if [ "$what" = staging ]; then
  stage="$work/stage"
  DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
  prefix="$stage/usr"
  module=$(cd "$prefix" && find lib -name vxrt7-tcp.so)
  [[ "$module" =~ ^lib/([a-z0-9_-]+/)?vxrt7-config/vxrt7-tcp.so$ ]] || fail "the module lies at '$module'"
  for f in bin/vxrt7-config bin/vxrt7-sim bin/vxrt7-cli \
           share/doc/vxrt7-config/UserManual_VX-RT-7.pdf \
           share/applications/ru.veliran.vxrt7_config.desktop \
           share/metainfo/ru.veliran.vxrt7_config.metainfo.xml \
           share/icons/hicolor/scalable/apps/vxrt7-config.svg; do
    expect_file "$prefix/$f"
  done
  for size in 16 24 32 48 64 128 256; do
    png="$prefix/share/icons/hicolor/${size}x${size}/apps/vxrt7-config.png"
    expect_file "$png"
    # The PNG header's width and height (bytes 16-23, big-endian), as rendered from the SVG.
    dims=$(od --endian=big -An -tu4 -j16 -N8 "$png" | tr -s ' ')
    [ "$dims" = " $size $size" ] || fail "$png is not ${size}x${size}: $dims"
  done
  # The command-line tool starts where there is no display.
  version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/vxrt7-cli" --version) ||
    fail "the installed vxrt7-cli does not start"
  [[ "$version" =~ ^vxrt7-cli\ [0-9.]+$ ]] || fail "vxrt7-cli --version printed '$version'"
  # The fleet server's unit: installed, naming the installed tool, not enabled.
  unit="$prefix/lib/systemd/system/vxrt7-fleet.service"
  expect_file "$unit"
  grep -q '^ExecStart=/usr/bin/vxrt7-cli serve --listen ' "$unit" ||
    fail "the fleet unit does not start the installed vxrt7-cli serve: $(grep ExecStart "$unit")"
  [ -z "$(find "$stage" -path '*.wants/*')" ] || fail "the fleet unit is enabled by the install"
  # Nothing is left beside the programs that belongs elsewhere.
  [ ! -e "$prefix/bin/vxrt7-tcp.so" ] || fail "the module lies in bin/"

  desktop-file-validate "$prefix/share/applications/ru.veliran.vxrt7_config.desktop"
  appstreamcli validate --no-net "$prefix/share/metainfo/ru.veliran.vxrt7_config.metainfo.xml"
  grep -qx 'Icon=vxrt7-config' "$prefix/share/applications/ru.veliran.vxrt7_config.desktop" ||
    fail "the desktop entry names another icon"

  # Settings: the installed program keeps them in $XDG_CONFIG_HOME/vxrt7-config/,
  # writes nothing into its own folder even when it could (root), and reads
  # the file it finds there (its keys survive the run).
  chmod -R a-w "$stage"
  users=("$(id -u)")
  if [ "$(id -u)" -eq 0 ]; then users+=("$(id -u nobody)"); fi
  for user in "${users[@]}"; do
    home="$work/home-$user"
    conf="$home/.config/vxrt7-config/Сonfig.ini"
    mkdir -p "$home"
    run_installed "$user" "$home" "$prefix"
    [ -f "$conf" ] || fail "no settings file in the user's configuration folder"
    [ ! -e "$prefix/bin/Сonfig.ini" ] || fail "settings written beside the installed program"
    grep -q 'Server_port=2020' "$conf" || fail "the first run did not write the defaults: $(cat "$conf")"
    printf '[Config]\r\nServer_port=2345\r\nBaudrate=9\r\n[Mine]\r\nKeep=1\r\n' >"$conf"
    run_installed "$user" "$home" "$prefix"
    grep -q 'Server_port=2345' "$conf" || fail "the settings file was not read back: $(cat "$conf")"
    grep -q 'Baudrate=9' "$conf" || fail "the stored baud rate was lost: $(cat "$conf")"
    grep -q 'Keep=1' "$conf" || fail "a section of the settings file was lost"
  done
  # The build-folder program still finds its module beside itself.
  [ -f "$build/bin/vxrt7-tcp.so" ] || fail "the module is missing from the build folder"
  echo "staging install: 1 passed, 0 failed"
else
  out="$work/package"
  (cd "$build" && cpack -G DEB -B "$out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
  deb=$(ls "$out"/vxrt7-config_*.deb)
  contents=$(dpkg-deb -c "$deb")
  grep -qE " \./usr/lib/([a-z0-9_-]+/)?vxrt7-config/vxrt7-tcp\.so\$" <<<"$contents" ||
    fail "the package lacks the module"
  for f in ./usr/bin/vxrt7-config ./usr/bin/vxrt7-sim ./usr/bin/vxrt7-cli \
           ./usr/share/doc/vxrt7-config/UserManual_VX-RT-7.pdf \
           ./usr/share/applications/ru.veliran.vxrt7_config.desktop \
           ./usr/share/metainfo/ru.veliran.vxrt7_config.metainfo.xml \
           ./usr/share/icons/hicolor/scalable/apps/vxrt7-config.svg \
           ./usr/share/icons/hicolor/48x48/apps/vxrt7-config.png \
           ./usr/lib/systemd/system/vxrt7-fleet.service; do
    grep -q " $f\$" <<<"$contents" || fail "the package lacks $f"
  done
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in libqt6widgets6 libqt6network6 libc6; do
    grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
  done
  # No maintainer scripts: the control archive holds the control file and the sums only.
  scripts=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -vE '^\./?$|control$|md5sums$' || true)
  [ -z "$scripts" ] || fail "maintainer scripts in the package: $scripts"
  echo "package $(basename "$deb"): Installed-Size $(dpkg-deb -f "$deb" Installed-Size) KiB, file $(stat -c %s "$deb") bytes"
  echo "Depends: $depends"
  echo "debian package: 1 passed, 0 failed"
fi
