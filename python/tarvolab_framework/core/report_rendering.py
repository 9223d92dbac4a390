"""HTML rendering of the framework's reports with Jinja2 templates.

The templates live in ``report_templates/`` beside this module. Autoescaping is on for
every template, so names, error messages and selectors from the run are always shown
as text, never as markup. Links to evidence files (screenshots, traces, videos) are
written relative to the report's folder, so the folder can be copied or published
with its evidence beside it.
"""

from __future__ import annotations

import os
from pathlib import Path
from typing import Any, Optional
from urllib.parse import quote

from jinja2 import Environment, PackageLoader, StrictUndefined, select_autoescape

# Order in which outcomes are shown: what needs a look first.
OUTCOME_ORDER = {"failed": 0, "passed-with-soft-failures": 1, "flaky": 2, "skipped": 3, "passed": 4}
OUTCOME_LABELS = {
    "failed": "Fallido",
    "passed-with-soft-failures": "Soft assertions fallidas",
    "flaky": "Flaky (pasó al reintentar)",
    "skipped": "Omitido",
    "passed": "Pasado",
}

_environment: Optional[Environment] = None


def mask_text(text: Any) -> Any:
    """``text`` with the run's secret values replaced, when the secrets module is installed.

    Report data (errors, step texts, URLs) may quote a password typed in a step; the
    reports and their JSON files are shared, so the values are masked before writing.
    Non-text values are returned as they are.
    """
    if not isinstance(text, str):
        return text
    try:
        from tarvolab_framework.core.secrets import mask
    except ImportError:
        return text
    try:
        return mask(text)
    except Exception:  # masking must never lose the report
        return text


def href(target: Any, base: Any) -> str:
    """A URL for ``target`` relative to the folder ``base`` (percent-encoded)."""
    if not target:
        return ""
    try:
        relative = os.path.relpath(os.path.abspath(str(target)), os.path.abspath(str(base)))
    except ValueError:  # another drive: keep it absolute
        relative = os.path.abspath(str(target))
    return quote(relative.replace(os.sep, "/"))


def environment() -> Environment:
    global _environment
    if _environment is None:
        env = Environment(
            loader=PackageLoader("tarvolab_framework.core", "report_templates"),
            autoescape=select_autoescape(default=True, default_for_string=True),
            undefined=StrictUndefined,
            trim_blocks=True,
            lstrip_blocks=True,
        )
        env.filters["basename"] = lambda p: Path(str(p)).name if p else ""
        env.globals["outcome_label"] = lambda o: OUTCOME_LABELS.get(str(o), str(o))
        env.globals["outcome_order"] = OUTCOME_ORDER
        _environment = env
    return _environment


def render(template: str, base: Any, **data: Any) -> str:
    """Render ``template`` with ``data``; links are made relative to the folder ``base``."""
    return environment().get_template(template).render(
        link=lambda target: href(target, base), **data)


def by_outcome(records: Any) -> list:
    """Records sorted failures first (failed, soft, flaky, skipped, passed), run order within."""
    indexed = list(enumerate(records))
    indexed.sort(key=lambda item: (OUTCOME_ORDER.get(item[1].get("outcome", ""), 9), item[0]))
    return [record for _, record in indexed]
