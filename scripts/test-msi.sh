#!/usr/bin/env bash
# Installs a Windows build's MSI in a fresh Wine prefix and checks what
# Windows would then hold, upgrades it in place, and uninstalls it:
#   - msiexec /i ... /qn puts the programs, the thumbnail handler, README.txt
#     and the licence into Program Files\QelViewer, a shortcut into the Start
#     menu, and the file type's keys into the registry (reg query);
#   - the shell reaches the installed handler and open verb as Explorer
#     would (qel_explorer_installed_tests, run in the prefix);
#   - a newer version replaces it: one QelViewer stays installed, and the
#     older package then refuses to go over it;
#   - msiexec /x ... /qn leaves neither files nor keys nor the shortcut.
# Run by ctest in the Windows build (cmake/Msi.cmake), inside the X session
# of scripts/test-win32.sh. Usage: scripts/test-msi.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/windows-builds.sh

build=$(cd "$1" && pwd)
case "$(file -b "$build/bin/QelViewer.exe")" in
  PE32+*) arch=x86_64 msi_arch=x64 QEL_WIN64_BUILD_DIR=$build ;;
  *) arch=i686 msi_arch=x86 QEL_WIN32_BUILD_DIR=$build ;;
esac
qel_win_wine_env "$arch"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
msi="$build/QelViewer-$version-$msi_arch.msi"
[ -f "$msi" ] || { echo "test-msi: $msi was not made" >&2; exit 1; }

# A prefix of its own, made fresh: nothing installed before, nothing after.
export WINEPREFIX="$build/msi-wineprefix"
scratch=$(mktemp -d)
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX" "$scratch"
}
trap cleanup EXIT
rm -rf "$WINEPREFIX"
qel_win_prepare_prefix

failures=0
fail() { echo "test-msi: $*" >&2; failures=$((failures + 1)); }
wine() { "$WINELOADER" "$@"; }
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
msiexec() { wine msiexec "$1" "$(winpath "$2")" /qn || fail "msiexec $1 $(basename "$2") failed"; }

install_dir="$WINEPREFIX/drive_c/Program Files/QelViewer"
windows_dir='C:\Program Files\QelViewer'
clsid=$(sed -n 's/^#define QEL_THUMBNAIL_CLSID_TEXT "\(.*\)"/\1/p' plugins/explorer/ThumbnailClsid.h)
progid=QelViewer.PackedPicture
# KEY|NAME ('' for the default value)|DATA: every value the installer writes.
keys=(
  "HKCR\\.qel||$progid"
  "HKCR\\$progid||Packed picture"
  "HKCR\\$progid\\DefaultIcon||$windows_dir\\QelViewer.exe,0"
  "HKCR\\$progid\\shell\\open\\command||\"$windows_dir\\QelViewer.exe\" \"%1\""
  "HKCR\\CLSID\\$clsid||QelViewer thumbnail handler"
  "HKCR\\CLSID\\$clsid\\InprocServer32||$windows_dir\\QelThumbnail.dll"
  "HKCR\\CLSID\\$clsid\\InprocServer32|ThreadingModel|Apartment"
  "HKCR\\.qel\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}||$clsid"
)
query() {  # KEY NAME: the value's data, or nothing (and status 1) when absent
  local out
  if [ -z "$2" ]; then out=$(wine reg query "$1" /ve 2>/dev/null) || return 1
  else out=$(wine reg query "$1" /v "$2" 2>/dev/null) || return 1; fi
  printf '%s\n' "$out" | tr -d '\r' | sed -n 's/^    [^ ].*    REG_[A-Z_]*    //p'
}
installed_versions() {  # the DisplayVersion of every installed QelViewer
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ {name = ""} /DisplayName +REG_SZ +QelViewer$/ {name = 1} /DisplayVersion/ {v = $NF}
         /^$/ {if (name) print v; name = ""; v = ""} END {if (name) print v}'
}
shortcuts() { find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/QelViewer.lnk' 2>/dev/null; }

echo "== $(basename "$msi"): install"
msiexec /i "$msi"
printf '%s\n' LICENSE.txt QelThumbnail.dll QelViewer.exe README.txt qel.exe > "$scratch/expected"
ls "$install_dir" 2>/dev/null | sort > "$scratch/installed" || true
cmp -s "$scratch/expected" "$scratch/installed" ||
  fail "Program Files\\QelViewer holds:"$'\n'"$(cat "$scratch/installed")"
for entry in "${keys[@]}"; do
  IFS='|' read -r key name data <<< "$entry"
  got=$(query "$key" "$name") || { fail "no $key ${name:-(Default)}"; continue; }
  [ "$got" = "$data" ] || fail "$key ${name:-(Default)} is '$got', not '$data'"
done
[ -n "$(shortcuts)" ] || fail "no QelViewer shortcut in the Start menu"
[ "$(installed_versions)" = "$version" ] || fail "installed versions: $(installed_versions | tr '\n' ' ')"

echo "== the shell's view of the installed files"
wine "$build/bin/qel_explorer_installed_tests.exe" || fail "qel_explorer_installed_tests failed"

# The same package one patch level newer, made from this build's .wxs.
IFS=. read -r major minor patch _ <<< "$version"
newer="$major.$minor.$((${patch:-0} + 1))"
echo "== upgrade to $newer"
sed "s/Version=\"$version\"/Version=\"$newer\"/" "$build/msi/QelViewer.wxs" > "$build/msi/QelViewer-newer.wxs"
(cd "$build/msi" && wixl -a "$msi_arch" -o "$scratch/newer.msi" QelViewer-newer.wxs 2>/dev/null) ||
  fail "wixl could not make the newer package"
rm -f "$build/msi/QelViewer-newer.wxs"
msiexec /i "$scratch/newer.msi"
[ "$(installed_versions)" = "$newer" ] ||
  fail "after the upgrade, installed versions: $(installed_versions | tr '\n' ' ')"
[ -f "$install_dir/QelViewer.exe" ] || fail "the upgrade left no QelViewer.exe"
# The older package refuses to go over the newer one.
wine msiexec /i "$(winpath "$msi")" /qn && fail "$(basename "$msi") installed over $newer"
[ "$(installed_versions)" = "$newer" ] ||
  fail "after trying the older package, installed versions: $(installed_versions | tr '\n' ' ')"

echo "== uninstall"
msiexec /x "$scratch/newer.msi"
[ ! -e "$install_dir" ] || fail "left behind: $(ls -A "$install_dir" | tr '\n' ' ')"
for entry in "${keys[@]}"; do
  IFS='|' read -r key name data <<< "$entry"
  wine reg query "$key" > /dev/null 2>&1 && fail "left behind: $key"
done
wine reg query 'HKLM\Software\QelViewer' > /dev/null 2>&1 && fail "left behind: HKLM\\Software\\QelViewer"
[ -z "$(shortcuts)" ] || fail "left behind: $(shortcuts)"
[ -z "$(installed_versions)" ] || fail "still installed: $(installed_versions | tr '\n' ' ')"

if [ "$failures" -ne 0 ]; then
  echo "test-msi: $failures problem(s)" >&2
  exit 1
fi
echo "test-msi: $(basename "$msi") installs, upgrades and uninstalls cleanly"
