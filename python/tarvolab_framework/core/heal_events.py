"""Healing requests of the run, as the element locator saw them.

The self-healing manager logs every suggestion it tested; this log adds what a person
fixing the test needs: one event per healing request, healed or not, with the
page-object file and key the element came from (the file to update), the step,
scenario and feature, and whether it happened in the run or in the retry pass.
The healing report lists these events.
"""

from __future__ import annotations

from datetime import datetime
from typing import Any, Dict, List, Optional

_events: List[Dict[str, Any]] = []
_stale: List[Dict[str, Any]] = []
_patch: Optional[str] = None
_phase = "run"


def set_phase(phase: str) -> None:
    """"run", or "retry N" while the retry pass re-runs a scenario."""
    global _phase
    _phase = str(phase)


def phase() -> str:
    return _phase


def record(*, element_name: str, ref: str, selector: str, healed_selector: Optional[str],
           verified: bool, page_url: str, healing_context: Dict[str, str],
           pom_file: Optional[str] = None, pom_key: Optional[str] = None,
           **details: Any) -> Dict[str, Any]:
    """Note one healing request and its result; returns the event.

    ``details`` are added to the event as they are: the element locator gives the
    heal's ``source`` ("store", "fingerprint" or "model"), its ``score`` and the
    ``model_calls`` it took.
    """
    event = {
        "timestamp": datetime.now().isoformat(timespec="seconds"),
        "phase": _phase,
        "feature": healing_context.get("feature_name", ""),
        "scenario": healing_context.get("scenario_name", ""),
        "step": healing_context.get("step_text", ""),
        "element_name": element_name,
        "reference": ref,
        "pom_file": pom_file,
        "pom_key": pom_key,
        "original_selector": selector,
        "suggested_selector": healed_selector,
        "healed": bool(verified),
        "page_url": page_url,
        **details,
    }
    from tarvolab_framework.core.report_rendering import mask_text

    for key in ("step", "page_url", "original_selector", "suggested_selector", "reference"):
        event[key] = mask_text(event[key])
    _events.append(event)
    try:
        from tarvolab_framework.core import allure_support

        allure_support.attach_heal_event(event)
    except Exception:  # the report still has the event
        pass
    return event


def record_stale(event: Dict[str, Any]) -> None:
    """Note a stale locator: its selector found an element that no longer looks like the
    recorded one (``element``, ``selector``, ``score``, ``page_url``, step and scenario)."""
    _stale.append(dict(event, phase=_phase))


def stale() -> List[Dict[str, Any]]:
    """The run's stale locators, in order (a copy)."""
    return [dict(e) for e in _stale]


def set_patch(path: Optional[str]) -> None:
    """The review patch of healed page objects written in this run."""
    global _patch
    _patch = path


def patch() -> Optional[str]:
    return _patch


def events() -> List[Dict[str, Any]]:
    """The run's healing requests, in order (a copy)."""
    return [dict(e) for e in _events]


def clear() -> None:
    """Forget every event (a new run in the same process)."""
    global _phase, _patch
    _events.clear()
    _stale.clear()
    _patch = None
    _phase = "run"
