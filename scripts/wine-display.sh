# Sourced by scripts/run and scripts/screenshot: Wine on an X display, in a prefix of its own (the tests'
# prefix uses the null graphics driver), with a CJK font standing in for "MS Shell Dlg" so that the
# dialog's Chinese texts show.

# qtx_display_prefix PREFIX: makes the prefix on first use and exports what Wine needs to use it.
qtx_display_prefix() {
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    [ -f "$WINEPREFIX/.qtx-ready" ] && return 0
    echo "wine: preparing $WINEPREFIX" >&2
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null 2>&1
    local subs='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
    wine reg add "$subs" /v "MS Shell Dlg" /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
    wine reg add "$subs" /v "MS Shell Dlg 2" /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
    # Debian's Wine does not pick up its own fonts (fonts-wine) by itself; without Marlett the caption
    # buttons show as letters.
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    wineserver -w
    touch "$WINEPREFIX/.qtx-ready"
}

# qtx_virtual_display: starts Xvfb on a free display number and points DISPLAY at it; on exit the
# prefix's Wine processes and Xvfb are stopped.
qtx_virtual_display() {
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    QTX_XVFB_PID=$!
    trap 'wineserver -k 2>/dev/null || true; kill "$QTX_XVFB_PID" 2>/dev/null || true' EXIT
    for _ in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
    done
    [ -e "/tmp/.X11-unix/X$n" ] || { echo "Xvfb did not start on :$n" >&2; return 1; }
    export DISPLAY=":$n"
}
