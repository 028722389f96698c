#!/usr/bin/env bash
# `cpack -G DEB` makes a package whose dependencies let the program run; apt installs it, its
# post-install step gives /usr/bin/larkbell the wake-alarm capability, the installed program
# starts for an ordinary user (holding that capability) and ends on -close, and apt removes it
# again without leaving files behind. Needs root (apt); skipped (77) otherwise, and when a
# larkbell package is already installed, so that a developer's own installation is not touched.
# Usage: deb_package.sh BUILD_DIR APP_ID
set -euo pipefail
build=$1
id=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: installing a package needs root"
    exit 77
fi
if dpkg-query -W -f='${Status}' larkbell 2>/dev/null | grep -q "install ok installed"; then
    echo "skipped: a larkbell package is installed on this machine already"
    exit 77
fi

work=$(mktemp -d)
chmod 755 "$work"
installed=0
apt=(apt-get -y -q -o DPkg::Lock::Timeout=120)
cleanup() {
    set +e
    stop_program
    stop_sound_server
    [ "$installed" -eq 1 ] && DEBIAN_FRONTEND=noninteractive "${apt[@]}" remove larkbell >/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.txt" || { cat "$work/cpack.txt"; fail "cpack"; }
debs=("$work"/pkg/larkbell_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single larkbell_*.deb"
deb=${debs[0]}
echo "built $(basename "$deb")"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6widgets6 libqt6dbus6 libpulse0 libsndfile1 libasound2 libc6; do
    [[ $depends == *"$lib"* ]] || fail "the package does not depend on $lib"
done
[[ $(dpkg-deb -f "$deb" Recommends) == *libcap2-bin* ]] || fail "the package does not recommend libcap2-bin"
dpkg-deb -e "$deb" "$work/control"
[ -x "$work/control/postinst" ] || fail "no executable postinst"
sh -n "$work/control/postinst" || fail "postinst is not valid sh"
dpkg-deb -c "$deb" >"$work/contents.txt"
for file in ./usr/bin/larkbell ./usr/share/larkbell/Sounds/Birds.mp3 ./usr/share/larkbell/Langs/en.txt \
    ./usr/share/larkbell/help/index.html ./usr/share/larkbell/help/waketimers.html \
    "./usr/share/applications/$id.desktop" "./usr/share/metainfo/$id.metainfo.xml" \
    "./usr/share/icons/hicolor/48x48/apps/$id.png" "./usr/share/icons/hicolor/scalable/apps/$id.svg"; do
    grep -q " $file\$" "$work/contents.txt" || fail "$file is not in the package"
done

installed=1
DEBIAN_FRONTEND=noninteractive "${apt[@]}" install "$deb" >"$work/apt-install.txt" 2>&1 \
    || { cat "$work/apt-install.txt"; fail "apt-get install"; }
echo "installed with apt-get"
dpkg-query -W -f='${Status}\n' larkbell | grep -q "install ok installed" || fail "dpkg does not list larkbell as installed"
caps=$(getcap /usr/bin/larkbell)
echo "getcap: $caps"
[[ $caps == *cap_wake_alarm=ep* ]] || fail "postinst did not give /usr/bin/larkbell cap_wake_alarm"

# The installed program as an ordinary user: settings in the user's config folder, the
# capability in its permitted and effective sets (CAP_WAKE_ALARM is capability 35).
start_sound_server "$work/sound"
user=$work/user
mkdir -p "$user/config" "$user/runtime"
chmod 700 "$user/runtime"
chown -R nobody:nogroup "$user"
userenv=(HOME="$user" XDG_CONFIG_HOME="$user/config" XDG_RUNTIME_DIR="$user/runtime" LANG=C.UTF-8)
start_program as_user /usr/bin/larkbell "$user/config/larkbell/Log.txt" "$user" "${userenv[@]}"
poll 50 grep -q '^FirstStarted=1' "$user/config/larkbell/Data.ini" || fail "no first-start Data.ini"
effective=$(awk '/^CapEff:/ {print $2}' "/proc/$APP_PID/status")
echo "CapEff of the running program: $effective"
(( (16#$effective >> 35) & 1 )) || fail "the program runs without CAP_WAKE_ALARM"
grep -q "Wake timer .* through " "$user/config/larkbell/Log.txt" || fail "no wake timer line in the log"
grep "Wake timer" "$user/config/larkbell/Log.txt" | tail -1
close_program as_user /usr/bin/larkbell "${userenv[@]}"
echo "ok: /usr/bin/larkbell started as an ordinary user and ended on -close"

DEBIAN_FRONTEND=noninteractive "${apt[@]}" remove larkbell >"$work/apt-remove.txt" 2>&1 \
    || { cat "$work/apt-remove.txt"; fail "apt-get remove"; }
installed=0
echo "removed with apt-get"
[ ! -e /usr/bin/larkbell ] || fail "/usr/bin/larkbell is still there"
[ ! -e /usr/share/larkbell ] || fail "/usr/share/larkbell is still there"
[ ! -e "/usr/share/applications/$id.desktop" ] || fail "the desktop entry is still there"
if dpkg-query -W -f='${Status}' larkbell 2>/dev/null | grep -q installed; then fail "dpkg still lists larkbell"; fi
echo "1 passed, 0 failed"
