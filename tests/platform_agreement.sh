#!/usr/bin/env bash
# Records the same scripted calls with the Linux and the Windows library and
# compares them: platform_agreement.sh LINUX_PROGRAM WINDOWS_PROGRAM WINE_PREFIX WINE_RUN
set -euo pipefail
linux_program=$1 windows_program=$2
export WINEPREFIX=$3 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
wine_run=$4
records=$(mktemp -d)
trap 'rm -rf "$records"' EXIT

"$linux_program" record > "$records/linux.txt"
"$wine_run" "$windows_program" record | tr -d '\r' > "$records/windows.txt"
"$linux_program" compare "$records/linux.txt" "$records/windows.txt"
