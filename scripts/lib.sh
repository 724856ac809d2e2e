# Shared by the scripts: where things are, and the environment every Wine process of ours gets.
# shellcheck shell=bash
OV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OV_BUILD="${OV_ROOT}/build"
export WINEPREFIX="${OV_WINEPREFIX:-${OV_BUILD}/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win64
# WinInet's pre-configured mode reads these and ignores no_proxy: every test talks to 127.0.0.1 only.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ftp_proxy FTP_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
# Headless by default: the prefix uses Wine's null graphics driver.
if [ -z "${OV_KEEP_DISPLAY:-}" ]; then unset DISPLAY; fi
OV_PYTHON=/usr/bin/python3

ov_log() { printf '== %s\n' "$*" >&2; }
