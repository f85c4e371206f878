#!/usr/bin/env bash
# Makes the packages people install and checks what is in them:
#   build/qelviewer_<version>_<arch>.deb        from the Linux build in build/,
#     with the file type's package (qel-file-type_<version>_all.deb) and the
#     image plugins' beside it: qel-pixbuf-loader,
#     qt5-image-formats-plugin-qel and qt6-image-formats-plugin-qel
#   build-win32/QelViewer-<version>-win32.zip   from the i686 Windows build
#   build-win64/QelViewer-<version>-win64.zip   from the x86-64 Windows build, where it is configured
#   build-win32/QelViewer-<version>-x86.msi     the Windows installers, from the same builds
#   build-win64/QelViewer-<version>-x64.msi
# (the Windows folders as scripts/windows-builds.sh names them). Run by test.sh
# after the builds.
# Usage: scripts/check-packages.sh [LINUX_BUILD_DIR [WINDOWS_BUILD_DIR...]]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/windows-builds.sh

linux_build=${1:-build}
if [ $# -gt 1 ]; then
  windows_builds=("${@:2}")
else
  # The i686 build always (scripts/test-win32.sh configures it); the x86-64
  # one where it has been configured.
  win32=$(qel_win_build_dir i686)
  win64=$(qel_win_build_dir x86_64)
  if [ ! -f "$win32/CMakeCache.txt" ]; then
    echo "check-packages: $win32 is not configured; run scripts/test-win32.sh first" >&2
    exit 1
  fi
  windows_builds=("$win32")
  [ -f "$win64/CMakeCache.txt" ] && windows_builds+=("$win64")
fi

failures=0
fail() { echo "check-packages: $*" >&2; failures=$((failures + 1)); }

# The version every package must carry: the project's, as CMake read it.
project_version() {
  sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"
}
# The lines only in the first list / only in the second, each file sorted.
compare_lists() {  # WHAT EXPECTED ACTUAL
  local missing extra
  missing=$(comm -23 <(sort "$2") <(sort "$3"))
  extra=$(comm -13 <(sort "$2") <(sort "$3"))
  [ -z "$missing" ] || fail "$1 lacks:"$'\n'"$missing"
  [ -z "$extra" ] || fail "$1 has what it should not:"$'\n'"$extra"
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# ---- The Debian package
version=$(project_version "$linux_build")
[ -n "$version" ] || { echo "check-packages: $linux_build is not a configured build" >&2; exit 1; }
arch=$(dpkg --print-architecture)
deb="$linux_build/qelviewer_${version}_${arch}.deb"
plugin_packages=(qel-pixbuf-loader qt5-image-formats-plugin-qel qt6-image-formats-plugin-qel)
plugin_debs=()
for package in "${plugin_packages[@]}"; do plugin_debs+=("$linux_build/${package}_${version}_${arch}.deb"); done
type_deb="$linux_build/qel-file-type_${version}_all.deb"
rm -f "$deb" "$type_deb" "${plugin_debs[@]}"
cmake --build "$linux_build" --target package
[ -f "$deb" ] || { echo "check-packages: $deb was not made" >&2; exit 1; }
echo "== $deb"

app=io.github.qelviewer.QelViewer
cat > "$scratch/deb-expected" <<EOF
-rwxr-xr-x root/root ./usr/bin/qel
-rwxr-xr-x root/root ./usr/bin/qelviewer
-rw-r--r-- root/root ./usr/share/applications/$app.desktop
-rw-r--r-- root/root ./usr/share/doc/qelviewer/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/qelviewer/copyright
-rw-r--r-- root/root ./usr/share/icons/hicolor/48x48/apps/$app.png
-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/$app.svg
-rw-r--r-- root/root ./usr/share/man/man1/qel.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/qelviewer.1.gz
EOF
# Files with their modes and owners; folders must be rwxr-xr-x root/root.
dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}' > "$scratch/deb-files"
compare_lists "the package" "$scratch/deb-expected" "$scratch/deb-files"
dpkg-deb --contents "$deb" | awk '$1 ~ /^d/ && ($1 != "drwxr-xr-x" || $2 != "root/root") {print}' \
  > "$scratch/bad-dirs"
[ -s "$scratch/bad-dirs" ] && fail "folders with other modes or owners:"$'\n'"$(cat "$scratch/bad-dirs")"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = qelviewer ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = graphics ] || fail "Section: $(field Section)"
for name in Maintainer Homepage Description; do
  [ -n "$(field "$name")" ] || fail "no $name field"
