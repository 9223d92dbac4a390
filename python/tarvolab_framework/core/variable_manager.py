"""Variable store shared by the steps and the element locator.

Variables live in one of two scopes:

* ``"scenario"`` — values stored while a scenario runs (the default scope); emptied by
  :meth:`VariableManager.clear_scenario_variables`, which the scenario set-up calls at
  the start of every scenario and the retry pass before a scenario is run again, so a
  scenario never sees the values of another scenario or of its own failed run;
* ``"global"`` — values that live for the whole run.

A scenario variable hides a global variable of the same name. Texts can refer to
variables with ``${name}`` placeholders, replaced by :meth:`VariableManager.resolve`.
"""

from __future__ import annotations

import re
from typing import Any, Dict

SCENARIO_SCOPE = "scenario"
GLOBAL_SCOPE = "global"
SCOPES = (SCENARIO_SCOPE, GLOBAL_SCOPE)

# ${name}: the name may hold letters, digits, "_", "-" and "." (no blanks, no braces).
_PLACEHOLDER = re.compile(r"\$\{([A-Za-z0-9_.\-]+)\}")


def _check_name(name: Any) -> str:
    if not isinstance(name, str):
        raise TypeError(f"name must be a str, not {type(name).__name__}")
    if not name:
        raise ValueError("name must not be empty")
    if not _PLACEHOLDER.fullmatch("${" + name + "}"):
        raise ValueError(
            f"invalid variable name {name!r}: use letters, digits, '_', '-' or '.'"
        )
    return name


class VariableManager:
    """Named values for the steps, in a scenario scope and a run-wide scope."""

    def __init__(self) -> None:
        self._scopes: Dict[str, Dict[str, Any]] = {scope: {} for scope in SCOPES}

    def set_variable(self, name: str, value: Any, scope: str = SCENARIO_SCOPE) -> None:
        """Store ``value`` under ``name`` in ``scope`` ("scenario" or "global")."""
        _check_name(name)
        if scope not in self._scopes:
            raise ValueError(f"unknown scope {scope!r}; expected one of {', '.join(SCOPES)}")
        self._scopes[scope][name] = value

    def get_variable(self, name: str, default: Any = None) -> Any:
        """Return the variable's value (scenario scope first), or ``default``."""
        _check_name(name)
        for scope in SCOPES:
            values = self._scopes[scope]
            if name in values:
                return values[name]
        return default

    def has_variable(self, name: str) -> bool:
        """Tell whether ``name`` is set in any scope."""
        _check_name(name)
        return any(name in self._scopes[scope] for scope in SCOPES)

    @property
    def variables(self) -> Dict[str, Any]:
        """A merged copy of all variables as a step sees them (scenario over global)."""
        merged = dict(self._scopes[GLOBAL_SCOPE])
        merged.update(self._scopes[SCENARIO_SCOPE])
        return merged

    def resolve(self, text: str) -> str:
        """Replace every ``${name}`` in ``text`` with the variable's value.

        Values are turned into text with ``str``; a placeholder naming an unknown
        variable is left as it stands, so a typo stays visible in the result.
        """
        if not isinstance(text, str):
            raise TypeError(f"text must be a str, not {type(text).__name__}")
        if "${" not in text:
            return text

        def replace(match: "re.Match[str]") -> str:
            name = match.group(1)
            for scope in SCOPES:
                values = self._scopes[scope]
                if name in values:
                    return str(values[name])
            return match.group(0)

        return _PLACEHOLDER.sub(replace, text)

    def clear_scenario_variables(self) -> None:
        """Forget every scenario variable; global variables stay."""
        self._scopes[SCENARIO_SCOPE].clear()

    def clear_all(self) -> None:
        """Forget every variable of both scopes."""
        for values in self._scopes.values():
            values.clear()

    def __repr__(self) -> str:
        return (
            f"VariableManager(scenario={len(self._scopes[SCENARIO_SCOPE])}, "
            f"global={len(self._scopes[GLOBAL_SCOPE])})"
        )
