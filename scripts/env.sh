# Sourced by the run scripts: points the framework at Debian's Chromium.
if [ -z "${TARVO_CHROMIUM_EXECUTABLE:-}" ]; then
  for c in /usr/lib/chromium/chromium /usr/bin/chromium; do
    if [ -x "$c" ]; then export TARVO_CHROMIUM_EXECUTABLE="$c"; break; fi
  done
fi
