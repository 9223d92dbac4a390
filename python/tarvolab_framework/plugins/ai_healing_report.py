"""Built-in plug-in that writes the AI validation report at the end of the run.

When the run is driven by the framework's hook module, the run-end lifecycle leaves
the AI validation report to the plug-in system. The plug-in's ``after_all`` runs
before the retry pass, so it only books the report: the run end writes it after the
retry pass, and heals made there are in it.
"""

from __future__ import annotations

from typing import Any
from tarvolab_framework.core import settings

RULE = "=" * 70


def _lookup(obj: Any, name: str) -> Any:
    # behave 1.2.6 raises KeyError for some missing context attributes.
    try:
        return getattr(obj, name)
    except (AttributeError, KeyError):
        return None


def _run_locmender(context: Any) -> Any:
    """The run's self-healing manager: the context's, the locator's, or the last one built."""
    manager = _lookup(context, "locmender")
    if manager is None:
        locator = _lookup(context, "element_locator")
        if locator is not None:
            manager = _lookup(locator, "locmender")
    if manager is None:
        from tarvolab_framework.core.element_locator import active_locmender

        manager = active_locmender()
    return manager


class AIHealingReportPlugin:
    """Writes ``ai_validation_report.html`` after the run when healing happened.

    Honours ``GENERATE_AI_REPORT`` (default "true"): any other value than "true"
    (in any capitalisation) switches the report off, as for the lifecycle's own writer.
    """

    name = "ai_healing_report"

    def after_all(self, context: Any) -> None:
        if not settings.get("GENERATE_AI_REPORT"):
            return
        from tarvolab_framework.core import evidence

        evidence.at_run_end(context, self.write_report)

    def write_report(self, context: Any) -> None:
        """Write the report now (at run end, after the retry pass) when healing happened."""
        try:
            manager = _run_locmender(context)
            from tarvolab_framework.core import heal_events

            logged = manager is not None and list(manager.get_healing_report_entries() or [])
            if not logged and not heal_events.events() and not heal_events.stale():
                return
            # Looked up on its module at the moment of use, so a replaced writer is used.
            from tarvolab_framework.core import ai_report_generator

            path = ai_report_generator.AIReportGenerator().generate_report(manager)
            if path:
                print("\n" + RULE)
                print("🤖 Reporte de Validaciones IA generado: " + str(path))
                print(RULE + "\n")
        except Exception as exc:
            print("⚠️ Error generando reporte de IA: " + str(exc))
