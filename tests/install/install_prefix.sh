#!/usr/bin/env bash
# `cmake --install` into a temporary prefix lays out the program, its data and its desktop files;
# the installed program then starts, finds its sounds and languages in share/larkbell, writes its
# first-start Data.ini, and ends on -close: once with LARKBELL_DATA_DIR, once as an ordinary user
# whose settings go to the user's config folder because bin/ is not writable.
# Usage: install_prefix.sh BUILD_DIR APP_ID
set -euo pipefail
build=$1
id=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

work=$(mktemp -d)
chmod 755 "$work"
cleanup() {
    set +e
    stop_program
    stop_sound_server
    [ "$(id -u)" -ne 0 ] && chmod -R u+w "$work"
    rm -rf "$work"
}
trap cleanup EXIT

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.txt" || { cat "$work/install.txt"; fail "cmake --install"; }
for file in bin/larkbell \
    share/larkbell/Sounds/Birds.mp3 share/larkbell/Sounds/Bells1.mp3 share/larkbell/Langs/en.txt share/larkbell/Langs/de.txt \
    share/larkbell/help/index.html share/larkbell/help/waketimers.html share/larkbell/help/style.css \
    share/larkbell/help/images/main-window.png \
    "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml" \
    "share/icons/hicolor/scalable/apps/$id.svg" "share/icons/hicolor/48x48/apps/$id.png" \
    "share/icons/hicolor/128x128/apps/$id.png"; do
    [ -f "$prefix/$file" ] || fail "not installed: $file"
done
[ -x "$prefix/bin/larkbell" ] || fail "bin/larkbell is not executable"
# Nothing of the build tree's own leftovers ends up installed.
if find "$prefix" -name .keep | grep -q .; then fail "placeholder files installed"; fi

start_sound_server "$work/sound"

# 1. LARKBELL_DATA_DIR, German messages: the first-start alarm comes from the installed Langs/de.txt
#    and its sound from the installed Sounds/.
data=$work/data
mkdir -p "$data" "$work/runtime"
chmod 700 "$work/runtime"
start_program env "$prefix/bin/larkbell" "$data/Log.txt" "$work" LARKBELL_DATA_DIR="$data" XDG_RUNTIME_DIR="$work/runtime" \
    LANG=C.UTF-8 LC_MESSAGES=de_DE.UTF-8
ini=$data/Data.ini
poll 50 grep -q '^FirstStarted=1' "$ini" || fail "no FirstStarted=1 in $ini: $(cat "$ini" 2>/dev/null)"
tr -d '\r' <"$ini" | grep -q '^AlarmsList0=540 .*Guten Morgen!.*Birds$' \
    || fail "the first-start alarm does not use the installed language and sound: $(grep AlarmsList0 "$ini")"
[ ! -e "$prefix/bin/Data.ini" ] || fail "Data.ini written beside the executable despite LARKBELL_DATA_DIR"
close_program env "$prefix/bin/larkbell" LARKBELL_DATA_DIR="$data" XDG_RUNTIME_DIR="$work/runtime"
grep -q ': Exit$' "$data/Log.txt" || fail "the orderly exit is not in the log"
echo "ok: first start and -close with LARKBELL_DATA_DIR"

# 2. An ordinary user who cannot write bin/: settings in $XDG_CONFIG_HOME/larkbell.
user=$work/user
mkdir -p "$user/config" "$user/runtime"
chmod 700 "$user/runtime"
if [ "$(id -u)" -eq 0 ]; then chown -R nobody:nogroup "$user"; else chmod a-w "$prefix/bin"; fi
userenv=(HOME="$user" XDG_CONFIG_HOME="$user/config" XDG_RUNTIME_DIR="$user/runtime" LANG=C.UTF-8)
start_program as_user "$prefix/bin/larkbell" "$user/config/larkbell/Log.txt" "$user" "${userenv[@]}"
poll 50 grep -q '^FirstStarted=1' "$user/config/larkbell/Data.ini" || fail "no Data.ini in the user's config folder"
tr -d '\r' <"$user/config/larkbell/Data.ini" | grep -q '^AlarmsList0=540 .*Good morning!.*Birds$' || fail "unexpected first-start alarm"
[ ! -e "$prefix/bin/Data.ini" ] || fail "Data.ini written beside a read-only executable"
close_program as_user "$prefix/bin/larkbell" "${userenv[@]}"
echo "ok: first start and -close as an ordinary user, settings in the config folder"
echo "2 passed, 0 failed"
