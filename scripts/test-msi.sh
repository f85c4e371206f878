#!/usr/bin/env bash
# Installs a Windows build's MSI in a fresh Wine prefix: the files in Program
# Files, every value of the package's Registry table (whose rows
# check-packages.sh checks), the Start-menu shortcut, the shell's view of them
# (qel_explorer_tests' InstalledShell tests); a rebuild of the same version,
# which replaces it (one entry in Apps); on x86-64, the x86 package of the
# sibling build, which refuses 64-bit Windows; an upgrade to a newer version,
# which the older package then cannot undo; and an uninstall that leaves
# nothing behind. Run by ctest in the X session of scripts/test-win32.sh.
# Usage: scripts/test-msi.sh BUILD_DIR
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
dir="$WINEPREFIX/drive_c/Program Files/QelViewer"
# KEY|NAME|DATA as installed: root 2 is HKLM, #N a DWORD, #xHEX binary.
msiinfo export "$msi" Registry | tail -n +4 | tr -d '\r' | cut -f3-5 | tr '\t' '|' |
  sed 's/^/HKLM\\/; s/\[INSTALLDIR\]/C:\\Program Files\\QelViewer\\/g; s/|#\([0-9]\)$/|0x\1/; s/|#x\([0-9A-F]*\)$/|\1/' > "$scratch/keys"
products() {  # the DisplayVersion of each installed QelViewer
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk '/DisplayName +REG_SZ +QelViewer$/ {q = 1} /DisplayVersion/ {v = $NF} /^$/ {if (q) print v; q = 0} END {if (q) print v}'
}
# package VERSION OUT: the build's package again, made as cmake/Msi.cmake makes it, with another version.
package() {
  sed "s/Version=\"$version\"/Version=\"$1\"/" "$build/msi/QelViewer.wxs" > "$build/msi/other.wxs"
  (cd "$build/msi" && wixl -a "$msi_arch" -o "$2" other.wxs 2>/dev/null) &&
    cmake -DMSI="$2" -P cmake/MsiTables.cmake || fail "wixl failed for $1"
  rm -f "$build/msi/other.wxs"
}
shortcut() { find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/QelViewer.lnk'; }

echo "== install $(basename "$msi")"
msiexec /i "$msi" || fail "msiexec /i failed"
[ "$(ls "$dir" 2>/dev/null | tr '\n' ' ')" = "LICENSE.txt QelThumbnail.dll QelViewer.exe README.txt qel.exe " ] ||
  fail "Program Files\\QelViewer holds: $(ls "$dir" 2>/dev/null | tr '\n' ' ')"
[ "$(grep -c . "$scratch/keys")" -ge 9 ] || fail "the package's Registry table: $(cat "$scratch/keys")"
while IFS='|' read -r key name data; do
  if [ -n "$name" ]; then which=(/v "$name"); else which=(/ve); fi
  got=$(wine reg query "$key" "${which[@]}" 2>/dev/null | tr -d '\r' |
    sed -n 's/^    [^ ].*    REG_[A-Z_]*    //p')
  [ "$got" = "$data" ] || fail "$key ${name:-(Default)} is '$got', not '$data'"
done < "$scratch/keys"
[ -n "$(shortcut)" ] || fail "no Start-menu shortcut"
[ "$(products)" = "$version" ] || fail "installed: $(products | tr '\n' ' ')"
wine reg query 'HKCR\QelViewer.PackedPicture' /v TypeOverlay > /dev/null 2>&1 || fail "no empty TypeOverlay"
wine "$build/bin/qel_explorer_tests.exe" --gtest_filter='InstalledShell.*' || fail "the InstalledShell tests failed"

echo "== a rebuild of $version over it"
package "$version" "$scratch/again.msi"
msiexec /i "$scratch/again.msi" || fail "the rebuild did not install"
[ "$(products)" = "$version" ] || fail "after the rebuild: $(products | tr '\n' ' ')"
x86_msi="$(qel_win_build_dir i686)/QelViewer-$version-x86.msi"
if [ "$msi_arch" = x64 ] && [ -f "$x86_msi" ]; then
  echo "== $(basename "$x86_msi") on 64-bit Windows"
  msiexec /i "$(cd "$(dirname "$x86_msi")" && pwd)/$(basename "$x86_msi")" && fail "the x86 package installed beside x64"
  [ "$(products)" = "$version" ] && [ ! -e "$WINEPREFIX/drive_c/Program Files (x86)/QelViewer" ] ||
    fail "after the x86 package: $(products | tr '\n' ' ')"
fi

echo "== upgrade to $newer, then uninstall"
package "$newer" "$scratch/newer.msi"
msiexec /i "$scratch/newer.msi" || fail "the upgrade failed"
msiexec /i "$msi" && fail "$version went over $newer"
[ "$(products)" = "$newer" ] && [ -f "$dir/QelViewer.exe" ] || fail "after the upgrade: $(products | tr '\n' ' ')"
msiexec /x "$scratch/newer.msi" || fail "msiexec /x failed"
[ ! -e "$dir" ] || fail "left behind: $(ls -A "$dir" | tr '\n' ' ')"
while IFS='|' read -r key _; do
  wine reg query "$key" > /dev/null 2>&1 && fail "left behind: $key"
done < "$scratch/keys"
[ -z "$(shortcut)$(products)" ] || fail "left behind: $(shortcut) $(products)"

[ "$failures" -eq 0 ] || { echo "test-msi: $failures problem(s)" >&2; exit 1; }
echo "test-msi: $(basename "$msi") installs, upgrades and uninstalls cleanly"
