"""Soft assertions: checks that record a failure and let the scenario go on.

Before each scenario the hook installs ``context.soft_assert(condition, message)``
and ``context.soft_assert_equal(actual, expected, message=None)``. A failing soft
assertion is collected instead of raised; after each step the collected failures are
tagged with that step, and after the scenario they are printed and the scenario is
counted in ``context._soft_assertion_failed_scenarios_count``. behave still reports
the scenario as passed (that is the point of a soft assertion); the run-end summary
prints the count, and the failures are left on the scenario object as
``soft_assertion_failures`` for report writers.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, List, Optional

from tarvolab_framework.core import context_layers
from tarvolab_framework.core.secrets import mask

COUNT_ATTRIBUTE = "_soft_assertion_failed_scenarios_count"
COLLECTOR_ATTRIBUTE = "soft_assertions"


@dataclass
class SoftAssertionFailure:
    """One failed soft assertion; ``step`` is filled in when its step ends."""

    message: str
    step: Optional[str] = None

    def __str__(self) -> str:
        return f"[{self.step}] {self.message}" if self.step else self.message


@dataclass
class SoftAssertionCollector:
    """The failed soft assertions of one scenario."""

    failures: List[SoftAssertionFailure] = field(default_factory=list)

    def soft_assert(self, condition: Any, message: str = "Soft assertion fallida") -> bool:
        """Record ``message`` when ``condition`` is false; return the condition's truth."""
        passed = bool(condition)
        if not passed:
            self.failures.append(SoftAssertionFailure(str(message)))
        return passed

    def soft_assert_equal(self, actual: Any, expected: Any, message: Optional[str] = None) -> bool:
        """Record a failure when ``actual != expected``; return whether they matched."""
        passed = bool(actual == expected)
        if not passed:
            detail = f"se esperaba {expected!r} pero se obtuvo {actual!r}"
            text = f"{message}: {detail}" if message else "S" + detail[1:]
            self.failures.append(SoftAssertionFailure(text))
        return passed

    def tag_untagged(self, step_text: str) -> None:
        for failure in self.failures:
            if failure.step is None:
                failure.step = step_text


def _lookup(obj: Any, name: str, default: Any = None) -> Any:
    # behave 1.2.6 raises KeyError for a missing "_name" attribute of the context.
    try:
        return getattr(obj, name)
    except (AttributeError, KeyError):
        return default


def _step_text(step: Any) -> str:
    keyword = str(_lookup(step, "keyword", "") or "").strip()
    name = str(_lookup(step, "name", "") or "")
    return f"{keyword} {name}".strip()


def _run_functions(context: Any):
    """``soft_assert`` and ``soft_assert_equal`` for the whole run: each call goes
    to the collector of the scenario running at that moment."""
    try:
        cached = context.__dict__.get("_tarvo_soft_assert_functions")
    except AttributeError:
        cached = None
    if cached is not None:
        return cached

    def collector() -> SoftAssertionCollector:
        current = _lookup(context, COLLECTOR_ATTRIBUTE)
        if not isinstance(current, SoftAssertionCollector):
            raise RuntimeError("context.soft_assertions no está disponible: fuera de un escenario")
        return current

    def soft_assert(condition: Any, message: str = "Soft assertion fallida") -> bool:
        return collector().soft_assert(condition, message)

    def soft_assert_equal(actual: Any, expected: Any, message: Optional[str] = None) -> bool:
        return collector().soft_assert_equal(actual, expected, message)

    soft_assert.__doc__ = SoftAssertionCollector.soft_assert.__doc__
    soft_assert_equal.__doc__ = SoftAssertionCollector.soft_assert_equal.__doc__
    functions = (soft_assert, soft_assert_equal)
    try:
        context.__dict__["_tarvo_soft_assert_functions"] = functions
    except AttributeError:
        pass
    return functions


def before_scenario_soft_assertions(context: Any, scenario: Any) -> None:
    """Start an empty collection; ``soft_assert``/``soft_assert_equal`` record into it."""
    context_layers.set_in_scope(context, COLLECTOR_ATTRIBUTE, SoftAssertionCollector())
    soft_assert, soft_assert_equal = _run_functions(context)
    context_layers.set_many_for_run(context, {"soft_assert": soft_assert, "soft_assert_equal": soft_assert_equal})


def after_step_soft_assertions(context: Any, step: Any) -> None:
    """Tag the failures collected during ``step`` with the step's text."""
    # Runs after every step: the lookup is written out rather than a call.
    try:
        collector = context.soft_assertions
    except (AttributeError, KeyError):
        return
    # Most steps record nothing: the step's text is only built when needed.
    if isinstance(collector, SoftAssertionCollector) and collector.failures:
        collector.tag_untagged(_step_text(step))


def after_scenario_soft_assertions(context: Any, scenario: Any) -> None:
    """Count and print the scenario's soft-assertion failures, if any.

    The collection is emptied afterwards, so a second call for the same scenario
    neither counts nor prints again.
    """
    collector = _lookup(context, COLLECTOR_ATTRIBUTE)
    if not isinstance(collector, SoftAssertionCollector) or not collector.failures:
        return
    failures = list(collector.failures)
    collector.failures.clear()

    count = _lookup(context, COUNT_ATTRIBUTE, 0)
    if not isinstance(count, int) or isinstance(count, bool):
        count = 0
    setattr(context, COUNT_ATTRIBUTE, count + 1)

    try:
        scenario.soft_assertion_failures = [str(f) for f in failures]
    except Exception:  # a read-only scenario object still gets its failures printed
        pass

    # Messages may hold page text cut inside an emoji (half of it) or a secret:
    # made valid UTF-8 and masked, so the summary itself cannot fail the hook.
    name = _lookup(scenario, "name", "") or ""
    print(mask(f"⚠️  SOFT ASSERTIONS: {len(failures)} fallo(s) en el escenario '{name}'"))
    for number, failure in enumerate(failures, start=1):
        print(mask(f"   {number}. {failure}"))
