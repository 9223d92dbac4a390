"""Attachments for Allure, when behave runs with the ``allure_behave`` formatter.

behave writes Allure results with ``-f allure_behave.formatter:AllureFormatter -o DIR``
(PyPI ``allure-behave``, which brings ``allure-python-commons``). The framework's
evidence goes to the test result of its scenario:

* while the scenario is open (its steps and after-scenario hooks): failure
  screenshots, the trace, soft-assertion failures and heal events, through
  ``allure.attach``;
* the feature's video exists only once its pages closed, after the scenario's result
  was written: it is copied into the results folder and added to each of the
  feature's written results;
* at run end the written results get the final outcome: a flaky scenario is marked
  ``flaky`` (status passed, with the attempt that passed), a scenario with failed soft
  assertions is ``failed``.

Without the package, or without the formatter in the run, every function does nothing.
Allure is a reader of the evidence: a failure here never changes the run.
"""

from __future__ import annotations

import json
import logging
import shutil
import sys
import uuid as uuid_module
from pathlib import Path
from typing import Any, Dict, Optional, Tuple

from tarvolab_framework.core.safe_io import atomic_write_text

logger = logging.getLogger("tarvolab_framework.core.allure_support")

_TYPES = {"png": "PNG", "zip": "ZIP", "webm": "WEBM", "json": "JSON", "txt": "TEXT"}
_MIME = {"png": "image/png", "zip": "application/zip", "webm": "video/webm"}


def _plugins() -> Tuple[Any, Any]:
    """(the allure_behave listener, the results file logger) of this run, or (None, None)."""
    # The formatter imports allure_commons before it registers anything: while
    # nothing imported it, nothing is registered, and the scenario end does not
    # pay for importing the package (and pluggy) to find that out.
    commons = sys.modules.get("allure_commons")
    plugin_manager = getattr(commons, "plugin_manager", None) if commons is not None else None
    if plugin_manager is None:
        return None, None
    listener = file_logger = None
    for _, plugin in plugin_manager.list_name_plugin():
        kind = type(plugin).__name__
        if kind == "AllureListener":
            listener = plugin
        elif kind == "AllureFileLogger":
            file_logger = plugin
    return listener, file_logger


def current_test() -> Optional[str]:
    """The Allure result id of the scenario in progress, or None."""
    listener, _ = _plugins()
    return getattr(listener, "current_scenario_uuid", None) if listener is not None else None


def results_dir() -> Optional[Path]:
    _, file_logger = _plugins()
    folder = getattr(file_logger, "_report_dir", None) if file_logger is not None else None
    return Path(folder) if folder else None


def attach_file(path: Path, name: str, kind: str) -> None:
    if current_test() is None:
        return
    try:
        import allure

        allure.attach.file(str(path), name=name,
                           attachment_type=getattr(allure.attachment_type, _TYPES.get(kind, "TEXT")),
                           extension=kind)
    except Exception as exc:
        logger.debug("Allure attachment %s not added: %s", path, exc)


def attach_text(name: str, text: str) -> None:
    if current_test() is None:
        return
    try:
        import allure

        allure.attach(text, name=name, attachment_type=allure.attachment_type.TEXT)
    except Exception as exc:
        logger.debug("Allure attachment %s not added: %s", name, exc)


def attach_heal_event(event: Dict[str, Any]) -> None:
    """A heal event as JSON on the running scenario (heals in the retry pass have none)."""
    if current_test() is None:
        return
    try:
        import allure

        title = "self-healing: " + ("reparado" if event.get("healed") else "sin reparar")
        allure.attach(json.dumps(event, ensure_ascii=False, indent=2), name=title,
                      attachment_type=allure.attachment_type.JSON)
    except Exception as exc:
        logger.debug("Allure heal event not attached: %s", exc)


def _result_file(test_id: str) -> Optional[Path]:
    """The written result whose "uuid" is ``test_id`` (the file itself has another random name)."""
    folder = results_dir()
    if folder is None:
        return None
    needle = f'"uuid": "{test_id}"'
    for path in folder.glob("*-result.json"):
        try:
            text = path.read_text(encoding="utf-8")
        except OSError:
            continue
        if needle in text or f'"uuid":"{test_id}"' in text:
            return path
    return None


def _update_result(test_id: str, change: Any) -> bool:
    path = _result_file(test_id)
    if path is None:
        return False
    try:
        data = json.loads(path.read_text(encoding="utf-8"))
        change(data)
        atomic_write_text(path, json.dumps(data, ensure_ascii=False))
        return True
    except Exception as exc:
        logger.debug("Allure result %s not updated: %s", path, exc)
        return False


def attach_to_written_test(test_id: Optional[str], source: Path, name: str, kind: str) -> bool:
    """Copy ``source`` into the results folder and list it on an already written result."""
    if not test_id or _result_file(test_id) is None:
        return False
    folder = results_dir()
    target = f"{uuid_module.uuid4()}-attachment.{kind}"
    try:
        shutil.copyfile(source, folder / target)
    except OSError as exc:
        logger.debug("Allure attachment %s not copied: %s", source, exc)
        return False

    def add(data: Dict[str, Any]) -> None:
        data.setdefault("attachments", []).append(
            {"name": name, "source": target, "type": _MIME.get(kind, "application/octet-stream")})

    return _update_result(test_id, add)


def set_final_outcome(test_id: Optional[str], outcome: str, detail: str) -> bool:
    """Write the scenario's final outcome into its result (flaky, soft failures, forced failure)."""
    if not test_id:
        return False

    def change(data: Dict[str, Any]) -> None:
        details = data.setdefault("statusDetails", {})
        if outcome == "flaky":
            data["status"] = "passed"
            details["flaky"] = True
        elif outcome in ("failed", "passed-with-soft-failures"):
            data["status"] = "failed"
        if detail:
            message = details.get("message")
            details["message"] = detail + ("\n" + message if message else "")

    return _update_result(test_id, change)
