"""behave runner whose exit status follows the scenarios' final outcomes.

behave decides its exit status from what it saw while the features ran, before the
run-end retry pass and before soft assertions are weighed. This runner keeps
everything behave does and only changes the answer at the end: the run fails when a
scenario's final outcome fails it (failed, passed-with-soft-failures, or flaky with
``RETRY_FAIL_ON_FLAKY=true``), or when behave failed for a reason no scenario
explains (a hook error in ``before_all``/``after_all``/feature hooks, an abort). A run
whose every failure passed on retry exits 0.

behave 1.3: ``runner = tarvolab_framework.runner:Runner`` in ``behave.ini`` (or
``--runner tarvolab_framework.runner:Runner``). behave 1.2.6 has no runner option:
run ``python -m tarvolab_framework.runner`` with behave's usual arguments instead of
``behave`` (this works with 1.3 too).
"""

from __future__ import annotations

import sys
from typing import Any, List, Optional

from behave.runner import Runner as _BehaveRunner

# Hooks whose failure marks a scenario (and so shows in its final outcome).
_SCENARIO_HOOKS = frozenset({"before_scenario", "after_scenario", "before_step", "after_step"})

__all__ = ["Runner", "main"]


def _lookup(obj: Any, name: str, default: Any = None) -> Any:
    try:
        return getattr(obj, name)
    except (AttributeError, KeyError):
        return default


class Runner(_BehaveRunner):
    """behave's standard runner, with the exit status of the final outcomes."""

    def run_hook(self, name, *args, **kwargs):  # noqa: D102 - behave's own hook runner
        before = getattr(self, "hook_failures", 0)
        result = super().run_hook(name, *args, **kwargs)
        if getattr(self, "hook_failures", 0) > before and name not in _SCENARIO_HOOKS:
            self._tarvo_run_level_failures = getattr(self, "_tarvo_run_level_failures", 0) + 1
        return result

    def run_model(self, features=None):  # noqa: D102
        failed = super().run_model(features)
        try:
            return bool(self.final_exit_status(bool(failed)))
        except Exception as exc:  # never turn a failing run into a passing one by accident
            print("⚠️ No se pudo calcular el estado final de la ejecución: %s" % exc)
            return failed

    def _scenarios(self) -> List[Any]:
        found: List[Any] = []
        for feature in getattr(self, "features", None) or []:
            walk = _lookup(feature, "walk_scenarios")
            if callable(walk):
                found.extend(walk())
        return found

    def final_exit_status(self, behave_failed: bool, context: Any = None) -> int:
        """0 or 1 from the final outcomes of every scenario behave ran (``context``: the runner's)."""
        from tarvolab_framework.core import outcomes, runwright

        context = context if context is not None else getattr(self, "context", None)
        registry = outcomes.registry(context, create=False) if context is not None else None
        elsewhere = bool(getattr(self, "aborted", False) or getattr(self, "_tarvo_run_level_failures", 0))
        if registry is None:
            # The framework's hooks never ran (no scenario reached them): behave's answer stands.
            return 1 if behave_failed else 0
        names: List[str] = []
        for scenario in self._scenarios():
            status = outcomes.status_name(_lookup(scenario, "status"))
            record = registry.find(scenario)
            if record is None:
                # Never reached the framework's scenario end: its own status decides.
                names.append(runwright._final_outcome(status, 0, False, 0))
                continue
            # The runner's status now (an after-scenario hook error counts) with
            # what the run learnt later: retry, soft assertions, forced failure.
            names.append(runwright._final_outcome(status, len(record.soft_failures),
                                                  bool(record.forced_reasons), int(record.passed_on_retry)))
        return runwright._run_exit_status(names, elsewhere, outcomes.fail_on_flaky())


def main(argv: Optional[List[str]] = None) -> int:
    """``behave`` with this runner, for behave 1.2.6 (which has no ``--runner``) and 1.3."""
    from behave.__main__ import run_behave
    from behave.configuration import Configuration

    config = Configuration(argv if argv is not None else sys.argv[1:])
    return run_behave(config, runner_class=Runner)


if __name__ == "__main__":
    sys.exit(main())
