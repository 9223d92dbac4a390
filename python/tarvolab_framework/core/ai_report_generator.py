"""HTML report of the run's AI self-healing activity.

:class:`AIReportGenerator` writes ``ai_validation_report.html`` and its data,
``ai_validation_report.json``, into ``HTML_REPORTS_DIR`` (default ``html-reports``).
It is written at run end, after the retry pass, so heals made while a failed scenario
was re-run are in it. It shows, counts first:

* every healing request the element locator made (:mod:`tarvolab_framework.core.heal_events`),
  failed ones first, each with the page-object file and key to update, the step,
  scenario and feature, whether it happened in the run or in the retry pass, and the
  scenario's final outcome with links to its evidence;
* every suggestion the self-healing manager tested (``get_healing_report_entries``
  and ``get_healing_summary``);
* the stale locators the element locator saw and the review patch of healed page
  objects (``SELF_HEALING_AUTO_UPDATE_POM``), when one was written.

A run without healing events writes nothing. :func:`render_json_file` renders the HTML
again from a JSON file (for instance merged from several runs).
"""

from __future__ import annotations

import json
from datetime import datetime
from pathlib import Path
from typing import Any, Dict, List, Mapping, Optional

from tarvolab_framework.core import settings
from tarvolab_framework.core import secrets
from tarvolab_framework.core.safe_io import atomic_write_text

REPORT_FILE_NAME = "ai_validation_report.html"
DATA_FILE_NAME = "ai_validation_report.json"
DEFAULT_REPORTS_DIR = "html-reports"


def reports_dir() -> Path:
    """The report directory: ``HTML_REPORTS_DIR`` or ``html-reports``."""
    return Path(settings.get("HTML_REPORTS_DIR") or DEFAULT_REPORTS_DIR)


def _scenario_evidence() -> Dict[tuple, Dict[str, Any]]:
    """Final outcome and evidence of each scenario, by (feature, scenario) name."""
    try:
        from tarvolab_framework.core import outcomes

        return {(r["feature"], r["name"]): r for r in outcomes.final_outcomes()}
    except Exception:  # the report still lists the heals
        return {}


def build_data(entries: List[Mapping[str, Any]], summary: Mapping[str, Any],
               requests: Optional[List[Mapping[str, Any]]] = None,
               stale: Optional[List[Mapping[str, Any]]] = None, patch: Optional[str] = None) -> Dict[str, Any]:
    """The report's data: counts, healing requests (with outcomes and evidence), suggestions,
    stale locators (a selector that finds an element that no longer looks like the recorded
    one) and the review patch of healed page objects, when one was written."""
    by_scenario = _scenario_evidence()
    request_rows = []
    for event in requests or []:
        row = dict(event)
        scenario = by_scenario.get((row.get("feature", ""), row.get("scenario", "")), {})
        row["outcome"] = scenario.get("outcome")
        row["screenshots"] = scenario.get("screenshots", [])
        row["trace"] = scenario.get("trace")
        row["video"] = scenario.get("video")
        row["video_offset"] = scenario.get("video_offset")
        request_rows.append(row)
    healed = sum(1 for r in request_rows if r.get("healed"))
    suggestions = [dict(e) for e in entries]
    return {
        "generated_at": datetime.now().isoformat(timespec="seconds"),
        "counts": {
            "requests": len(request_rows),
            "healed": healed,
            "not_healed": len(request_rows) - healed,
            "in_retry_pass": sum(1 for r in request_rows if str(r.get("phase", "")).startswith("retry")),
            "suggestions": int(summary.get("total_attempts", len(suggestions)) or 0),
            "suggestions_verified": int(summary.get("successful", 0) or 0),
            "success_rate": str(summary.get("success_rate", "N/A")),
            "without_model": sum(1 for r in request_rows if r.get("healed") and r.get("source") in ("store", "fingerprint")),
            "stale": len(stale or []),
        },
        "stale": [dict(s) for s in stale or []],
        "patch": patch,
        "requests": sorted(request_rows, key=lambda r: bool(r.get("healed"))),  # failures first
        "suggestions": suggestions,
        "selectors": [
            {k: h.get(k) for k in ("element_name", "action", "original_selector", "suggested_selector",
                                   "page_url", "success", "scenario", "feature", "step", "timestamp")}
            for h in (summary.get("healings") or []) if isinstance(h, Mapping)
        ],
    }


def render_data(data: Mapping[str, Any], base: Any = None) -> str:
    """The report page (Jinja2, every value escaped); links relative to ``base`` (default: report folder)."""
    from tarvolab_framework.core import report_rendering

    merged = {"generated_at": "", "requests": [], "suggestions": [], "selectors": [], "stale": [], "patch": None}
    merged.update(data)
    counts = {"requests": 0, "healed": 0, "not_healed": 0, "in_retry_pass": 0, "suggestions": 0,
              "suggestions_verified": 0, "success_rate": "N/A", "without_model": 0, "stale": 0}
    counts.update(merged.get("counts") or {})
    merged["counts"] = counts
    defaults = {"phase": "run", "pom_file": None, "pom_key": None, "reference": "", "outcome": None,
                "screenshots": [], "trace": None, "video": None, "video_offset": None, "page_url": "",
                "suggested_selector": None, "original_selector": "", "element_name": "", "step": "",
                "scenario": "", "feature": "", "healed": False, "timestamp": "", "source": None,
                "score": None, "model_calls": None}
    merged["requests"] = [{**defaults, **r} for r in merged["requests"]]
    return report_rendering.render("healing.html.j2", base if base is not None else reports_dir(), data=merged)


def render_json_file(json_path: Any, html_path: Any = None) -> str:
    """Render the HTML report from a written ``ai_validation_report.json``; returns the HTML path."""
    source = Path(json_path)
    data = json.loads(source.read_text(encoding="utf-8"))
    target = Path(html_path) if html_path is not None else source.with_suffix(".html")
    atomic_write_text(target, render_data(data, base=target.parent))
    return str(target)


class AIReportGenerator:
    """Writes the AI validation (self-healing) report of the run."""

    def __init__(self) -> None:
        self.last_report_path: str = ""

    @staticmethod
    def _find_locmender() -> Any:
        from tarvolab_framework.core.element_locator import active_locmender

        return active_locmender()

    def generate_report(self, locmender: Any = None) -> str:
        """Write the report and return its path, or ``""`` when there is nothing to report.

        ``locmender`` defaults to the self-healing manager of the run's element
        locator. Nothing is written when there is neither a healing request nor a
        logged suggestion.
        """
        from tarvolab_framework.core import heal_events

        manager = locmender if locmender is not None else self._find_locmender()
        entries = list(manager.get_healing_report_entries() or []) if manager is not None else []
        requests = heal_events.events()
        stale, patch = heal_events.stale(), heal_events.patch()
        if not entries and not requests and not stale:
            return ""
        summary = dict(manager.get_healing_summary() or {}) if manager is not None else {}

        directory = reports_dir()
        # Step texts may hold a typed password: masked before anything is written.
        data = secrets.mask_data(build_data(entries, summary, requests, stale, patch))
        atomic_write_text(directory / DATA_FILE_NAME, json.dumps(data, ensure_ascii=False, indent=2))
        path = directory / REPORT_FILE_NAME
        atomic_write_text(path, render_data(data, base=directory))
        self.last_report_path = str(path)
        return self.last_report_path

    def render(self, entries: List[Mapping[str, Any]], summary: Mapping[str, Any],
               requests: Optional[List[Mapping[str, Any]]] = None) -> str:
        """The report page as HTML text; every value from the run is escaped."""
        return render_data(build_data(entries, summary, requests))
