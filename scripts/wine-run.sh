#!/usr/bin/env bash
# Runs a Windows program under Wine, whose 64-bit loader Debian keeps off the
# PATH. WINEPREFIX and WINEDEBUG come from the caller.
set -euo pipefail
for loader in /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64 "$(command -v wine64 || true)"; do
  if [[ -n "$loader" && -x "$loader" ]]; then
    exec "$loader" "$@"
  fi
done
echo "wine-run.sh: no Wine 64-bit loader found (install the wine64 package)" >&2
exit 127
