"""Attachments for Allure, when behave runs with the ``allure_behave`` formatter.

behave writes Allure results with ``-f allure_behave.formatter:AllureFormatter -o DIR``
(PyPI ``allure-behave``). While a scenario runs, that formatter is the test that
``allure-python-commons`` attaches to; the framework's evidence goes there: failure
screenshots, traces, soft-assertion failures and heal events. Without the package, or
without the formatter in the run, every function here does nothing.
"""

from __future__ import annotations

import json
from pathlib import Path
from typing import Any, Dict

_TYPES = {"png": "PNG", "zip": "ZIP", "webm": "WEBM", "json": "JSON", "txt": "TEXT"}


def _allure() -> Any:
    try:
        import allure  # noqa: F401 - allure-python-commons
        from allure_commons import plugin_manager
    except ImportError:
        return None
    # No formatter registered: nobody would receive the attachment.
    if not plugin_manager.list_name_plugin():
        return None
    return allure


def attach_file(path: Path, name: str, kind: str) -> None:
    allure = _allure()
    if allure is None:
        return
    attachment_type = getattr(allure.attachment_type, _TYPES.get(kind, "TEXT"), None)
    try:
        allure.attach.file(str(path), name=name, attachment_type=attachment_type,
                           extension=kind)
    except Exception:  # Allure is a reader of the evidence, never a reason to fail
        pass


def attach_text(name: str, text: str) -> None:
    allure = _allure()
    if allure is None:
        return
    try:
        allure.attach(text, name=name, attachment_type=allure.attachment_type.TEXT)
    except Exception:
        pass


def attach_heal_event(event: Dict[str, Any]) -> None:
    allure = _allure()
    if allure is None:
        return
    title = "self-healing: " + ("reparado" if event.get("healed") else "fallido")
    try:
        allure.attach(json.dumps(event, ensure_ascii=False, indent=2), name=title,
                      attachment_type=allure.attachment_type.JSON)
    except Exception:
        pass
