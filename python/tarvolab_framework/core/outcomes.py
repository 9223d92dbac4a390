"""One final outcome per scenario, the same in every output of the run.

A scenario ends the run as exactly one of:

* ``passed``;
* ``failed``;
* ``flaky``: it failed, then passed in the end-of-run retry pass;
* ``passed-with-soft-failures``: behave saw it pass but soft assertions failed
  (it counts as failed, as Playwright Test counts soft assertions);
* ``skipped``.

The run's scenario ends, the retry pass, the soft assertions and framework code that
fails a scenario on purpose all feed one :class:`OutcomeRegistry` per run (kept on the
runner context); the console summary, the analysis and healing reports, the Xray file
and the exit status given by :class:`tarvolab_framework.runner.Runner` all read it. The
decision itself (status + retry + soft failures + forced failure -> outcome, outcomes
-> exit status) is made by the C++ core through ``runwright``.

Public API::

    fail_scenario(context, scenario, reason)   # the scenario's outcome becomes failed
    final_outcome(scenario, context=None)      # "passed", "failed", "flaky", ...
    final_outcomes(context=None)               # one dict per scenario, run order
    run_exit_status(context=None)              # 0 or 1 from the final outcomes

``RETRY_FAIL_ON_FLAKY=true`` makes flaky scenarios fail the run (default: a run whose
every failure passed on retry exits 0).
"""

from __future__ import annotations

import time
import weakref
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional

REGISTRY_ATTRIBUTE = "_tarvo_outcomes"
FAIL_ON_FLAKY_VAR = "RETRY_FAIL_ON_FLAKY"

OUTCOMES = ("passed", "failed", "flaky", "passed-with-soft-failures", "skipped")

__all__ = [
    "OUTCOMES", "OutcomeRegistry", "ScenarioRecord", "fail_scenario", "final_outcome",
    "final_outcomes", "run_exit_status", "registry", "fail_on_flaky",
]


def _lookup(obj: Any, name: str, default: Any = None) -> Any:
    # behave 1.2.6 raises KeyError for a missing "_name" attribute of the context.
    try:
        return getattr(obj, name)
    except (AttributeError, KeyError):
        return default


_runwright: Any = None


def _core() -> Any:
    # Imported on first use (the extension imports this module's package), then kept.
    global _runwright
    if _runwright is None:
        from tarvolab_framework.core import runwright

        _runwright = runwright
    return _runwright


def status_name(status: Any) -> str:
    """behave's ``Status`` enum (or a plain text) as a lower-case name."""
    if status is None:
        return "untested"
    name = _lookup(status, "name")
    if not isinstance(name, str):
        name = str(status)
        if name.startswith("Status."):
            name = name[len("Status."):]
    return name.lower()


def fail_on_flaky() -> bool:
    """``RETRY_FAIL_ON_FLAKY`` is on ("true" in any capitalisation)."""
    from tarvolab_framework.core import settings

    return bool(settings.get(FAIL_ON_FLAKY_VAR))


@dataclass
class ScenarioRecord:
    """What the run knows of one scenario; :attr:`outcome` is decided from it."""

    name: str
    feature: str
    feature_file: str = ""
    line: Optional[int] = None
    runner_status: str = "untested"
    soft_failures: List[str] = field(default_factory=list)
    forced_reasons: List[str] = field(default_factory=list)
    passed_on_retry: int = 0
    retry_attempts: List[Dict[str, Any]] = field(default_factory=list)
    error: Optional[str] = None
    started_at: Optional[float] = None
    duration: float = 0.0
    # Evidence, filled by tarvolab_framework.core.evidence (paths as texts).
    stem: str = ""
    feature_stem: str = ""
    screenshots: List[str] = field(default_factory=list)
    trace: Optional[str] = None
    video: Optional[str] = None
    video_offset: Optional[float] = None
    scenario: Any = field(default=None, repr=False, compare=False)

    @property
    def outcome(self) -> str:
        return _core()._final_outcome(self.runner_status, len(self.soft_failures),
                                      bool(self.forced_reasons), int(self.passed_on_retry))

    @property
    def reason(self) -> str:
        return "; ".join(self.forced_reasons)

    def as_dict(self) -> Dict[str, Any]:
        """Plain data for reports and result files (no runner objects)."""
        return {
            "name": self.name,
            "feature": self.feature,
            "feature_file": self.feature_file,
            "line": self.line,
            "outcome": self.outcome,
            "runner_status": self.runner_status,
            "soft_failures": list(self.soft_failures),
            "forced_reasons": list(self.forced_reasons),
            "passed_on_retry": self.passed_on_retry,
            "retry_attempts": [dict(a) for a in self.retry_attempts],
            "error": self.error,
            "duration": self.duration,
            "screenshots": list(self.screenshots),
            "trace": self.trace,
            "video": self.video,
            "video_offset": self.video_offset,
        }


