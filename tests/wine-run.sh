#!/usr/bin/env bash
# Runs a Windows program under Wine in a prefix kept inside the build folder.
# usage: wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is made on first use: Wine's null graphics driver (dialogs work with no display),
# dot files shown as ordinary files (as on Windows), and a CJK font for Chinese dialog texts.
set -u
prefix=$1
shift
export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
(
    flock 9
    if [ ! -f "$prefix/.qtx-ready" ]; then
        wineboot -i >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null 2>&1
        # A crashing test must fail at once, not wait for someone to close the crash dialog.
        wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
        subs='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
        wine reg add "$subs" /v "MS Shell Dlg" /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
        wine reg add "$subs" /v "MS Shell Dlg 2" /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
        # Processes started while the prefix was made keep the old driver: start afresh.
        wineserver -k 2>/dev/null
        wineserver -w 2>/dev/null
        touch "$prefix/.qtx-ready"
    fi
) 9>"$prefix.lock"
exec wine "$@"
