"""Run analysis report: what passed, what failed, and which failures belong together.

The run set-up creates an :class:`AIAnalysisReport` and calls :meth:`~AIAnalysisReport.start`;
the scenario teardown hands it every finished scenario; at run end (after the retry
pass) :meth:`~AIAnalysisReport.generate` writes ``ai_analysis_report.html`` and
``ai_analysis_report.json`` into ``HTML_REPORTS_DIR`` (default ``html-reports``).
Each scenario carries its final outcome (passed, failed, flaky,
passed-with-soft-failures, skipped) and links to its screenshots, trace and video;
failures come first. :func:`render_json_file` renders the HTML again from a JSON file.

Failures are grouped into clusters by their normalised error message (numbers,
quoted texts and addresses blanked out), so twenty scenarios broken by one missing
button appear as one cluster of twenty rather than twenty separate problems. Each
cluster also gets a probable cause from the kind of error.
"""

from __future__ import annotations

import json
import re
import time
from datetime import datetime
from pathlib import Path
from typing import Any, Dict, List, Optional

from tarvolab_framework.core import secrets
from tarvolab_framework.core.ai_report_generator import reports_dir
from tarvolab_framework.core.safe_io import atomic_write_text

HTML_FILE_NAME = "ai_analysis_report.html"
JSON_FILE_NAME = "ai_analysis_report.json"
FAILED_STATUSES = ("failed", "error", "hook_error")

_NUMBER = re.compile(r"\b\d+(?:\.\d+)?\b")
_QUOTED = re.compile(r"'[^']*'|\"[^\"]*\"")
_URL = re.compile(r"\bhttps?://\S+")
_BLANKS = re.compile(r"\s+")

# (pattern on the lower-cased error text, probable cause); first match wins.
_CAUSES = (
    ("no encontrado|not found|no element|waiting for locator|selector", "Elemento no encontrado: selector obsoleto o página distinta"),
    ("timeout|timed out|tiempo", "Tiempo de espera agotado: página lenta o condición que nunca se cumple"),
    ("net::|connection|econnrefused|dns|network", "Problema de red o del servidor"),
    ("assert|expected|esperaba", "Verificación fallida: el resultado difiere del esperado"),
    ("closed|crash|target page", "Navegador o página cerrados durante el paso"),
)


def _lookup(obj: Any, name: str, default: Any = None) -> Any:
    try:
        return getattr(obj, name)
    except (AttributeError, KeyError):
        return default


def _status_text(status: Any) -> str:
    """behave's ``Status`` enum (or a plain text) as a lower-case name."""
    if status is None:
        return "unknown"
    return str(_lookup(status, "name", status)).lower()


def normalise_error(message: str) -> str:
    """The cluster key of an error: its first line with the variable parts blanked."""
    lines = [line.strip() for line in str(message).splitlines() if line.strip()]
    first = lines[0] if lines else ""
    first = _URL.sub("<url>", first)
    first = _QUOTED.sub("'…'", first)
    first = _NUMBER.sub("<n>", first)
    return _BLANKS.sub(" ", first)[:240]


def probable_cause(message: str) -> str:
    text = str(message).lower()
    for pattern, cause in _CAUSES:
        if re.search(pattern, text):
            return cause
    return "Error inesperado en el código del paso"