class OutcomeRegistry:
    """The scenarios of one run, in the order they first reached the registry."""

    def __init__(self) -> None:
        self._records: Dict[int, ScenarioRecord] = {}

    def record(self, scenario: Any) -> ScenarioRecord:
        """The scenario's record, created on first use."""
        key = id(scenario)
        found = self._records.get(key)
        if found is not None and found.scenario is scenario:
            return found
        feature = _lookup(scenario, "feature")
        record = ScenarioRecord(
            name=str(_lookup(scenario, "name", "") or ""),
            feature=str(_lookup(feature, "name", "") or "") if feature is not None else "",
            feature_file=str(_lookup(feature, "filename", "") or "") if feature is not None else "",
            line=_lookup(scenario, "line"),
            scenario=scenario,  # kept, so its id() stays unique for the run
        )
        self._records[key] = record
        return record

    def find(self, scenario: Any) -> Optional[ScenarioRecord]:
        found = self._records.get(id(scenario))
        return found if found is not None and found.scenario is scenario else None

    def records(self) -> List[ScenarioRecord]:
        return list(self._records.values())

    def scenario_ended(self, scenario: Any) -> ScenarioRecord:
        """Note the runner's status, error and soft-assertion failures at scenario end."""
        record = self.record(scenario)
        record.runner_status = status_name(_lookup(scenario, "status"))
        record.soft_failures = [str(f) for f in (_lookup(scenario, "soft_assertion_failures") or [])]
        try:
            record.duration = round(float(_lookup(scenario, "duration", 0.0) or 0.0), 3)
        except (TypeError, ValueError):
            record.duration = 0.0
        record.error = _error_of(scenario) if _core()._outcome_fails_run(
            _core()._final_outcome(record.runner_status, 0, False, 0), False) else None
        return record

    def retry_attempt(self, scenario: Any, attempt: int, passed: bool, **evidence: Any) -> None:
        record = self.record(scenario)
        entry = {"attempt": int(attempt), "passed": bool(passed)}
        entry.update(evidence)
        record.retry_attempts.append(entry)
        if passed and not record.passed_on_retry:
            record.passed_on_retry = int(attempt) or 1

    def fail(self, scenario: Any, reason: str) -> ScenarioRecord:
        record = self.record(scenario)
        record.forced_reasons.append(str(reason))
        return record

    def exit_status(self, runner_failed_elsewhere: bool = False) -> int:
        return _core()._run_exit_status([r.outcome for r in self.records()],
                                        bool(runner_failed_elsewhere), fail_on_flaky())

    def summary_lines(self) -> List[str]:
        entries = [(r.name, r.outcome, int(r.passed_on_retry), r.reason) for r in self.records()]
        return _core()._outcome_summary_lines(entries, fail_on_flaky())


def _error_of(scenario: Any) -> Optional[str]:
    """The first failing step's error message, else the scenario's own."""
    steps = list(_lookup(scenario, "all_steps", None) or _lookup(scenario, "steps", None) or [])
    for step in steps:
        if status_name(_lookup(step, "status")) in ("failed", "error", "hook_error", "undefined"):
            keyword = str(_lookup(step, "keyword", "") or "").strip()
            message = _lookup(step, "error_message")
            head = f"{keyword} {_lookup(step, 'name', '')}".strip()
            if status_name(_lookup(step, "status")) == "undefined":
                return f"{head}: paso no definido"
            return f"{head}: {message}" if message else head
    message = _lookup(scenario, "error_message")
    if message:
        return str(message)
    exception = _lookup(scenario, "exception")
    return str(exception) if exception is not None else None


# The registry of the run in progress, for writers that get no runner context
# (the analysis report's generate() takes no argument). Held weakly: the context owns it.
_current: Optional["weakref.ref[OutcomeRegistry]"] = None


def registry(context: Any = None, create: bool = True) -> Optional[OutcomeRegistry]:
    """The run's registry: the context's, else the current run's (created on the context when missing)."""
    global _current
    if context is not None:
        found = _lookup(context, REGISTRY_ATTRIBUTE)
        if isinstance(found, OutcomeRegistry):
            _current = weakref.ref(found)
            return found
        if not create:
            return None
        made = OutcomeRegistry()
        setattr(context, REGISTRY_ATTRIBUTE, made)
        _current = weakref.ref(made)
        return made
    return _current() if _current is not None else None


def new_run(context: Any) -> OutcomeRegistry:
    """Start an empty registry for a new run on this context."""
    global _current
    made = OutcomeRegistry()
    setattr(context, REGISTRY_ATTRIBUTE, made)
    _current = weakref.ref(made)
    return made


def fail_scenario(context: Any, scenario: Any, reason: str) -> None:
    """Make ``scenario``'s final outcome failed, with ``reason`` shown beside it.

    Works at any moment of the run (during a step, in a hook, in the retry pass):
    the console summary, the reports, the Xray file and the exit status all show the
    scenario as failed, whatever behave or a retry said. ``scenario`` defaults to the
    context's current scenario when None.
    """
    if scenario is None:
        scenario = _lookup(context, "scenario")
    if scenario is None:
        raise ValueError("fail_scenario() needs a scenario (none given and none running)")
    if not isinstance(reason, str):
        raise TypeError(f"reason must be a str, not {type(reason).__name__}")
    registry(context).fail(scenario, reason)


def final_outcome(scenario: Any, context: Any = None) -> Optional[str]:
    """The scenario's final outcome, or None when the run never saw it."""
    reg = registry(context, create=False)
    record = reg.find(scenario) if reg is not None else None
    return record.outcome if record is not None else None


def final_outcomes(context: Any = None) -> List[Dict[str, Any]]:
    """Every scenario of the run as plain data (see :meth:`ScenarioRecord.as_dict`)."""
    reg = registry(context, create=False)
    return [r.as_dict() for r in reg.records()] if reg is not None else []


def run_exit_status(context: Any = None) -> int:
    """0 or 1 from the final outcomes (and ``RETRY_FAIL_ON_FLAKY``)."""
    reg = registry(context, create=False)
    return reg.exit_status() if reg is not None else 0


def now() -> float:
    return time.time()
