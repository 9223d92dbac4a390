"""Built-in plug-in: under ``SELF_HEALING_STRICT=true`` a scenario that passed only
thanks to a heal ends the run as failed.

The element locator keeps the heals of the scenario in progress
(``ElementLocator.strict_heals``); the step itself goes on with the healed element, so
the scenario runs to its end and shows any later failure too. When the scenario ends,
this plug-in gives it the failed outcome (:func:`tarvolab_framework.core.outcomes.fail_scenario`)
with the heals as the reason: the console summary, the reports, the Xray file and the
exit status all count it as failed.
"""

from __future__ import annotations

from typing import Any


def _locator(context: Any) -> Any:
    try:
        locator = getattr(context, "element_locator")
    except (AttributeError, KeyError):  # behave 1.2.6 raises KeyError for missing names
        locator = None
    if locator is None:
        from tarvolab_framework.core.element_locator import active_locator

        locator = active_locator()
    return locator


def strict_reason(heals: Any) -> str:
    parts = [f"'{h.get('element')}' '{h.get('old_selector')}' → '{h.get('new_selector')}' ({h.get('source')})"
             for h in heals]
    return "SELF_HEALING_STRICT: el escenario solo pasó gracias a reparaciones: " + "; ".join(parts)


class StrictHealingPlugin:
    """Fails, at its end, a scenario that needed a heal while strict mode is on."""

    name = "strict_healing"

    def before_scenario(self, context: Any, scenario: Any) -> None:
        locator = _locator(context)
        if locator is not None and hasattr(locator, "strict_heals"):
            locator.strict_heals.clear()

    def after_scenario(self, context: Any, scenario: Any) -> None:
        locator = _locator(context)
        heals = list(getattr(locator, "strict_heals", None) or [])
        if not heals or not getattr(locator, "strict", False):
            return
        locator.strict_heals.clear()
        from tarvolab_framework.core import outcomes

        reason = strict_reason(heals)
        outcomes.fail_scenario(context, scenario, reason)
        print("   ❌ " + reason)