done
# Found by dpkg-shlibdeps in the binaries, not written by hand.
for lib in libc6 libqt6widgets6 libpng16-16 zlib1g; do
  field Depends | grep -q "\b$lib\b" || fail "Depends lacks $lib: $(field Depends)"
done

echo "-- lintian"
lintian --fail-on error,warning "$deb" "$type_deb" "${plugin_debs[@]}" \
  || fail "lintian found errors or warnings"

# The unpacked package on its own: qel runs from there, the entry and the
# file type are sound.
root="$scratch/deb-root"
dpkg-deb -x "$deb" "$root"
printed=$("$root/usr/bin/qel" --version) || fail "the packaged qel --version failed"
[ "$printed" = "qel $version" ] || fail "the packaged qel prints '$printed', not 'qel $version'"
entry="$root/usr/share/applications/$app.desktop"
desktop-file-validate "$entry" || fail "the desktop entry is not valid"
grep -qx "X-QelViewer-Version=$version" "$entry" || fail "the desktop entry does not carry $version"
logged=$(gzip -dc "$root/usr/share/doc/qelviewer/changelog.gz" | dpkg-parsechangelog -l - -S Version)
[ "$logged" = "$version" ] || fail "the changelog's newest entry is $logged, not $version"
head -1 "$root/usr/share/doc/qelviewer/copyright" |
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "the copyright file is not in the machine-readable format"
# ---- The file type's package, which the viewer and every plugin depend on.
echo "== $type_deb"
printf '%s\n' "-rw-r--r-- root/root ./usr/share/doc/qel-file-type/changelog.gz" \
  "-rw-r--r-- root/root ./usr/share/doc/qel-file-type/copyright" \
  "-rw-r--r-- root/root ./usr/share/mime/packages/$app.xml" \
  "-rw-r--r-- root/root ./usr/share/thumbnailers/$app.thumbnailer" > "$scratch/type-expected"
dpkg-deb --contents "$type_deb" | awk '$1 !~ /^d/ {print $1, $2, $6}' > "$scratch/type-files"
compare_lists "qel-file-type" "$scratch/type-expected" "$scratch/type-files"
[ "$(dpkg-deb --field "$type_deb" Architecture)" = all ] || fail "qel-file-type is not Architecture: all"
field Depends | grep -qF "qel-file-type (= $version)" || fail "the viewer does not depend on qel-file-type (= $version)"
# The MIME database the file type gives: *.qel, in that case only, is
# image/x-qel, and the older name an alias of it.
dpkg-deb -x "$type_deb" "$root"
update-mime-database "$root/usr/share/mime" > /dev/null 2>&1 || fail "update-mime-database failed on the package's file type"
grep -qx '[0-9]*:image/x-qel:\*\.qel:cs' "$root/usr/share/mime/globs2" ||
  fail "the file type does not claim *.qel case-sensitively"
grep -qx 'application/x-qel image/x-qel' "$root/usr/share/mime/aliases" ||
  fail "application/x-qel is not an alias of image/x-qel"
# Whichever of the packages are installed, one thumbnailer entry claims the
# type (desktops keep the first they read): the file type's. With qel, it
# draws what `qel thumbnail` draws.
for pdeb in "$deb" "$type_deb" "${plugin_debs[@]}"; do
  dpkg-deb --fsys-tarfile "$pdeb" | tar -xO --wildcards './usr/share/thumbnailers/*' 2>/dev/null || true
done | grep -c '^MimeType=.*image/x-qel;' | grep -qx 1 || fail "not exactly one thumbnailer entry claims image/x-qel"
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/thumbnailers/$app.thumbnailer")
# A 3x2 24-bit sprite, the key colour in the corner.
printf '%b' 'BM\x4e\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x03\0\0\0\x02\0\0\0\x01\0\x18\0\0\0\0\0\x18\0\0\0' \
  '\x13\x0b\0\0\x13\x0b\0\0\0\0\0\0\0\0\0\0\xff\0\xff\x10\x20\x30\x40\x50\x60\0\0\0' \
  '\x70\x80\x90\xa0\xb0\xc0\xd0\xe0\xf0\0\0\0' > "$scratch/sprite.bmp"
