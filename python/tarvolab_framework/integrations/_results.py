"""Shared bookkeeping of the test-management integrations.

Turns the runner's feature, scenario and step objects into plain records
(dicts of texts and numbers) and writes JSON result files. Works with behave
1.2.6 and 1.3.x: statuses are read by name, and a scenario that ended in
``error`` or ``hook_error`` (behave 1.3) counts as failed, like ``failed``.
"""

from __future__ import annotations

import json
from datetime import datetime, timedelta, timezone
from pathlib import Path
from typing import Any, Iterable
from tarvolab_framework.core import settings

from tarvolab_framework.core import safe_io, secrets

FAILED_STATUSES = frozenset({"failed", "error", "hook_error"})
# A scenario with an undefined or pending step did not pass either.
NOT_PASSED_STATUSES = FAILED_STATUSES | {"undefined", "pending", "pending_warn"}
SKIPPED_STATUSES = frozenset({"skipped", "untested"})


def now() -> datetime:
    """The current local time, with its UTC offset."""
    return datetime.now(timezone.utc).astimezone()


def iso(moment: datetime | None) -> str | None:
    return moment.isoformat(timespec="seconds") if moment is not None else None


def status_name(status: Any) -> str:
    """behave's Status enum (or a plain text) as a lower-case name."""
    if status is None:
        return "untested"
    name = getattr(status, "name", None)
    if not isinstance(name, str):
        name = str(status)
        if name.startswith("Status."):
            name = name[len("Status."):]
    return name.lower()


def outcome(status: Any) -> str:
    """"passed", "failed" or "skipped" for a scenario status."""
    name = status_name(status)
    if name == "passed":
        return "passed"
    if name in NOT_PASSED_STATUSES:
        return "failed"
    return "skipped"


def tags_of(element: Any) -> list[str]:
    """The element's own tags as plain texts, without a leading "@"."""
    tags = getattr(element, "tags", None) or []
    return [str(t)[1:] if str(t).startswith("@") else str(t) for t in tags]


def _text(value: Any) -> str:
    return "" if value is None else str(value)


def failing_step(scenario: Any) -> dict | None:
    """The first step that failed, with its error message when the runner kept one."""
    for step in getattr(scenario, "steps", None) or []:
        if status_name(getattr(step, "status", None)) in FAILED_STATUSES:
            return {
                "keyword": _text(getattr(step, "keyword", "")).strip(),
                "name": _text(getattr(step, "name", "")),
                "line": getattr(step, "line", None),
                "error_message": _text(getattr(step, "error_message", None)) or None,
            }
    return None


def failing_step_text(step: dict | None) -> str:
    if not step:
        return ""
    text = f"Paso fallido: {step['keyword']} {step['name']}".rstrip()
    if step.get("error_message"):
        text += f"\n{step['error_message']}"
    return text


def steps_of(scenario: Any) -> list[str]:
    return [
        f"{_text(getattr(s, 'keyword', '')).strip()} {_text(getattr(s, 'name', ''))}"
        for s in getattr(scenario, "steps", None) or []
    ]


def duration_of(element: Any) -> float:
    try:
        return round(float(getattr(element, "duration", 0.0) or 0.0), 3)
    except (TypeError, ValueError):
        return 0.0


def feature_name_of(scenario: Any) -> str:
    feature = getattr(scenario, "feature", None)
    return _text(getattr(feature, "name", "")) if feature is not None else ""


def scenario_record(scenario: Any, started: datetime | None = None) -> dict:
    """A finished scenario as a plain record.

    ``started`` is when the scenario began when the integration saw it begin;
    otherwise the start is worked back from the runner's duration.
    """
    finished = now()
    duration = duration_of(scenario)
    if started is None:
        started = finished - timedelta(seconds=duration)
    feature = getattr(scenario, "feature", None)
    return {
        "name": _text(getattr(scenario, "name", "")),
        "feature": feature_name_of(scenario),
        "feature_file": _text(getattr(feature, "filename", "")) if feature is not None else "",
        "line": getattr(scenario, "line", None),
        "tags": tags_of(scenario),
        "status": outcome(getattr(scenario, "status", None)),
        "runner_status": status_name(getattr(scenario, "status", None)),
        "duration": duration,
        "start": iso(started),
        "finish": iso(finished),
        "steps": steps_of(scenario),
        "failing_step": failing_step(scenario),
    }


def counts(records: Iterable[dict]) -> dict:
    totals = {"total": 0, "passed": 0, "failed": 0, "skipped": 0}
    for r in records:
        totals["total"] += 1
        totals[r["status"]] += 1
    return totals


def env_text(name: str) -> str:
    """The setting's text from the environment now (its table default when unset)."""
    return settings.get(name)


def write_json(path_text: str, payload: Any) -> Path:
    """Writes the payload as UTF-8 JSON, creating the parent folders.

    Secrets are masked and every text made valid UTF-8 first (a step message cut
    inside an emoji holds half of it), and the file is replaced atomically: a
    write that fails part-way leaves the previous file whole.
    """
    text = json.dumps(secrets.mask_data(payload), ensure_ascii=False, indent=2) + "\n"
    return safe_io.atomic_write_text(path_text, text)
