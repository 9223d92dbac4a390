"""HTML report of the run's AI self-healing activity.

:class:`AIReportGenerator` reads the self-healing manager's summary
(``get_healing_summary``) and report entries (``get_healing_report_entries``) and
writes ``ai_validation_report.html`` into ``HTML_REPORTS_DIR`` (default
``html-reports``). A run without healing events writes nothing.
"""

from __future__ import annotations

from datetime import datetime
from html import escape
from pathlib import Path
from typing import Any, Iterable, List, Mapping
from tarvolab_framework.core import settings

REPORT_FILE_NAME = "ai_validation_report.html"
DEFAULT_REPORTS_DIR = "html-reports"

_STYLE = """
body { font-family: system-ui, sans-serif; margin: 2rem; color: #222; }
h1 { font-size: 1.5rem; }
.cards { display: flex; gap: 1rem; margin: 1rem 0 2rem; flex-wrap: wrap; }
.card { border: 1px solid #ddd; border-radius: 6px; padding: .8rem 1.2rem; min-width: 8rem; }
.card .value { font-size: 1.6rem; font-weight: bold; }
table { border-collapse: collapse; width: 100%; font-size: .9rem; margin-bottom: 2rem; }
th, td { border: 1px solid #ddd; padding: .4rem .6rem; text-align: left; vertical-align: top; }
th { background: #f4f4f4; }
tr.healed td.status { color: #1a7f37; font-weight: bold; }
tr.failed td.status { color: #cf222e; font-weight: bold; }
code { word-break: break-all; }
"""


def reports_dir() -> Path:
    """The report directory: ``HTML_REPORTS_DIR`` or ``html-reports``."""
    return Path(settings.get("HTML_REPORTS_DIR") or DEFAULT_REPORTS_DIR)


def _cell(value: Any) -> str:
    return escape("" if value is None else str(value))


def _card(label: str, value: Any) -> str:
    return f'<div class="card"><div>{_cell(label)}</div><div class="value">{_cell(value)}</div></div>'


def _table(headers: Iterable[str], rows: Iterable[str]) -> str:
    head = "".join(f"<th>{_cell(h)}</th>" for h in headers)
    return f"<table><thead><tr>{head}</tr></thead><tbody>{''.join(rows)}</tbody></table>"


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
        locator. Nothing is written when no manager exists or its log is empty.
        """
        manager = locmender if locmender is not None else self._find_locmender()
        if manager is None:
            return ""
        entries = list(manager.get_healing_report_entries() or [])
        if not entries:
            return ""
        summary = dict(manager.get_healing_summary() or {})

        directory = reports_dir()
        directory.mkdir(parents=True, exist_ok=True)
        path = directory / REPORT_FILE_NAME
        path.write_text(self.render(entries, summary), encoding="utf-8")
        self.last_report_path = str(path)
        return self.last_report_path

    def render(self, entries: List[Mapping[str, Any]], summary: Mapping[str, Any]) -> str:
        """The report page as HTML text; every value from the run is escaped."""
        cards = "".join([
            _card("Intentos", summary.get("total_attempts", len(entries))),
            _card("Reparados", summary.get("successful", "")),
            _card("Fallidos", summary.get("failed", "")),
            _card("Tasa de éxito", summary.get("success_rate", "N/A")),
        ])

        rows = []
        for number, entry in enumerate(entries, start=1):
            status = str(entry.get("status", ""))
            css = "healed" if status == "healed" else "failed"
            label = "Reparado" if status == "healed" else "Fallido"
            rows.append(
                f'<tr class="{css}"><td>{number}</td><td class="status">{_cell(label)}</td>'
                f"<td>{_cell(entry.get('message'))}</td><td>{_cell(entry.get('step'))}</td>"
                f"<td>{_cell(entry.get('scenario'))}</td><td>{_cell(entry.get('feature'))}</td>"
                f"<td>{_cell(entry.get('timestamp'))}</td></tr>"
            )
        events = _table(["#", "Estado", "Mensaje", "Paso", "Escenario", "Feature", "Fecha"], rows)

        details = ""
        healings = summary.get("healings") or []
        if healings:
            detail_rows = [
                f"<tr><td>{_cell(h.get('element_name'))}</td><td>{_cell(h.get('action'))}</td>"
                f"<td><code>{_cell(h.get('original_selector'))}</code></td>"
                f"<td><code>{_cell(h.get('suggested_selector'))}</code></td>"
                f"<td>{_cell(h.get('page_url'))}</td>"
                f"<td>{'sí' if h.get('success') else 'no'}</td></tr>"
                for h in healings
                if isinstance(h, Mapping)
            ]
            details = "<h2>Detalle de selectores</h2>" + _table(
                ["Elemento", "Acción", "Selector original", "Selector sugerido", "URL", "Verificado"],
                detail_rows,
            )

        generated = datetime.now().strftime("%Y-%m-%d %H:%M:%S")
        return (
            "<!DOCTYPE html>\n<html lang=\"es\"><head><meta charset=\"utf-8\">"
            "<title>Reporte de Validaciones IA</title>"
            f"<style>{_STYLE}</style></head><body>"
            "<h1>🤖 Reporte de Validaciones IA</h1>"
            f"<p>Generado: {_cell(generated)}</p>"
            f'<div class="cards">{cards}</div>'
            f"<h2>Eventos de self-healing</h2>{events}{details}"
            "</body></html>\n"
        )