"$root/usr/bin/qel" pack -o "$scratch" "$scratch/sprite.bmp" > /dev/null || fail "the packaged qel cannot pack"
"$root/usr/bin/qel" thumbnail -s 64 "$scratch/sprite.qel" "$scratch/want.png" || fail "the packaged qel cannot draw thumbnails"
exec_line=${exec_line//%s/64}; exec_line=${exec_line//%i/\"$scratch\/sprite.qel\"}; exec_line=${exec_line//%o/\"$scratch\/got.png\"}
(PATH="$root/usr/bin:$PATH" && eval "$exec_line") && cmp -s "$scratch/want.png" "$scratch/got.png" ||
  fail "the thumbnailer entry does not draw what qel thumbnail draws: $exec_line"
# Nobody who wants only the viewer pulls in Qt 5 or GdkPixbuf.
field Depends | grep -qE '\b(libqt5[a-z]*|libgdk-pixbuf[-0-9.]*)\b' && fail "the viewer depends on a plugin's host: $(field Depends)"

# ---- The image plugins' packages: one module each, in the folder its host
# reads, depending on that host and not on the viewer.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for package in "${plugin_packages[@]}"; do
  pdeb="$linux_build/${package}_${version}_${arch}.deb"
  [ -f "$pdeb" ] || { fail "$pdeb was not made"; continue; }
  echo "== $pdeb"
  case "$package" in
    qel-pixbuf-loader) module=gdk-pixbuf-2.0/2.10.0/loaders/libpixbufloader-qel.so host=libgdk-pixbuf-2.0-0
      exports='fill_info fill_vtable' ;;
    qt5-*) module=qt5/plugins/imageformats/libqqel.so host=libqt5gui5 exports='qt_plugin_instance qt_plugin_query_metadata' ;;
    qt6-*) module=qt6/plugins/imageformats/libqqel.so host=libqt6gui6 exports='qt_plugin_instance qt_plugin_query_metadata_v2' ;;
  esac
  printf '%s\n' "-rw-r--r-- root/root ./usr/lib/$multiarch/$module" \
    "-rw-r--r-- root/root ./usr/share/doc/$package/changelog.gz" \
    "-rw-r--r-- root/root ./usr/share/doc/$package/copyright" > "$scratch/plugin-expected"
  dpkg-deb --contents "$pdeb" | awk '$1 !~ /^d/ {print $1, $2, $6}' > "$scratch/plugin-files"
  compare_lists "$package" "$scratch/plugin-expected" "$scratch/plugin-files"
  pfield() { dpkg-deb --field "$pdeb" "$1"; }
  [ "$(pfield Package)" = "$package" ] || fail "Package: $(pfield Package), not $package"
  [ "$(pfield Version)" = "$version" ] || fail "$package Version: $(pfield Version)"
  [ "$(pfield Section)" = libs ] || fail "$package Section: $(pfield Section)"
  [ "$(pfield Enhances)" = "$host" ] || fail "$package Enhances: $(pfield Enhances), not $host"
  pfield Depends | grep -q "\b$host\b" || fail "$package Depends lacks $host: $(pfield Depends)"
  pfield Depends | grep -q '\bqelviewer\b' && fail "$package depends on the viewer"
  pfield Depends | grep -qF "qel-file-type (= $version)" || fail "$package does not depend on qel-file-type (= $version)"
  [ "$(pfield Description | head -1)" != "$(field Description | head -1)" ] || fail "$package has the viewer's summary"
  # Only the host's entry points leave the module.
  proot="$scratch/$package"
  dpkg-deb -x "$pdeb" "$proot"
  found=$(nm -D --defined-only "$proot/usr/lib/$multiarch/$module" | awk '$2 == "T" {print $3}' | sort | xargs)
  [ "$found" = "$exports" ] || fail "$package exports '$found', not '$exports'"
done
# GdkPixbuf takes the packaged loader as it is.
query=/usr/lib/$multiarch/gdk-pixbuf-2.0/gdk-pixbuf-query-loaders
"$query" "$scratch/qel-pixbuf-loader/usr/lib/$multiarch/gdk-pixbuf-2.0/2.10.0/loaders/libpixbufloader-qel.so" 2>/dev/null |
  grep -qx '"image/x-qel" "application/zlib" ""' ||
  fail "gdk-pixbuf-query-loaders does not see image/x-qel and application/zlib in the packaged loader"

