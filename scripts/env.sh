# Sourced by the run scripts: points the framework at Debian's Chromium.
if [ -z "${TARVO_CHROMIUM_EXECUTABLE:-}" ]; then
  for c in /usr/lib/chromium/chromium /usr/bin/chromium; do
    if [ -x "$c" ]; then export TARVO_CHROMIUM_EXECUTABLE="$c"; break; fi
  done
fi
# Playwright's video encoder (and its own browser lookup) from the folder of links
# to Debian's ffmpeg and Chromium that scripts/setup.sh prepares.
if [ -z "${PLAYWRIGHT_BROWSERS_PATH:-}" ]; then
  _tarvo_browsers="$(cd "$(dirname "${BASH_SOURCE[0]:-$0}")/.." && pwd)/build/playwright-browsers"
  if [ -d "$_tarvo_browsers" ]; then export PLAYWRIGHT_BROWSERS_PATH="$_tarvo_browsers"; fi
  unset _tarvo_browsers
fi
