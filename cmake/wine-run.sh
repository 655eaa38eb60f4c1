#!/bin/sh
# Runs a Windows test binary under Wine, quietly, in a Wine prefix of the
# build's own (made on first use) so the tests never touch the user's.
: "${WINEPREFIX:=${ZELSYNC_WINEPREFIX:-$HOME/.wine-zelsync}}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec /usr/lib/wine/wine64 "$@"