# ---- The Windows zips
for dir in "${windows_builds[@]}"; do
  zversion=$(project_version "$dir")
  [ "$zversion" = "$version" ] || fail "$dir has version $zversion, $linux_build $version"
  rm -f "$dir"/QelViewer-*.zip
  cmake --build "$dir" --target package
  # The zip is named for the machine the program is built for.
  case "$(file -b "$dir/bin/QelViewer.exe")" in
    PE32+*x86-64*) zarch=win64 triple=x86_64-w64-mingw32 ;;
    PE32\ *Intel*386*) zarch=win32 triple=i686-w64-mingw32 ;;
    *) fail "$dir/bin/QelViewer.exe is no Windows program for x86"; continue ;;
  esac
  zip="$dir/QelViewer-$zversion-$zarch.zip"
  [ -f "$zip" ] || { fail "$zip was not made: $(ls "$dir"/*.zip 2>/dev/null)"; continue; }
  echo "== $zip"

  top="QelViewer-$zversion-$zarch"
  # Each Windows build makes both programs.
  programs=(QelViewer.exe qel.exe)
  printf "$top/%s\n" "${programs[@]}" README.txt LICENSE.txt > "$scratch/zip-expected"
  unzip -Z1 "$zip" | grep -v '/$' > "$scratch/zip-files"
  compare_lists "$zip" "$scratch/zip-expected" "$scratch/zip-files"

  out="$scratch/$zarch"
  unzip -q "$zip" -d "$out"
  for text in README.txt LICENSE.txt; do
    file="$out/$top/$text"
    [ -f "$file" ] || continue
    lines=$(wc -l < "$file")
    crlf=$(grep -c $'\r$' "$file" || true)
    if [ "$lines" -eq 0 ] || [ "$crlf" != "$lines" ]; then
      fail "$text in $zip: $crlf of $lines lines end in CRLF"
    fi
  done
  grep -q "QelViewer $zversion for Windows" "$out/$top/README.txt" ||
    fail "README.txt in $zip does not name version $zversion"
  # Each program's version resource carries the version, for Explorer's
  # Details tab.
  IFS=. read -r major minor patch tweak <<< "$zversion"
  numbers="${major:-0}, ${minor:-0}, ${patch:-0}, ${tweak:-0}"
  for program in "${programs[@]}"; do
    exe="$out/$top/$program"
    [ -f "$exe" ] || continue
    "$triple-windres" -i "$exe" -O rc > "$scratch/resources.rc" ||
      { fail "cannot read the resources of $program"; continue; }
    for wanted in " FILEVERSION $numbers" " PRODUCTVERSION $numbers" \
        "      VALUE \"FileVersion\", \"$zversion\"" "      VALUE \"ProductVersion\", \"$zversion\"" \
        "      VALUE \"OriginalFilename\", \"$program\""; do
      grep -qxF "$wanted" "$scratch/resources.rc" ||
        fail "the version resource of $program in $zip lacks: $wanted"
    done
  done
done

# ---- The Windows installers: their tables, read without Wine (installing
# them is tested under Wine by scripts/test-msi.sh).
upgrade_codes=""
for dir in "${windows_builds[@]}"; do
  case "$(file -b "$dir/bin/QelViewer.exe")" in
    PE32+*) march=x64 template='x64;1033' view=256 ;;
    *) march=x86 template='Intel;1033' view=0 ;;
  esac
  msi="$dir/QelViewer-$(project_version "$dir")-$march.msi"
  cmake --build "$dir" --target msi > /dev/null
  [ -f "$msi" ] || { fail "$msi was not made"; continue; }
  echo "== $msi"
  table() { msiinfo export "$msi" "$1" | tail -n +4 | tr -d '\r'; }
  msiinfo suminfo "$msi" | grep -qx "Template: $template" || fail "$msi is not a $template package"
  table Property | grep -qxF "$(printf 'ProductVersion\t%s' "$(project_version "$dir")")" || fail "$msi: wrong version"
  table Property | grep -qx $'ALLUSERS\t1' || fail "$msi does not install for the whole machine"
  upgrade_codes+=$(table Property | sed -n 's/^UpgradeCode\t//p')$'\n'
  # Each file and registry value with its component; the component's
  # attributes say which registry view (256: the 64-bit one).
  { table File | cut -f2,3; table Registry | cut -f2-6 | tr '\t' '|'; table Shortcut | cut -f2,3,5;
    table Component | cut -f1,4 | awk -F'\t' -v v=$view '{print $1, (int($2 / 256) % 2) * 256 == v}'
  } | sort > "$scratch/msi-tables"
  clsid=$(sed -n 's/^#define QEL_THUMBNAIL_CLSID_TEXT "\(.*\)"/\1/p' plugins/explorer/ThumbnailClsid.h)
  classes='2|Software\Classes'
  id() { sed -n "s/^#define QEL_$1_TEXT \"\(.*\)\"/\1/p" plugins/explorer/DecoderIds.h; }
  decoder=$(id DECODER_CLSID) d="$classes\\CLSID\\$(id DECODER_CLSID)" p="$d\\Patterns\\0"
  i="$classes\\CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance\\$decoder"
  decoder_rows=$(printf '%s|Decoder\n' "$i|CLSID|$decoder" "$i|FriendlyName|QelViewer packed picture decoder" \
    "$d|FriendlyName|QelViewer packed picture decoder" "$d|Author|QelViewer developers" "$d|Vendor|$(id VENDOR)" \
    "$d|Version|$(project_version "$dir")" "$d|ContainerFormat|$(id CONTAINER_FORMAT)" "$d|FileExtensions|.qel" \
    "$d|MimeTypes|image/x-qel" "$d|SupportsAnimation|#0" "$d|SupportChromakey|#1" "$d|SupportsLossless|#1" \
    "$d|SupportsMultiframe|#0" "$d\\Formats\\{6FDDC324-4E03-4BFE-B185-3D77768DC90F}||" "$p|Position|#0" "$p|Length|#2" \
    "$p|Pattern|#x0800" "$p|Mask|#x8F20" "$d\\InprocServer32||[INSTALLDIR]QelThumbnail.dll" "$d\\InprocServer32|ThreadingModel|Both")
  sort > "$scratch/msi-expected" <<TABLES
