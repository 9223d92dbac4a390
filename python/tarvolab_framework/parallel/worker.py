"""One worker process of ``tarvo-run``.

Runs behave with the project's own arguments and hooks, but the features come
one at a time from the command (see :mod:`.protocol`): the browser launched at
the run start serves every feature this worker gets, and the page is reused
within a feature as in a plain run. After each scenario the worker reports its
result; after each feature it reports the duration and asks for the next one.

Started by the command as ``python -m tarvolab_framework.parallel.worker ARGS``
with these variables:

- ``TARVO_WORKER_ID``: the worker's number (1, 2, ...), or ``retry``;
- ``TARVO_WORKER_DIR``: a folder for the files this worker's integrations write
  (the command writes the run's own files from the reported results);
- ``TARVO_WORKER_FORCE_JSON``: a JSON object of variables set again after the run
  start, so a project's ``.env`` cannot switch them back (the end-of-run retry
  belongs to the command, not to each worker).
"""

from __future__ import annotations

import json
import os
import sys
import time
from typing import Any

from ..core import settings
from . import protocol

INTEGRATION_OBJECTS = ("jira_xray_hooks", "meridio_hooks", "tarvo_tm_hooks")


def _lookup(obj: Any, name: str) -> Any:
    # behave 1.2.6 raises KeyError for some missing context attributes.
    try:
        return getattr(obj, name)
    except (AttributeError, KeyError):
        return None


def _emit(event: dict, streams=()) -> None:
    """Writes a report line after everything printed before it."""
    for stream in (sys.stdout, sys.stderr, *streams, sys.__stderr__):
        try:
            stream.flush()
        except Exception:  # a closed or odd stream must not stop the report
            pass
    sys.__stdout__.write(protocol.encode(event))
    sys.__stdout__.flush()


def _base_runner():
    """The framework's own runner class when the package has one, else behave's."""
    try:
        from tarvolab_framework.runner import Runner  # type: ignore
        return Runner
    except ImportError:
        from behave.runner import Runner
        return Runner


def enabled_outputs(context: Any) -> dict:
    """Which run-end outputs the framework switched on at the run start."""
    tarvo = _lookup(context, "tarvo_tm_hooks")
    return {
        "jira": bool(_lookup(context, "jira_xray_enabled")) and _lookup(context, "jira_xray_hooks") is not None,
        "meridio": bool(_lookup(context, "meridio_enabled")) and _lookup(context, "meridio_hooks") is not None,
        "tarvo_tm": bool(tarvo is not None and _lookup(tarvo, "is_configured")),
        "analysis": bool(_lookup(context, "ai_analysis_report")),
    }


