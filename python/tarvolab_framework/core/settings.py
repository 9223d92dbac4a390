"""The framework's settings table, for Python components.

Every environment variable the framework reads is one row of a table kept in the C++
core (``src/core/config/settings_table.cpp``) and exported by
:mod:`tarvolab_framework.core.runwright`. A row gives the variable, its default, its
kind (text, lower-case text, flag, integer, real, list), the range of a number, the
blank and white-space rules, which component reads it and when, and whether it is one
of the keys of ``FrameworkConfig.config``.

Components read a setting at the moment they need it with :func:`get`, which reads
``os.environ`` as it stands and converts the text by the row's rules, exactly as the
settings dictionary does; a bad or out-of-range number is a ``ValueError`` naming the
variable. Nothing else in the package parses ``os.environ`` for a setting.

The extension module is imported at the first call, not when this module is imported:
components that the extension module itself imports while it loads (the element
locator) can import this module freely.
"""

from __future__ import annotations

from typing import Any, Dict, NamedTuple, Optional, Tuple


class SettingRow(NamedTuple):
    """One row of the settings table (see the module docstring)."""

    name: str  # key in FrameworkConfig.config, else the variable in lower case
    variable: str
    default: str  # the text used when the variable is unset
    kind: str  # "text", "lower-case text", "flag", "integer", "real" or "list"
    in_config: bool
    low: Optional[float]  # inclusive range of a number setting, else None
    high: Optional[float]
    trimmed: bool  # surrounding white space removed before use
    blank_is_default: bool  # an empty text counts as unset
    choices: Tuple[str, ...]  # accepted values, empty for any
    needs: Optional[Tuple[str, Tuple[str, ...]]]  # (VARIABLE, values) it takes effect with
    reader: str
    when: str
    description: str


_rows: Optional[Tuple[SettingRow, ...]] = None
_by_variable: Dict[str, SettingRow] = {}


def _native() -> Any:
    from tarvolab_framework.core import runwright

    return runwright


def table() -> Tuple[SettingRow, ...]:
    """Every row, the 61 of the settings dictionary first, in key order."""
    global _rows
    if _rows is None:
        rows = tuple(SettingRow(**row) for row in _native()._settings_table())
        _by_variable.update((row.variable, row) for row in rows)
        _rows = rows
    return _rows


def row(variable: str) -> SettingRow:
    """The row of ``variable``; ``KeyError`` when it is not a setting."""
    table()
    return _by_variable[variable]


def get(variable: str) -> Any:
    """The setting's value from ``os.environ`` now, converted by its row."""
    return _native()._read_setting(variable)


def convert(variable: str, text: Optional[str]) -> Any:
    """The value ``text`` would give the setting (``None``: the variable unset)."""
    return _native()._convert_setting(variable, text)


def default(variable: str) -> Any:
    """The setting's value when its variable is unset."""
    return convert(variable, None)
