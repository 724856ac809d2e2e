#!/usr/bin/env bash
# Installs what the build and the tests need, once: Debian packages, the jsoncpp sources (Debian's source
# package), and the project's Wine prefix. Safe to run again; it only does what is missing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 xvfb osslsigncode openssl
          python3 python3-pytest cmake ninja-build clang-format libwine-dev googletest)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
apt_updated=""
if [ ${#missing[@]} -gt 0 ]; then
    ov_log "installing ${missing[*]}"
    apt-get update -q
    apt_updated=1
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

# jsoncpp from Debian's source package. apt-get source needs a deb-src entry: derive one from the
# machine's own apt sources rather than naming any host here.
sources_dir="${OV_BUILD}/_sources"
if ! ls "${sources_dir}"/libjsoncpp_*.orig.tar.* >/dev/null 2>&1; then
    deb_src=/etc/apt/sources.list.d/ov-deb-src.sources
    if [ ! -f "$deb_src" ]; then
        ov_log "adding deb-src entries derived from the existing apt sources"
        tmp="$(mktemp)"
        for list in /etc/apt/sources.list.d/*.sources; do
            [ "$list" = "$deb_src" ] && continue
            sed -e 's/^Types:.*/Types: deb-src/' "$list" >>"$tmp"
            echo >>"$tmp"
        done
        if [ -f /etc/apt/sources.list ]; then
            grep -E '^deb ' /etc/apt/sources.list | sed -e 's/^deb /deb-src /' >"${tmp}.list" || true
            [ -s "${tmp}.list" ] && cp "${tmp}.list" /etc/apt/sources.list.d/ov-deb-src.list
            rm -f "${tmp}.list"
        fi
        cp "$tmp" "$deb_src"
        rm -f "$tmp"
        apt_updated=""
    fi
    [ -n "$apt_updated" ] || apt-get update -q
    mkdir -p "$sources_dir"
    ov_log "fetching the jsoncpp source package"
    (cd "$sources_dir" && apt-get source --download-only -q libjsoncpp)
fi

"${OV_ROOT}/scripts/wine-prefix.sh"