class AIAnalysisReport:
    """Records the run's scenarios and writes the analysis report."""

    def __init__(self) -> None:
        self.scenarios: List[Dict[str, Any]] = []
        self._scenario_objects: List[Any] = []  # parallel to self.scenarios
        self.started_at: Optional[float] = None

    def start(self) -> None:
        """Begin a recording: forget earlier scenarios and note the start time."""
        self.scenarios = []
        self._scenario_objects = []
        self.started_at = time.time()

    def record_scenario(self, scenario: Any) -> Dict[str, Any]:
        """Record one finished scenario and return the stored record.

        Kept: name, feature, status text, tags, duration in seconds, the first
        failing step with its error message, and soft-assertion failures.
        """
        if self.started_at is None:
            self.start()
        status = _status_text(_lookup(scenario, "status"))
        failing_step = None
        error = None
        if status in FAILED_STATUSES:
            steps = list(_lookup(scenario, "all_steps", None) or _lookup(scenario, "steps", None) or [])
            for step in steps:
                if _status_text(_lookup(step, "status")) in FAILED_STATUSES:
                    keyword = str(_lookup(step, "keyword", "") or "").strip()
                    failing_step = f"{keyword} {_lookup(step, 'name', '')}".strip()
                    error = _lookup(step, "error_message")
                    break
            if error is None:
                error = _lookup(scenario, "error_message")
            if error is None:
                exception = _lookup(scenario, "exception")
                error = str(exception) if exception is not None else "Error desconocido"
        feature = _lookup(scenario, "feature")
        duration = _lookup(scenario, "duration", 0) or 0
        record = {
            "name": str(_lookup(scenario, "name", "") or ""),
            "feature": str(_lookup(feature, "name", "") or "") if feature is not None else "",
            "status": status,
            "tags": [str(tag) for tag in (_lookup(scenario, "tags", None) or [])],
            "duration": round(float(duration), 3),
            "failing_step": failing_step,
            "error": str(error) if error is not None else None,
            "soft_assertion_failures": list(_lookup(scenario, "soft_assertion_failures", None) or []),
        }
        # The evidence known at scenario end (the lifecycle records it just before);
        # a record sent to another process (parallel runs) carries it along.
        for key, default in _EVIDENCE_DEFAULTS.items():
            record[key] = list(default) if isinstance(default, list) else default
        record["outcome"] = _outcome_of_status(status, record["soft_assertion_failures"])
        _merge_final(record, scenario)
        self.scenarios.append(record)
        self._scenario_objects.append(scenario)
        return record

    def _with_final_outcomes(self) -> List[Dict[str, Any]]:
        """The records, each with the scenario's final outcome and evidence when the run has them.

        ``outcome`` is passed, failed, flaky, passed-with-soft-failures or skipped; without
        final outcomes (the lifecycle never saw the scenario) it follows the runner's status.
        """
        merged = []
        # Records set from outside (a merge of several processes' records) have no
        # scenario objects: they keep the outcome their record carries.
        objects = list(self._scenario_objects) + [None] * (len(self.scenarios) - len(self._scenario_objects))
        for record, scenario in zip(self.scenarios, objects):
            record = dict(record)
            for key, default in _EVIDENCE_DEFAULTS.items():
                record.setdefault(key, list(default) if isinstance(default, list) else default)
            if not record.get("outcome"):
                record["outcome"] = _outcome_of_status(record.get("status", ""),
                                                       record.get("soft_assertion_failures") or [])
            if scenario is not None:
                _merge_final(record, scenario)
            merged.append(record)
        return merged

    def analysis(self) -> Dict[str, Any]:
        """Counts, pass rate and failure clusters of the recorded scenarios."""
        records = self._with_final_outcomes()
        counts: Dict[str, int] = {}
        by_status: Dict[str, int] = {}
        for record in records:
            counts[record["outcome"]] = counts.get(record["outcome"], 0) + 1
            by_status[record["status"]] = by_status.get(record["status"], 0) + 1
        # Clusters group what went wrong in the run, flaky scenarios included.
        failed = [r for r in records if r["status"] in FAILED_STATUSES]
        passed = counts.get("passed", 0)
        total = len(records)

        clusters: Dict[str, Dict[str, Any]] = {}
        for record in failed:
            key = normalise_error(record["error"] or "")
            cluster = clusters.setdefault(key, {
                "signature": key,
                "probable_cause": probable_cause(record["error"] or ""),
                "example_error": record["error"],
                "scenarios": [],
            })
            cluster["scenarios"].append(record["name"])
        ordered = sorted(clusters.values(), key=lambda c: (-len(c["scenarios"]), c["signature"]))

        from tarvolab_framework.core.report_rendering import mask_text

        for record in records:
            for key in ("error", "failing_step"):
                record[key] = mask_text(record.get(key))
            record["soft_assertion_failures"] = [mask_text(f) for f in record.get("soft_assertion_failures") or []]
            record["forced_reasons"] = [mask_text(f) for f in record.get("forced_reasons") or []]
        for cluster in ordered:
            cluster["example_error"] = mask_text(cluster["example_error"])
            cluster["signature"] = mask_text(cluster["signature"])
        return {
            "generated_at": datetime.now().isoformat(timespec="seconds"),
            "total": total,
            "passed": passed,
            "failed": counts.get("failed", 0),
            "flaky": counts.get("flaky", 0),
            "passed_with_soft_failures": counts.get("passed-with-soft-failures", 0),
            "skipped": counts.get("skipped", 0),
            "by_status": by_status,
            "by_outcome": counts,
            "pass_rate": f"{passed / total * 100:.1f}%" if total else "N/A",
            "duration": round(time.time() - self.started_at, 1) if self.started_at else 0.0,
            "soft_assertion_scenarios": sum(1 for r in records if r["soft_assertion_failures"]),
            "clusters": ordered,
            "scenarios": records,
        }

    def generate(self) -> str:
        """Write the HTML and JSON reports; return the HTML path, or ``""`` with nothing recorded."""
        if not self.scenarios:
            return ""
        # Masked and made valid UTF-8 before anything is written; each file is
        # replaced atomically, so a failed write keeps the previous report.
        data = secrets.mask_data(self.analysis())
        directory = reports_dir()
        directory.mkdir(parents=True, exist_ok=True)
        atomic_write_text(directory / JSON_FILE_NAME, json.dumps(data, ensure_ascii=False, indent=2))
        html_path = directory / HTML_FILE_NAME
        atomic_write_text(html_path, self.render(data, base=directory))
        return str(html_path)

    @staticmethod
    def render(data: Dict[str, Any], base: Any = None) -> str:
        """The analysis as an HTML page (Jinja2, every value from the run escaped).

        Evidence links are made relative to ``base`` (default: the report folder).
        """
        from tarvolab_framework.core import report_rendering

        scenarios = report_rendering.by_outcome([_normalised(r) for r in data.get("scenarios", [])])
        return report_rendering.render("analysis.html.j2", base if base is not None else reports_dir(),
                                       data=_with_count_defaults(data), scenarios=scenarios)


