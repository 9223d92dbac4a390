"""Secret values kept out of model prompts, logs, reports and results files.

:func:`mask` replaces, in any text:

- every value of a setting (environment variable) whose name says it is secret:
  it contains ``PASSWORD``, ``API_KEY``, ``SECRET`` or ``TOKEN`` (``MAX_TOKENS``
  and the like are counts and do not count);
- every value registered with :func:`register_secret` (the element locator
  registers what it types into a password field);
- the password of every ``scheme://user:password@`` address;
- the ``value`` of every ``<input type="password">`` tag.

Values shorter than four characters and plain switch words (``true``, ``false``)
are not masked: blanking them would wreck every text they appear in. The
environment is read at each call, so a value set by a ``.env`` file or a step is
covered from then on.

:func:`mask_data` masks every text inside a JSON-like structure (before it is
written as JSON or rendered as HTML), and :func:`install_log_masking` makes the
framework's loggers mask their records.
"""

from __future__ import annotations

import logging
import os
from typing import Any, Iterable, List, Set

from tarvolab_framework.core.safe_io import valid_utf8

MASK = "******"

_registered: Set[str] = set()


def _rules():
    # The masking rules live in the compiled core; imported at first use.
    from tarvolab_framework.core import runwright

    return runwright


def register_secret(value: Any) -> None:
    """Mask ``value`` from now on in every masked text of this process."""
    if not isinstance(value, str):
        return
    value = valid_utf8(value)
    if _rules()._is_maskable_value(value):
        _registered.add(value)


def forget_registered_secrets() -> None:
    """Drop the values given to :func:`register_secret` (for tests)."""
    _registered.clear()


def secret_values(environ: Any = None) -> List[str]:
    """The values to mask: secret settings of ``environ`` (default ``os.environ``) and registered ones."""
    rules = _rules()
    env = os.environ if environ is None else environ
    values = set(_registered)
    for name, value in list(env.items()):
        if not isinstance(name, str) or not isinstance(value, str):
            continue
        name = valid_utf8(name)
        if rules._is_secret_name(name):
            value = valid_utf8(value)
            if rules._is_maskable_value(value):
                values.add(value)
                stripped = value.strip()
                if stripped != value and rules._is_maskable_value(stripped):
                    values.add(stripped)
    return sorted(values, key=len, reverse=True)


def mask(text: Any) -> str:
    """``text`` (made valid UTF-8) with every secret replaced by ``******``."""
    if text is None:
        return ""
    return _rules()._mask_secrets(valid_utf8(text), secret_values())


def mask_data(data: Any) -> Any:
    """A copy of a JSON-like structure (dicts, lists, tuples, texts) with every text masked.

    Keys are masked too; numbers, flags and None are kept as they are.
    """
    values = secret_values()
    rules = _rules()

    def walk(item: Any) -> Any:
        if isinstance(item, str):
            return rules._mask_secrets(valid_utf8(item), values)
        if isinstance(item, dict):
            return {walk(k) if isinstance(k, str) else k: walk(v) for k, v in item.items()}
        if isinstance(item, (list, tuple)):
            return [walk(v) for v in item]
        return item

    return walk(data)


class MaskingFilter(logging.Filter):
    """Masks the formatted message of every record that passes through it."""

    def filter(self, record: logging.LogRecord) -> bool:
        try:
            message = record.getMessage()
        except Exception:  # a record whose arguments do not format is left to logging
            return True
        masked = mask(message)
        if masked != message or record.args:
            record.msg = masked
            record.args = None
        return True


_FILTER = MaskingFilter()
FRAMEWORK_LOGGERS = (
    "tarvolab_framework",
    "tarvolab_framework.core.locmender",
    "tarvolab_framework.core.element_locator",
    "tarvolab_framework.core.runwright",
    "tarvolab_framework.core.video_manager",
    "tarvolab_framework.plugins",
)


def install_log_masking(names: Iterable[str] = FRAMEWORK_LOGGERS) -> None:
    """Add the masking filter to the framework's loggers (once each).

    A logger's own filter runs when a record is made on that logger, before any
    handler sees it, so the console handler, a file handler and the runner's log
    capture all get the masked text. Filters are not inherited, so every logger
    of the framework that exists by now gets one, besides the named ones.
    """
    existing = [n for n in list(logging.Logger.manager.loggerDict) if n.startswith("tarvolab_framework")]
    for name in list(names) + existing:
        logger = logging.getLogger(name)
        if _FILTER not in logger.filters:
            logger.addFilter(_FILTER)
