"""Write-back of healed page-object selectors as a patch for review.

With ``SELF_HEALING_AUTO_UPDATE_POM=true`` every accepted heal of a page-object
reference is written to ``HTML_REPORTS_DIR/healed-page-objects.patch``: a unified
diff of the JSON page objects (paths relative to the run's working directory, so
``git apply`` from there accepts it) that replaces each healed selector. The page
objects themselves are never changed; a team reviews the patch and applies it.

The diff keeps each file's formatting: only the selector text of the healed element
changes. An element whose selector cannot be found in its file as written (it was
edited during the run) is left out, and the report says so.
"""

from __future__ import annotations

import difflib
import json
import logging
import os
from pathlib import Path
from typing import Any, Dict, Iterable, List, Optional, Tuple

from tarvolab_framework.core.safe_io import atomic_write_text, valid_utf8

logger = logging.getLogger("tarvolab_framework.core.healing_patch")

PATCH_FILE_NAME = "healed-page-objects.patch"
DEFAULT_REPORTS_DIR = "html-reports"


def patch_path() -> Path:
    from tarvolab_framework.core import settings

    return Path(settings.get("HTML_REPORTS_DIR") or DEFAULT_REPORTS_DIR) / PATCH_FILE_NAME


def _encoded_forms(text: str) -> List[str]:
    forms = [json.dumps(text, ensure_ascii=False), json.dumps(text)]
    return list(dict.fromkeys(forms))


def replace_selector(source: str, element: str, old: str, new: str) -> Optional[str]:
    """``source`` (a page object's JSON text) with ``element``'s selector ``old`` set to
    ``new``, formatting untouched; ``None`` when ``old`` is not the element's selector."""
    try:
        data = json.loads(source)
    except ValueError:
        return None
    if not isinstance(data, dict) or element not in data:
        return None
    entry = data[element]
    current = entry.get("selector") if isinstance(entry, dict) else entry
    if current != old:
        return None
    for key_form in _encoded_forms(element):
        position = 0
        while True:
            start = source.find(key_form, position)
            if start < 0:
                break
            position = start + len(key_form)
            rest = source[position:].lstrip()
            if not rest.startswith(":"):
                continue  # the name as a value elsewhere, not the key
            for old_form in _encoded_forms(old):
                at = source.find(old_form, position)
                if at < 0:
                    continue
                candidate = source[:at] + json.dumps(new, ensure_ascii=False) + source[at + len(old_form):]
                try:
                    changed = json.loads(candidate)
                except ValueError:
                    continue
                value = changed.get(element)
                value = value.get("selector") if isinstance(value, dict) else value
                expected = dict(data)
                expected[element] = ({**entry, "selector": new} if isinstance(entry, dict) else new)
                if value == new and changed == expected:
                    return candidate
    return None


def _diff(relative: str, before: str, after: str) -> str:
    lines = difflib.unified_diff(before.splitlines(True), after.splitlines(True),
                                 "a/" + relative, "b/" + relative)
    out = []
    for line in lines:
        if line.endswith("\n"):
            out.append(line)
        else:  # last line of a file without a final line break
            out.append(line + "\n\\ No newline at end of file\n")
    return "".join(out)


def build_patch(heals: Iterable[Dict[str, Any]], base: Optional[Path] = None
                ) -> Tuple[str, List[Dict[str, Any]]]:
    """The patch text for the page-object heals, and the heals it leaves out (with a reason).

    ``heals`` are the locator's heal events (``pom_file``, ``pom_key``,
    ``old_selector``, ``new_selector``); for one element the last heal wins.
    """
    base = (base or Path.cwd()).resolve()
    wanted: Dict[Tuple[str, str], Dict[str, Any]] = {}
    for heal in heals:
        if heal.get("pom_file") and heal.get("pom_key"):
            wanted[(heal["pom_file"], heal["pom_key"])] = heal
    by_file: Dict[str, List[Dict[str, Any]]] = {}
    for (file, _key), heal in wanted.items():
        by_file.setdefault(file, []).append(heal)

    parts, skipped = [], []
    for file in sorted(by_file):
        path = Path(file).resolve()
        try:
            before = path.read_text(encoding="utf-8")
        except (OSError, UnicodeDecodeError) as exc:
            skipped.extend(dict(h, reason=f"no se pudo leer: {exc}") for h in by_file[file])
            continue
        after = before
        for heal in by_file[file]:
            changed = replace_selector(after, heal["pom_key"], heal["old_selector"], heal["new_selector"])
            if changed is None:
                skipped.append(dict(heal, reason="el selector ya no es el del archivo"))
            else:
                after = changed
        if after == before:
            continue
        try:
            relative = path.relative_to(base).as_posix()
        except ValueError:
            relative = Path(os.path.relpath(path, base)).as_posix()
        parts.append(_diff(relative, before, after))
    return "".join(parts), skipped


def write_patch(heals: Iterable[Dict[str, Any]]) -> Optional[Path]:
    """Write (or rewrite) the run's patch file; its path, or ``None`` when nothing to write."""
    text, skipped = build_patch(heals)
    for heal in skipped:
        logger.warning("SELF_HEALING: la reparación de %s → %s no entra en el parche: %s",
                       heal.get("pom_key"), heal.get("new_selector"), heal.get("reason"))
    if not text:
        return None
    path = patch_path()
    path.parent.mkdir(parents=True, exist_ok=True)
    atomic_write_text(path, valid_utf8(text))
    return path
