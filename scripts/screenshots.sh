#!/usr/bin/env bash
# Captures the progress window in each of the ten languages (status "downloading", bar at 40) under a
# virtual X server and saves build/screenshots/<locale>.png. Not part of the test run.
#
# It uses a Wine prefix of its own (build/wineprefix-screenshots) with Wine's X11 driver, unmanaged
# windows, the Tahoma fonts and a font link to WenQuanYi Micro Hei for the Chinese and Korean texts; the
# test prefix stays headless.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$OV_ROOT"

export WINEPREFIX="${OV_BUILD}/wineprefix-screenshots"
out_dir="${OV_BUILD}/screenshots"
tool="${OV_BUILD}/x64/tools/Screenshot/Screenshot.exe"
locales=(en-us de-de es-es es-mx fr-fr it-it ko-kr pt-br zh-cn zh-tw)

# Packages: the X server, xwd, ImageMagick's convert and a font with Chinese and Korean glyphs.
packages=(xvfb x11-apps imagemagick fonts-wqy-microhei)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    ov_log "installing ${missing[*]}"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

if [ ! -f "${OV_BUILD}/x64/build.ninja" ]; then
    cmake --preset mingw-x64 >/dev/null
fi
ov_log "building the screenshot tool"
cmake --build --preset mingw-x64 --target Screenshot

marker="${WINEPREFIX}/.ov-screenshots-ready"
if [ ! -f "$marker" ]; then
    ov_log "creating the screenshot prefix ${WINEPREFIX#"${OV_ROOT}"/}"
    mkdir -p "$WINEPREFIX"
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
    wine winecfg -v win10 >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    for font in /usr/share/wine/fonts/tahoma*.ttf; do
        ln -sf "$font" "${WINEPREFIX}/drive_c/windows/Fonts/"
    done
    link_key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
    for face in "Tahoma" "Tahoma Bold"; do
        wine reg add "$link_key" /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f \
            >/dev/null 2>&1
    done
    wineserver -w
    touch "$marker"
fi

# A free display number for the virtual X server.
display=""
for n in $(seq 90 130); do
    if [ ! -e "/tmp/.X11-unix/X${n}" ] && [ ! -e "/tmp/.X${n}-lock" ]; then
        display=":${n}"
        break
    fi
done
[ -n "$display" ] || { echo "no free X display number" >&2; exit 1; }

xvfb_pid=""
cleanup() {
    wineserver -k 2>/dev/null || true
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.1
done
export DISPLAY="$display"
wineserver -p 2>/dev/null || true

mkdir -p "$out_dir"
ready="${out_dir}/.ready"
for locale in "${locales[@]}"; do
    rm -f "$ready"
    wine "$tool" "$locale" "Z:${ready//\//\\}" 3000 </dev/null >/dev/null 2>&1 &
    tool_pid=$!
    for _ in $(seq 1 300); do
        [ -s "$ready" ] && break
        sleep 0.1
    done
    if [ ! -s "$ready" ]; then
        echo "the window for ${locale} did not appear" >&2
        wait "$tool_pid" || true
        exit 1
    fi
    read -r x y width height <"$ready"
    xwd -root -silent -display "$display" | convert xwd:- -crop "${width}x${height}+${x}+${y}" +repage \
        "${out_dir}/${locale}.png"
    wait "$tool_pid" || true
    ov_log "saved ${out_dir#"${OV_ROOT}"/}/${locale}.png"
done
rm -f "$ready"
