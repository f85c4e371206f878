#!/usr/bin/env bash
# Installs a Windows build's MSI in a fresh Wine prefix: the files in Program
# Files, the registry values (reg query), the Start-menu shortcut; the shell's
# view of them (qel_explorer_installed_tests); an upgrade to a newer version,
# which the older package then cannot undo; and an uninstall that leaves
# nothing behind. Run by ctest in the Windows build (cmake/Msi.cmake) inside
# the X session of scripts/test-win32.sh. Usage: scripts/test-msi.sh BUILD_DIR
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
IFS=. read -r major minor patch _ <<< "$version"
newer="$major.$minor.$((${patch:-0} + 1))"

export WINEPREFIX="$build/msi-wineprefix"
scratch=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX" "$scratch"' EXIT
rm -rf "$WINEPREFIX"
qel_win_prepare_prefix

failures=0
fail() { echo "test-msi: $*" >&2; failures=$((failures + 1)); }
wine() { "$WINELOADER" "$@"; }
msiexec() { wine msiexec "$1" "Z:${2//\//\\}" /qn; }
dir="$WINEPREFIX/drive_c/Program Files/QelViewer" win_dir='C:\Program Files\QelViewer'
clsid=$(sed -n 's/^#define QEL_THUMBNAIL_CLSID_TEXT "\(.*\)"/\1/p' plugins/explorer/ThumbnailClsid.h)
# KEY|VALUE NAME (empty: the default)|DATA
keys=("HKCR\\.qel||QelViewer.PackedPicture"
  "HKCR\\QelViewer.PackedPicture||Packed picture"
  "HKCR\\QelViewer.PackedPicture\\DefaultIcon||$win_dir\\QelViewer.exe,0"
  "HKCR\\QelViewer.PackedPicture\\shell\\open\\command||\"$win_dir\\QelViewer.exe\" \"%1\""
  "HKCR\\CLSID\\$clsid||QelViewer thumbnail handler"
  "HKCR\\CLSID\\$clsid\\InprocServer32||$win_dir\\QelThumbnail.dll"
  "HKCR\\CLSID\\$clsid\\InprocServer32|ThreadingModel|Apartment"
  "HKCR\\.qel\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}||$clsid"
  "HKLM\\Software\\QelViewer|StartMenuShortcut|0x1")
query() {  # KEY NAME: the data, status 1 when absent
  local out
  out=$(wine reg query "$1" $([ -n "$2" ] && echo "/v $2" || echo /ve) 2>/dev/null) || return 1
  printf '%s\n' "$out" | tr -d '\r' | sed -n 's/^    [^ ].*    REG_[A-Z_]*    //p'
}
installed() {  # DisplayVersion of each installed QelViewer
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ {q = 0} /DisplayName +REG_SZ +QelViewer$/ {q = 1} /DisplayVersion/ {v = $NF}
         /^$/ {if (q) print v; q = 0} END {if (q) print v}'
}
shortcut() { find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/QelViewer.lnk'; }

echo "== install $(basename "$msi")"
msiexec /i "$msi" || fail "msiexec /i failed"
[ "$(ls "$dir" 2>/dev/null | tr '\n' ' ')" = "LICENSE.txt QelThumbnail.dll QelViewer.exe README.txt qel.exe " ] ||
  fail "Program Files\\QelViewer holds: $(ls "$dir" 2>/dev/null | tr '\n' ' ')"
for entry in "${keys[@]}"; do
  IFS='|' read -r key name data <<< "$entry"
  got=$(query "$key" "$name") || { fail "no $key ${name:-(Default)}"; continue; }
  [ "$got" = "$data" ] || fail "$key ${name:-(Default)} is '$got', not '$data'"
done
[ -n "$(shortcut)" ] || fail "no Start-menu shortcut"
[ "$(installed)" = "$version" ] || fail "installed: $(installed | tr '\n' ' ')"
wine "$build/bin/qel_explorer_installed_tests.exe" || fail "qel_explorer_installed_tests failed"

echo "== upgrade to $newer, then uninstall"
sed "s/Version=\"$version\"/Version=\"$newer\"/" "$build/msi/QelViewer.wxs" > "$build/msi/newer.wxs"
(cd "$build/msi" && wixl -a "$msi_arch" -o "$scratch/newer.msi" newer.wxs 2>/dev/null) || fail "wixl failed"
rm -f "$build/msi/newer.wxs"
msiexec /i "$scratch/newer.msi" || fail "the upgrade failed"
msiexec /i "$msi" && fail "$version went over $newer"
[ "$(installed)" = "$newer" ] && [ -f "$dir/QelViewer.exe" ] || fail "after the upgrade: $(installed | tr '\n' ' ')"
msiexec /x "$scratch/newer.msi" || fail "msiexec /x failed"
[ ! -e "$dir" ] || fail "left behind: $(ls -A "$dir" | tr '\n' ' ')"
for entry in "${keys[@]}"; do
  wine reg query "${entry%%|*}" > /dev/null 2>&1 && fail "left behind: ${entry%%|*}"
done
[ -z "$(shortcut)$(installed)" ] || fail "left behind: $(shortcut) $(installed)"

[ "$failures" -eq 0 ] || { echo "test-msi: $failures problem(s)" >&2; exit 1; }
echo "test-msi: $(basename "$msi") installs, upgrades and uninstalls cleanly"
