"""Prepare a Playwright browsers folder made of Debian's own binaries.

Playwright looks for its browsers and its video encoder under
PLAYWRIGHT_BROWSERS_PATH, in folders named after the revisions of the installed
driver (``browsers.json``), and cannot download them on these machines. This script
fills such a folder with symbolic links instead:

- ``ffmpeg-<rev>/ffmpeg-linux`` -> Debian's ffmpeg, which Playwright runs to encode
  every recorded video (without it a recording context fails at page creation);
- ``chromium-<rev>/chrome-linux64/chrome`` and
  ``chromium_headless_shell-<rev>/chrome-headless-shell-linux64/chrome-headless-shell``
  -> Debian's Chromium, so that a plain ``launch()`` works as well;

each folder with the empty ``INSTALLATION_COMPLETE`` marker Playwright writes after
an install. Folders of other revisions left by an older driver are removed. Run it
again at will: what is already in place is left alone. Never point
``playwright install`` at this folder.

Usage: python scripts/playwright_browsers.py [--dir DIR] [--chromium PATH] [--ffmpeg PATH]
"""

from __future__ import annotations

import argparse
import importlib.util
import json
import os
import platform
import re
import shutil
import sys
from pathlib import Path
from typing import Dict, List, Optional

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_DIR = ROOT / "build" / "playwright-browsers"
MARKER = "INSTALLATION_COMPLETE"
CHROMIUM_CANDIDATES = ("/usr/lib/chromium/chromium", "/usr/bin/chromium")

# Executable location inside each browser folder, by machine (Playwright's layout).
_LAYOUT = {
    "x86_64": {
        "chromium": ("chrome-linux64", "chrome"),
        "chromium-headless-shell": ("chrome-headless-shell-linux64", "chrome-headless-shell"),
        "ffmpeg": ("ffmpeg-linux",),
    },
    "aarch64": {
        "chromium": ("chrome-linux-arm64", "chrome"),
        "chromium-headless-shell": ("chrome-headless-shell-linux-arm64", "chrome-headless-shell"),
        "ffmpeg": ("ffmpeg-linux",),
    },
}
_LAYOUT["amd64"] = _LAYOUT["x86_64"]
_LAYOUT["arm64"] = _LAYOUT["aarch64"]
# Folder names this script creates (Playwright writes "-" in names as "_").
_OWN_FOLDER = re.compile(r"^(chromium|chromium_headless_shell|ffmpeg)-\d+$")


class SetupError(Exception):
    """Something this script cannot work around; the text says what."""


def browsers_json_path() -> Path:
    """browsers.json of the Playwright package the running interpreter imports."""
    module_spec = importlib.util.find_spec("playwright")
    if module_spec is None or not module_spec.submodule_search_locations:
        raise SetupError("Playwright is not installed for " + sys.executable)
    package = Path(list(module_spec.submodule_search_locations)[0])
    path = package / "driver" / "package" / "browsers.json"
    if not path.is_file():
        raise SetupError(f"{path} not found: unexpected Playwright package layout")
    return path


def read_revisions(path: Path) -> Dict[str, str]:
    """Map browser name -> revision for the entries this script provides."""
    try:
        data = json.loads(path.read_text(encoding="utf-8"))
        entries = data["browsers"]
        revisions = {e["name"]: str(e["revision"]) for e in entries if isinstance(e, dict) and "name" in e}
    except (OSError, ValueError, KeyError, TypeError) as exc:
        raise SetupError(f"cannot read revisions from {path}: {exc}") from exc
    for name in ("chromium", "chromium-headless-shell", "ffmpeg"):
        if not re.fullmatch(r"\d+", revisions.get(name, "")):
            raise SetupError(f"{path} gives no numeric revision for {name!r}")
    return revisions


def _executable(path: Optional[str]) -> Optional[str]:
    if path and os.path.isfile(path) and os.access(path, os.X_OK):
        return os.path.abspath(path)
    return None


def default_chromium() -> Optional[str]:
    for candidate in (os.environ.get("TARVO_CHROMIUM_EXECUTABLE"), *CHROMIUM_CANDIDATES):
        found = _executable(candidate)
        if found:
            return found
    return None


def default_ffmpeg() -> Optional[str]:
    return _executable(shutil.which("ffmpeg"))


def _link(folder: Path, tokens: tuple, target: str, changes: List[str]) -> None:
    link = folder.joinpath(*tokens)
    if link.is_symlink() and os.readlink(link) == target and (folder / MARKER).is_file():
        return
    link.parent.mkdir(parents=True, exist_ok=True)
    if link.is_symlink() or link.exists():
        if link.is_dir() and not link.is_symlink():
            raise SetupError(f"{link} is a directory; remove it by hand")
        link.unlink()
    link.symlink_to(target)
    (folder / MARKER).touch()
    changes.append(f"{link} -> {target}")


def prepare(directory: Path = DEFAULT_DIR, chromium: Optional[str] = None,
            ffmpeg: Optional[str] = None, browsers_json: Optional[Path] = None) -> List[str]:
    """Create or refresh the links; return one line per change (empty when all was in place).

    ``chromium`` and ``ffmpeg`` are the binaries to link; a missing one is
    reported as a change line starting with "skipped" and its folders are not made.
    """
    machine = platform.machine().lower()
    layout = _LAYOUT.get(machine)
    if layout is None:
        raise SetupError(f"no Playwright browser layout known for machine {machine!r}")
    revisions = read_revisions(browsers_json or browsers_json_path())
    targets = {
        "chromium": chromium, "chromium-headless-shell": chromium, "ffmpeg": ffmpeg,
    }
    directory = Path(directory).resolve()
    directory.mkdir(parents=True, exist_ok=True)
    changes: List[str] = []
    wanted = set()
    for name, target in targets.items():
        folder = directory / f"{name.replace('-', '_')}-{revisions[name]}"
        wanted.add(folder.name)
        if not target:
            changes.append(f"skipped {folder.name}: no {'ffmpeg' if name == 'ffmpeg' else 'Chromium'} binary found")
            continue
        _link(folder, layout[name], target, changes)
    for stale in sorted(directory.iterdir()):
        if stale.is_dir() and not stale.is_symlink() and _OWN_FOLDER.match(stale.name) and stale.name not in wanted:
            shutil.rmtree(stale)
            changes.append(f"removed {stale} (revision no longer used)")
    return changes


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--dir", default=str(DEFAULT_DIR), help="folder to prepare (default: %(default)s)")
    parser.add_argument("--chromium", help="Chromium binary (default: TARVO_CHROMIUM_EXECUTABLE or Debian's)")
    parser.add_argument("--ffmpeg", help="ffmpeg binary (default: the one on PATH)")
    args = parser.parse_args(argv)
    chromium = _executable(args.chromium) if args.chromium else default_chromium()
    ffmpeg = _executable(args.ffmpeg) if args.ffmpeg else default_ffmpeg()
    for given, found, what in ((args.chromium, chromium, "--chromium"), (args.ffmpeg, ffmpeg, "--ffmpeg")):
        if given and not found:
            print(f"[playwright-browsers] {what} {given}: not an executable file", file=sys.stderr)
            return 2
    try:
        changes = prepare(Path(args.dir), chromium, ffmpeg)
    except (SetupError, OSError) as exc:
        print(f"[playwright-browsers] {exc}", file=sys.stderr)
        return 1
    for line in changes:
        print(f"[playwright-browsers] {line}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