_EVIDENCE_DEFAULTS = {
    "outcome": "", "forced_reasons": [], "passed_on_retry": 0, "retry_attempts": [], "screenshots": [],
    "trace": None, "video": None, "video_offset": None,
}


def _outcome_of_status(status: str, soft_failures: List[str]) -> str:
    """The outcome a record's runner status gives when the run's final outcomes are not at hand."""
    if status in FAILED_STATUSES:
        return "failed"
    if status == "passed":
        return "passed-with-soft-failures" if soft_failures else "passed"
    return "skipped" if status in ("skipped", "untested") else "failed"


def _merge_final(record: Dict[str, Any], scenario: Any) -> None:
    """Overlay the scenario's final outcome and evidence from the run's outcome registry."""
    from tarvolab_framework.core import outcomes

    registry = outcomes.registry(create=False)
    found = registry.find(scenario) if registry is not None else None
    if found is None:
        return
    final = found.as_dict()
    record["outcome"] = final["outcome"]
    record["soft_assertion_failures"] = final["soft_failures"] or record.get("soft_assertion_failures", [])
    for key in ("forced_reasons", "passed_on_retry", "retry_attempts", "screenshots", "trace", "video",
                "video_offset"):
        record[key] = final[key]


_RECORD_DEFAULTS = {
    "name": "", "feature": "", "status": "", "outcome": "", "tags": [], "duration": 0.0,
    "failing_step": None, "error": None, "soft_assertion_failures": [], "forced_reasons": [],
    "passed_on_retry": 0, "retry_attempts": [], "screenshots": [], "trace": None, "video": None,
    "video_offset": None,
}


def _normalised(record: Dict[str, Any]) -> Dict[str, Any]:
    """A scenario record with every key the template reads (older JSON files lack some)."""
    merged = dict(_RECORD_DEFAULTS)
    merged.update({k: v for k, v in record.items() if v is not None or k in _RECORD_DEFAULTS})
    if not merged["outcome"]:
        status = merged["status"]
        merged["outcome"] = ("failed" if status in FAILED_STATUSES else
                             "passed" if status == "passed" else "skipped")
    return merged


def _with_count_defaults(data: Dict[str, Any]) -> Dict[str, Any]:
    merged = {"generated_at": "", "duration": 0.0, "total": 0, "passed": 0, "failed": 0, "flaky": 0,
              "passed_with_soft_failures": 0, "skipped": 0, "pass_rate": "N/A", "clusters": []}
    merged.update(data)
    return merged


def render_json_file(json_path: Any, html_path: Any = None) -> str:
    """Render the HTML report from a written ``ai_analysis_report.json`` (for instance a
    merge of several runs' data); returns the HTML path. ``html_path`` defaults to the
    JSON file's name with ``.html``, beside it."""
    source = Path(json_path)
    data = json.loads(source.read_text(encoding="utf-8"))
    target = Path(html_path) if html_path is not None else source.with_suffix(".html")
    atomic_write_text(target, AIAnalysisReport.render(data, base=target.parent))
    return str(target)
