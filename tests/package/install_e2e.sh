#!/usr/bin/env bash
# Builds the Debian package from a build tree, unpacks it into a throw-away root and checks what
# an administrator gets: the layout, the agent started through its link finding the INI beside
# its real file, --version, the systemd unit, the desktop files, the manual pages, the icons and
# the package's control data.
#   install_e2e.sh BUILD_DIR
set -euo pipefail
source_dir=$(realpath "$(dirname "$0")/../..")
build=$(realpath "$1")
work=$(mktemp -d)
chmod 755 "$work"
agent=
source "$source_dir/scripts/private-cups"
cleanup() {
  [ -n "$agent" ] && kill -KILL "$agent" 2>/dev/null || true
  private_cups_stop
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

(cd "$build" && cpack -G DEB --config CPackConfig.cmake -B "$work/out" >/dev/null) || fail "cpack"
deb=$(ls "$work"/out/parvel_*.deb)
root="$work/root"
dpkg -x "$deb" "$root"

echo "== layout"
[ -x "$root/opt/parvel/parvel" ] || fail "no agent in /opt/parvel"
[ -f "$root/opt/parvel/parvel.INI" ] || fail "no INI beside the agent"
[ "$(readlink "$root/usr/bin/parvel")" = "../../opt/parvel/parvel" ] || fail "/usr/bin/parvel is not a relative link"
[ -x "$root/usr/bin/parvel-printers" ] || fail "no parvel-printers on the path"
for icon in 16x16/apps/parvel.png 32x32/apps/parvel.png 48x48/apps/parvel.png scalable/apps/parvel.svg; do
  [ -s "$root/usr/share/icons/hicolor/$icon" ] || fail "no icon $icon"
done
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/parvel.svg" || fail "the SVG icon is no SVG"
[ "$(stat -c %a "$root/var/spool/parvel")" = 1777 ] || fail "the spool folder is not 1777"

echo "== control data"
dpkg-deb -I "$deb" conffiles | grep -qx /opt/parvel/parvel.INI || fail "the INI is not a configuration file"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libcups2 libqt6core6 libqt6gui6 libqt6widgets6 libc6; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done

echo "== the agent"
version=$("$root/usr/bin/parvel" --version)
[[ "$version" == "parvel "* ]] || fail "--version answers '$version'"
"$root/usr/bin/parvel" --help | grep -q -- --config || fail "--help says nothing of --config"
# Started through the link, the agent reads the INI beside its real file: point it at a spool
# folder of the test, with the default printer of a private CUPS server, and drop a card and a
# card that cannot print (three lines).
private_cups_start "$work/cups"
private_cups_queue card "$source_dir/tests/fixtures/card_cr80.ppd"
private_cups_lpadmin -d card
mkdir -p "$work/spool"
sed -i "s|^PATH=.*|PATH=$work/spool|; s|^TIME=.*|TIME=100|" "$root/opt/parvel/parvel.INI"
printf 'one\ntwo\nthree\n' > "$work/spool/b-short.car"
printf 'Jos\xc3\xa9\n2\n3\n4\n5\n6\n7\n8\n' > "$work/spool/a-card.car"
touch -d '-5 seconds' "$work/spool/b-short.car" "$work/spool/a-card.car"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" "$root/usr/bin/parvel" 2> "$work/stderr" &
agent=$!
for _ in $(seq 1 300); do
  grep -q 'List index out of bounds (3)' "$work/stderr" && break
  kill -0 "$agent" 2>/dev/null || break
  sleep 0.1
done
grep -q 'List index out of bounds (3)' "$work/stderr" || fail "the agent did not poll the INI's folder: $(cat "$work/stderr")"
[ ! -e "$work/spool/a-card.car" ] || fail "the card was not printed"
lpstat -W completed -o card | grep -q '^card-1 ' || lpstat -o card | grep -q '^card-1 ' || fail "no job on the card printer"
kill -TERM "$agent"
status=0
wait "$agent" || status=$?
agent=
[ "$status" = 0 ] || fail "SIGTERM ended the agent with status $status"
[ -f "$work/spool/b-short.car" ] || fail "the card that could not print is gone"
# Without its INI the agent says so and ends with 1.
mv "$root/opt/parvel/parvel.INI" "$root/opt/parvel/away"
status=0
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" "$root/usr/bin/parvel" 2> "$work/stderr" || status=$?
[ "$status" = 1 ] || fail "without its INI the agent ended with $status"
grep -q 'O arquivo de configuração não foi encontrado!' "$work/stderr" || fail "no missing-INI message"

echo "== the systemd unit"
unit="$root/usr/lib/systemd/user/parvel.service"
grep -q '^ExecStart=/usr/bin/parvel$' "$unit" || fail "the unit does not start /usr/bin/parvel"
grep -q '^ExecReload=/bin/kill -HUP \$MAINPID$' "$unit" || fail "the unit does not reload with SIGHUP"
if command -v systemd-analyze >/dev/null; then
  # Verified with the program where the throw-away root has it.
  sed "s|^ExecStart=/usr/bin/parvel|ExecStart=$root/usr/bin/parvel|" "$unit" > "$work/parvel.service"
  systemd-analyze verify --man=no "$work/parvel.service" || fail "systemd-analyze verify"
else
  echo "systemd-analyze is not installed: the unit is not verified"
fi

echo "== desktop files"
desktop-file-validate "$root/usr/share/applications/parvel.desktop" || fail "parvel.desktop"
desktop-file-validate "$root/etc/xdg/autostart/parvel.desktop" || fail "the autostart entry"

echo "== manual pages"
for page in parvel parvel-printers; do
  warnings=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page(1) renders with warnings: $warnings"
  MANWIDTH=80 man -l "$root/usr/share/man/man1/$page.1" 2>/dev/null | grep -q "EXIT STATUS" || fail "$page(1) has no EXIT STATUS"
done
echo "OK"
