#!/usr/bin/env bash
# The installed desktop entry and AppStream metadata pass their validators, name the same id, the
# icon that is installed under that id, and this version's release.
# Usage: desktop_files.sh BUILD_DIR APP_ID VERSION
set -euo pipefail
build=$1
id=$2
version=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
desktop=$prefix/share/applications/$id.desktop
metainfo=$prefix/share/metainfo/$id.metainfo.xml

echo "desktop-file-validate $id.desktop"
desktop-file-validate "$desktop" | tee "$work/desktop.txt"
[ ! -s "$work/desktop.txt" ] || fail "desktop-file-validate reported problems"

echo "appstreamcli validate --no-net $id.metainfo.xml"
appstreamcli validate --no-net "$metainfo" | tee "$work/metainfo.txt"
# Only the pedantic note about capitals in the id may remain: a reverse-DNS id keeps the program's
# name as it is spelled, as desktop ids commonly do.
if grep -E '^[EWI]:' "$work/metainfo.txt"; then fail "appstreamcli reported errors, warnings or infos"; fi

entry() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(entry Name)" = Larkbell ] || fail "desktop entry Name"
[ "$(entry Exec)" = larkbell ] || fail "desktop entry Exec"
[ "$(entry Icon)" = "$id" ] || fail "desktop entry Icon is not the application id"
[ "$(entry StartupNotify)" = true ] || fail "desktop entry StartupNotify"
[ "$(entry Categories)" = "Utility;Clock;" ] || fail "desktop entry Categories"
[ -n "$(entry Keywords)" ] || fail "desktop entry Keywords"
grep -q "<id>$id</id>" "$metainfo" || fail "metainfo id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "metainfo launchable"
grep -q "<release version=\"$version\" date=\"[0-9-]*\"" "$metainfo" || fail "metainfo has no release $version"
grep -q '<content_rating type="oars-1.1"' "$metainfo" || fail "metainfo content rating"
[ "$(grep -c -E '<screenshot( |>)' "$metainfo")" -eq 5 ] || fail "metainfo screenshots"

# PNG icons: the size in the folder name is the size in the file (IHDR width and height).
for size in 16 32 48 64 128 256; do
    png=$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png
    [ -f "$png" ] || fail "no ${size}x${size} icon"
    read -r w h < <(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4, $7*256+$8}')
    [ "$w" -eq "$size" ] && [ "$h" -eq "$size" ] || fail "$png is ${w}x${h}"
done
grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/$id.svg" || fail "no scalable icon"
echo "1 passed, 0 failed"