$(printf '%s\t%s\n' Viewer QelViewer.exe Companion qel.exe Thumbnails QelThumbnail.dll Documents README.txt \
    Documents LICENSE.txt)
$(printf '%s 1\n' Viewer Companion Thumbnails Decoder Documents StartMenu)
$decoder_rows
$classes\\.qel||QelViewer.PackedPicture|Viewer
$classes\\.qel|PerceivedType|image|Viewer
$classes\\.qel|Content Type|image/x-qel|Viewer
$classes\\MIME\\Database\\Content Type\\image/x-qel|Extension|.qel|Viewer
$classes\\QelViewer.PackedPicture||Packed picture|Viewer
$classes\\QelViewer.PackedPicture|TypeOverlay||Viewer
$classes\\QelViewer.PackedPicture\\DefaultIcon||[INSTALLDIR]QelViewer.exe,0|Viewer
$classes\\QelViewer.PackedPicture\\shell\\open\\command||"[INSTALLDIR]QelViewer.exe" "%1"|Viewer
$classes\\CLSID\\$clsid||QelViewer thumbnail handler|Thumbnails
$classes\\CLSID\\$clsid\\InprocServer32||[INSTALLDIR]QelThumbnail.dll|Thumbnails
$classes\\CLSID\\$clsid\\InprocServer32|ThreadingModel|Apartment|Thumbnails
$classes\\.qel\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}||$clsid|Thumbnails
2|Software\\QelViewer|StartMenuShortcut|#1|StartMenu
$(printf 'ProgramMenuFolder\tQelViewer\t[INSTALLDIR]QelViewer.exe')
TABLES
  compare_lists "$msi" "$scratch/msi-expected" "$scratch/msi-tables"
  # A newer version, or a rebuild of this one, replaces the installed one:
  # it finds it (513: up to its own version inclusive) and removes it first.
  table Upgrade | grep -q $'\t513\t\tWIX_UPGRADE_DETECTED$' && table InstallExecuteSequence | grep -q '^RemoveExistingProducts' ||
    fail "$msi does not replace older versions and rebuilds of its own"
  # The shell is told of the file type once the installer is done with it.
  [ "$(table CustomAction)" = $'NotifyAssociationsChanged\t1\tQelMsiActions\tNotifyAssociationsChanged\t' ] &&
    table InstallExecuteSequence | grep -q $'^NotifyAssociationsChanged\t\t6601$' ||
    fail "$msi does not tell the shell that the file type changed: $(table CustomAction)"
  # On 64-bit Windows only the x64 package installs, and the x86 one says so.
  refusal=$(printf 'NOT VersionNT64 OR Installed\t.*On 64-bit Windows, install QelViewer-%s-x64.msi instead.' \
    "$(project_version "$dir")")
  if [ "$march" = x86 ] && ! table LaunchCondition | grep -qx "$refusal"; then
    fail "$msi does not refuse 64-bit Windows naming the x64 package: $(table LaunchCondition)"
  fi
done
[ "$(printf '%s' "$upgrade_codes" | sort -u | grep -c .)" -eq 1 ] ||
  fail "the installers' upgrade codes differ or are missing: $upgrade_codes"

if [ "$failures" -ne 0 ]; then
  echo "check-packages: $failures problem(s)" >&2
  exit 1
fi
echo "check-packages: the $((2 + ${#plugin_packages[@]})) packages, ${#windows_builds[@]} zip(s) and ${#windows_builds[@]} installer(s) are as expected"
