#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the Debian package and checks what it holds and needs; as root, also
# installs it, checks the file association, and removes it again.
set -uo pipefail

source_dir=${VELTRANE_SOURCE_DIR:?VELTRANE_SOURCE_DIR is not set}
build_dir=${VELTRANE_BUILD_DIR:?VELTRANE_BUILD_DIR is not set}
samples=$source_dir/samples

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
need() {
  command -v "$1" >/dev/null || { echo "40-package: '$1' is missing (./setup installs it)" >&2; exit 1; }
}
for tool in cpack dpkg-deb desktop-file-validate xmllint update-mime-database mimetype xdg-mime gzip; do need "$tool"; done

work=$(mktemp -d "${TMPDIR:-/tmp}/veltrane-package-XXXXXX")
installed_here=no
cleanup() {
  if [ "$installed_here" = yes ]; then run_dpkg -P veltrane >/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

# --- Build -------------------------------------------------------------------
cmake --build "$build_dir" >/dev/null || { echo "40-package: build failed" >&2; exit 1; }
if ! (cd "$build_dir" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1); then
  cat "$work/cpack.log" >&2
  echo "40-package: cpack failed" >&2
  exit 1
fi
shopt -s nullglob
debs=("$work"/out/veltrane_*.deb)
shopt -u nullglob
[ ${#debs[@]} -eq 1 ] || { echo "40-package: expected one veltrane_*.deb, found ${#debs[@]}" >&2; exit 1; }
deb=${debs[0]}
pass "built $(basename "$deb")"

# --- Control fields ----------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = veltrane ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = 2.0.1 ] || fail "Version is '$(field Version)'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Section)" ] || fail "no Section"
depends=$(field Depends)
depends_names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/^ *//; s/[ (].*//')
for package in libqt6widgets6 libqt6gui6 libqt6core6 fonts-noto-cjk fonts-noto-core qt6-translations-l10n \
               shared-mime-info desktop-file-utils libc6 libstdc++6; do
  grep -qxF "$package" <<<"$depends_names" || fail "Depends lacks $package: $depends"
done
twice=$(sort <<<"$depends_names" | uniq -d | tr '\n' ' ')
[ -z "$twice" ] || fail "Depends names a package more than once ($twice): $depends"
for word in MARCXML MARC-in-JSON 'JSON Lines' 'mnemonic text' UTF-8 MARC-8 GB18030; do
  grep -qF "$word" <<<"$(field Description | tr '\n' ' ' | tr -s ' ')" || fail "the description does not mention $word"
done
pass "control fields (Depends: $depends)"

# --- Contents ------------------------------------------------------------------
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >"$work/contents"
expected=(
  /usr/bin/veltrane
  /usr/bin/veltrane-cli
  /usr/share/applications/veltrane.desktop
  /usr/share/mime/packages/veltrane.xml
  /usr/share/man/man1/veltrane.1.gz
  /usr/share/man/man1/veltrane-cli.1.gz
  /usr/share/icons/hicolor/scalable/apps/veltrane.svg
  /usr/share/doc/veltrane/copyright
  /usr/share/veltrane/servers.conf
)
icon_sizes=(16 22 24 32 48 64 128 256)
for size in "${icon_sizes[@]}"; do expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/veltrane.png"); done
for path in "${expected[@]}"; do
  grep -qxF "$path" "$work/contents" || fail "package lacks $path"
done
# Nothing outside /usr, and nothing of the build or test tree.
if grep -v -e '^/usr/' -e '^/$' "$work/contents" | grep -q .; then fail "files outside /usr: $(grep -v '^/usr/' "$work/contents" | tr '\n' ' ')"; fi
if grep -Eqi 'test|bench|fuzz|\.a$|\.h$' "$work/contents"; then fail "build or test files packaged: $(grep -Ei 'test|bench|fuzz|\.a$|\.h$' "$work/contents" | tr '\n' ' ')"; fi
pass "contents ($(grep -c '[^/]$' "$work/contents") files)"

root=$work/root
dpkg-deb -x "$deb" "$root"
for program in veltrane veltrane-cli; do
  [ -x "$root/usr/bin/$program" ] || fail "/usr/bin/$program is not executable"
done
grep -qx 'License: Apache-2.0' "$root/usr/share/doc/veltrane/copyright" || fail "the copyright file does not name Apache-2.0"

# --- Desktop entry -------------------------------------------------------------
desktop=$root/usr/share/applications/veltrane.desktop
if out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ]; then pass "desktop entry validates"; else fail "desktop-file-validate: $out"; fi
entry() { awk -v key="$1=" 'index($0, key) == 1 { print substr($0, length(key) + 1); exit }' "$desktop"; }
declare -A wanted_entries=(
  [Name]=Veltrane [Exec]="veltrane %F" [Icon]=veltrane [MimeType]="application/marc;"
  [Categories]="Office;Viewer;" [Type]=Application
)
for key in "${!wanted_entries[@]}"; do
  [ "$(entry "$key")" = "${wanted_entries[$key]}" ] || fail "desktop entry $key is '$(entry "$key")', not '${wanted_entries[$key]}'"
done
for key in "GenericName[zh_CN]" "Comment[zh_CN]" GenericName Comment; do
  [ -n "$(entry "$key")" ] || fail "desktop entry has no $key"
done

# --- Icons: each PNG is square at its nominal size -------------------------------
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{printf "%d %d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}'; }
for size in "${icon_sizes[@]}"; do
  icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/veltrane.png
  [ -f "$icon" ] || continue
  [ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$size px icon is not a PNG"
  [ "$(png_size "$icon")" = "$size $size" ] || fail "$size px icon measures $(png_size "$icon")"
done
xmllint --noout "$root/usr/share/icons/hicolor/scalable/apps/veltrane.svg" || fail "the SVG icon is not well-formed"

# --- Manual pages --------------------------------------------------------------
for page in veltrane veltrane-cli; do
  file=$root/usr/share/man/man1/$page.1.gz
  [ -f "$file" ] || continue
  gzip -t "$file" || fail "$page.1.gz is not valid gzip"
  if command -v groff >/dev/null; then
    warnings=$(zcat "$file" | groff -k -man -ww -z -Tutf8 2>&1)
    [ -z "$warnings" ] || fail "$page.1 has troff warnings: $warnings"
  fi
  if command -v man >/dev/null && command -v col >/dev/null; then
    MANWIDTH=80 man -l "$file" 2>/dev/null | col -b >"$work/$page.txt"
    for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" "SEE ALSO"; do
      grep -qx "$section" "$work/$page.txt" || fail "$page.1 has no $section section"
    done
  fi
done
if [ -s "$work/veltrane-cli.txt" ]; then
  for command in count index show find extract charset convert check fetch; do
    grep -Eq "^ +$command " "$work/veltrane-cli.txt" || fail "veltrane-cli.1 does not describe '$command'"
  done
fi
pass "manual pages"

# --- MIME type, in a private database ------------------------------------------
xml=$root/usr/share/mime/packages/veltrane.xml
xmllint --noout "$xml" || fail "veltrane.xml is not well-formed"
mime_home=$work/mime-home
mkdir -p "$mime_home/mime/packages"
cp /usr/share/mime/packages/freedesktop.org.xml "$xml" "$mime_home/mime/packages/"
if ! out=$(update-mime-database "$mime_home/mime" 2>&1) || grep -qi -e error -e warning <<<"$out"; then
  fail "update-mime-database: $out"
fi

# Sample files: each with the type it must be given.
files=$work/files
mkdir -p "$files"
first_record=$(head -c 5 "$samples/sample.mrc")
head -c "$((10#$first_record))" "$samples/sample.mrc" >"$files/one-record.iso"
cp "$samples/sample.mrc" "$files/records.mrc"
cp "$samples/sample.mrc" "$files/records-without-extension"
# An ISO 9660 image: zeroed system area, then the primary volume descriptor at 32 KiB.
head -c 40960 /dev/zero >"$files/disk.iso"
printf '\001CD001\001' | dd of="$files/disk.iso" bs=1 seek=32768 conv=notrunc status=none
# Five digits alone do not make a record: a number list is no record file.
printf '12345\n67890\n13579\n24680\n' >"$files/numbers.iso"
declare -A mime_cases=(
  [one-record.iso]=application/marc
  [records.mrc]=application/marc
  [records-without-extension]=application/marc
  [disk.iso]=application/x-cd-image
  [numbers.iso]=application/x-cd-image
)
for name in "${!mime_cases[@]}"; do
  got=$(XDG_DATA_HOME=$mime_home XDG_DATA_DIRS=/usr/share mimetype --brief "$files/$name")
  [ "$got" = "${mime_cases[$name]}" ] || fail "private database: $name is $got, not ${mime_cases[$name]}"
done
comment=$(XDG_DATA_HOME=$mime_home XDG_DATA_DIRS=/usr/share LANGUAGE=zh_CN LC_ALL=C.UTF-8 mimetype --describe "$files/records.mrc" 2>/dev/null)
[ -n "$comment" ] || fail "no description for application/marc"
grep -q 'xml:lang="zh_CN"' "$mime_home/mime/application/marc.xml" || fail "the MIME type has no zh_CN comment"
pass "MIME type in a private database"

# --- Install, associate, remove (root only) --------------------------------------
if [ "$(id -u)" -ne 0 ]; then
  echo "40-package: SKIPPED installing the package: not root (run as root to check install and removal)"
  [ $failures -eq 0 ] && exit 77 || exit 1
fi
# Two test runs on one machine take turns at installing.
exec 9>"${TMPDIR:-/tmp}/veltrane-package-test.lock"
flock -w 900 9 || { echo "40-package: another run holds the install lock" >&2; exit 1; }
# dpkg refuses at once while apt or another dpkg holds its lock: wait for it.
run_dpkg() {
  local attempt out
  for attempt in $(seq 60); do
    if out=$(DEBIAN_FRONTEND=noninteractive dpkg "$@" 2>&1); then return 0; fi
    grep -qi 'lock' <<<"$out" || { echo "$out"; return 1; }
    sleep 5
  done
  echo "$out"
  return 1
}
if dpkg-query -W -f='${Status}' veltrane 2>/dev/null | grep -q 'install ok installed'; then
  echo "40-package: SKIPPED installing the package: a veltrane package is installed already and is left alone"
  [ $failures -eq 0 ] && exit 77 || exit 1
fi

# xdg-mime as on a desktop without a session: the shared-mime-info database and
# the desktop-file cache, with no user overrides.
clean_xdg() {
  env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u KDE_FULL_SESSION -u GNOME_DESKTOP_SESSION_ID \
    -u MATE_DESKTOP_SESSION_ID -u LXQT_SESSION_CONFIG -u DISPLAY -u WAYLAND_DISPLAY \
    HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
    XDG_CONFIG_DIRS=/etc/xdg XDG_DATA_DIRS=/usr/local/share:/usr/share "$@"
}
mkdir -p "$work/home"
marc_type_file=/usr/share/mime/application/marc.xml
had_marc_type=no
[ -e "$marc_type_file" ] && had_marc_type=yes

if ! out=$(run_dpkg -i "$deb"); then
  fail "dpkg -i: $out"
  run_dpkg -P veltrane >/dev/null
  exit 1
fi
installed_here=yes
pass "installed"

default_app=$(clean_xdg xdg-mime query default application/marc)
[ "$default_app" = veltrane.desktop ] || fail "xdg-mime query default application/marc gives '$default_app'"
for name in one-record.iso records.mrc disk.iso; do
  got=$(clean_xdg xdg-mime query filetype "$files/$name")
  [ "$got" = "${mime_cases[$name]}" ] || fail "xdg-mime query filetype $name gives '$got', not '${mime_cases[$name]}'"
done
missing_libraries=$(ldd /usr/bin/veltrane /usr/bin/veltrane-cli 2>&1 | grep 'not found')
[ -z "$missing_libraries" ] || fail "installed programs miss libraries: $missing_libraries"
version=$(/usr/bin/veltrane-cli --version 2>&1)
grep -q 2.0.1 <<<"$version" || fail "installed veltrane-cli --version says '$version'"
[ "$(/usr/bin/veltrane-cli count "$samples/sample.mrc" 2>&1)" = 3 ] || fail "installed veltrane-cli cannot count the sample"
# The viewer starts and keeps running until stopped (status 124 from timeout).
(cd "$work" && QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/veltrane >/dev/null 2>&1)
status=$?
[ $status -eq 124 ] || fail "installed veltrane did not keep running (exit status $status)"
if command -v man >/dev/null; then
  for page in veltrane veltrane-cli; do
    [ "$(man -w "$page" 2>/dev/null)" = "/usr/share/man/man1/$page.1.gz" ] || fail "man -w $page does not find the installed page"
  done
fi
pass "association and installed programs"

if ! out=$(run_dpkg -P veltrane); then fail "dpkg -P: $out"; fi
installed_here=no
if dpkg-query -W -f='${Status}' veltrane 2>/dev/null | grep -q installed; then fail "dpkg still lists veltrane after purging"; fi
while read -r path; do
  case "$path" in */) continue ;; esac
  [ -e "$path" ] && fail "$path remains after removal"
done <"$work/contents"
if [ "$had_marc_type" = no ] && [ -e "$marc_type_file" ]; then fail "$marc_type_file remains: the MIME database was not updated"; fi
if grep -qs veltrane.desktop /usr/share/applications/mimeinfo.cache; then fail "mimeinfo.cache still names veltrane.desktop"; fi
after=$(clean_xdg xdg-mime query default application/marc)
[ "$after" != veltrane.desktop ] || fail "application/marc still opens with veltrane.desktop after removal"
pass "removed cleanly"

[ $failures -eq 0 ] || { echo "40-package: $failures check(s) failed" >&2; exit 1; }
echo "40-package: all checks passed"