def make_runner_class(base):
    class WorkerRunner(base):
        """behave's runner, fed one feature at a time by the command."""

        def __init__(self, config, *args, **kwargs):
            super().__init__(config, *args, **kwargs)
            self._reported: set = set()
            self._current_feature = None

        # -- the feature feed -------------------------------------------------
        def run_model(self, features=None):
            return super().run_model(features=self._feed())

        def _formatter_streams(self):
            return [s for s in (getattr(f, "stream", None) for f in getattr(self, "formatters", []) or []) if s]

        def _emit(self, event):
            _emit(event, self._formatter_streams())

        def _feed(self):
            by_path = {os.path.realpath(str(f.filename)): f for f in self.features}
            while True:
                if getattr(self, "aborted", False):
                    # The run start failed (or Ctrl-C): behave would go through the
                    # features without running them, which must not look like a pass.
                    self._emit({"event": "aborted"})
                    return
                if self._browser_lost():
                    self._emit({"event": "browser_lost"})
                    return
                self._emit({"event": "next", "outputs": enabled_outputs(self.context)})
                line = sys.stdin.readline()
                if not line.strip():
                    return
                request = json.loads(line)
                path = request["path"]
                feature = by_path.get(os.path.realpath(path))
                started = time.monotonic()
                if feature is not None:
                    lines = request.get("lines")
                    if lines:
                        wanted = set(lines)
                        for scenario in feature.walk_scenarios():
                            if scenario.line not in wanted:
                                scenario.mark_skipped()
                    self._current_feature = feature
                    yield feature
                    self._report_unreported(feature)
                self._emit({"event": "feature", "path": path, "found": feature is not None,
                            "duration": round(time.monotonic() - started, 3)})

        def _browser_lost(self) -> bool:
            browser = _lookup(self.context, "browser") if self.context is not None else None
            if browser is None or not hasattr(browser, "is_connected"):
                return False
            try:
                return not browser.is_connected()
            except Exception:
                return True

        # -- hooks ----------------------------------------------------------------
        def run_hook(self, name, *args, **kwargs):
            if name == "after_all":
                # What the run end prints from here on is this worker's part of
                # a run whose one summary the command prints.
                self._emit({"event": "run_end"})
            result = super().run_hook(name, *args, **kwargs)
            if name == "before_all":
                self._after_run_start()
            elif name == "after_scenario" and args:
                self._report_scenario(args[-1])
            return result

        def _after_run_start(self):
            forced = json.loads(os.environ.get("TARVO_WORKER_FORCE_JSON", "{}") or "{}")
            os.environ.update(forced)
            context = self.context
            config = _lookup(_lookup(context, "framework_config"), "config")
            if isinstance(config, dict) and "RETRY_FAILED_SCENARIOS" in forced:
                config["retry_failed_scenarios"] = forced["RETRY_FAILED_SCENARIOS"].lower() == "true"
            folder = os.environ.get("TARVO_WORKER_DIR", "")
            if folder:
                for name in INTEGRATION_OBJECTS:
                    hooks = _lookup(context, name)
                    target = _lookup(hooks, "results_file")
                    if isinstance(target, str) and target:
                        hooks.results_file = os.path.join(folder, os.path.basename(target))

        def _report_scenario(self, scenario):
            key = id(scenario)
            if key in self._reported:
                return
            self._reported.add(key)
            from tarvolab_framework.integrations import _results as r
            from tarvolab_framework.integrations.behave_hooks import test_key_of

            record = r.scenario_record(scenario)
            record["test_key"] = test_key_of(record["tags"])
            analysis = None
            try:
                from tarvolab_framework.core.ai_analysis_report import AIAnalysisReport

                analysis = AIAnalysisReport().record_scenario(scenario)
            except Exception as exc:  # the analysis record is extra; the result is not
                analysis = {"error": "analysis record failed: %s" % exc}
            self._emit({"event": "scenario", "record": record, "analysis": analysis,
                        "outcome": self._outcome_of(scenario)})

        def _outcome_of(self, scenario):
            """The scenario's outcome record (status, soft failures, forced failures, evidence)."""
            try:
                from tarvolab_framework.core import outcomes

                registry = outcomes.registry(self.context, create=False)
                found = registry.find(scenario) if registry is not None else None
                return found.as_dict() if found is not None else None
            except Exception:  # an older framework without outcomes: the record's status decides
                return None

        def _report_unreported(self, feature):
            # A scenario whose after_scenario hook did not run (a project without
            # that hook) is reported from the model once its feature ended.
            from tarvolab_framework.integrations import _results as r

            for scenario in feature.walk_scenarios():
                if id(scenario) in self._reported:
                    continue
                if r.status_name(getattr(scenario, "status", None)) in ("untested", "skipped"):
                    continue
                self._report_scenario(scenario)

        # -- the end --------------------------------------------------------------
        def run(self, *args, **kwargs):
            failed = super().run(*args, **kwargs)
            self._report_healing()
            return failed

        def _report_healing(self):
            try:
                from tarvolab_framework.core.element_locator import active_locmender

                manager = active_locmender()
                entries = list(manager.get_healing_report_entries() or []) if manager is not None else []
                summary = dict(manager.get_healing_summary() or {}) if manager is not None else {}
            except Exception:
                entries, summary = [], {}
            try:
                from tarvolab_framework.core import heal_events

                requests = list(heal_events.events())
            except Exception:
                requests = []
            if entries or requests:
                self._emit({"event": "healing", "entries": entries, "summary": summary, "requests": requests})

    return WorkerRunner


def _configure(args):
    from behave.configuration import Configuration

    config = Configuration(args)
    worker_id = settings.get("TARVO_WORKER_ID")
    tag = "w" + (worker_id or "0")
    # Formatter files named with -o get one file per worker; the command puts
    # them together at the end.
    for opener in getattr(config, "outputs", []) or []:
        name = getattr(opener, "name", None)
        if name and getattr(opener, "stream", None) is None:
            opener.name = "%s.%s" % (name, tag)
    # behave's totals of one worker are a part of the run's: the command prints
    # the run's own summary instead.
    config.reporters = [r for r in config.reporters if not type(r).__name__.startswith("SummaryReporter")]
    if worker_id == "retry":
        # behave's JUnit files keep the features' first runs.
        config.junit = False
        config.reporters = [r for r in config.reporters if type(r).__name__ != "JUnitReporter"]
    return config


def main(argv=None) -> int:
    from behave.__main__ import run_behave

    args = list(sys.argv[1:] if argv is None else argv)
    config = _configure(args)
    return run_behave(config, runner_class=make_runner_class(_base_runner()))


if __name__ == "__main__":
    sys.exit(main())
