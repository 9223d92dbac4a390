"""Per-scenario data snapshots.

Steps save values they produced or observed (an order number, the response of an
API call, the form data they typed) under a key; the store files them under the
scenario that is running, so reports and later steps can look them up. Values are
deep-copied on the way in and on the way out: a snapshot keeps the state of the
moment it was taken, whatever the step does to its own object afterwards.
"""

from __future__ import annotations

import copy
from typing import Any, Dict, Optional


class DataSnapshotManager:
    """Key/value snapshots grouped by scenario name."""

    def __init__(self) -> None:
        self._snapshots: Dict[str, Dict[str, Any]] = {}
        self.current_scenario: Optional[str] = None

    def set_scenario(self, name: str) -> None:
        """Make ``name`` the current scenario; later saves are filed under it.

        A scenario name seen before (a re-run, or two scenarios of the same name)
        continues the snapshot it already has: nothing is dropped.
        """
        if not isinstance(name, str):
            raise TypeError(f"name must be a str, not {type(name).__name__}")
        self.current_scenario = name
        # The scenario's entry is made by its first save (_current): a long run
        # of scenarios that save nothing keeps no entry for each of them.

    def _current(self) -> Dict[str, Any]:
        if self.current_scenario is None:
            raise RuntimeError("no current scenario: call set_scenario(name) first")
        return self._snapshots.setdefault(self.current_scenario, {})

    def save(self, key: str, value: Any) -> None:
        """Store a deep copy of ``value`` under ``key`` for the current scenario."""
        if not isinstance(key, str):
            raise TypeError(f"key must be a str, not {type(key).__name__}")
        self._current()[key] = copy.deepcopy(value)

    def get(self, key: str, default: Any = None) -> Any:
        """Return a copy of the current scenario's value for ``key``, or ``default``."""
        if self.current_scenario is None:
            return default
        data = self._snapshots.get(self.current_scenario, {})
        if key not in data:
            return default
        return copy.deepcopy(data[key])

    def snapshot(self, scenario: Optional[str] = None) -> Dict[str, Any]:
        """Return a copy of one scenario's data (the current scenario by default)."""
        name = self.current_scenario if scenario is None else scenario
        if name is None:
            return {}
        return copy.deepcopy(self._snapshots.get(name, {}))

    def all_snapshots(self) -> Dict[str, Dict[str, Any]]:
        """Return a copy of every scenario's data, keyed by scenario name."""
        return copy.deepcopy(self._snapshots)

    def clear(self, scenario: Optional[str] = None) -> None:
        """Drop one scenario's data, or everything when no name is given."""
        if scenario is None:
            self._snapshots.clear()
        else:
            self._snapshots.pop(scenario, None)

    def __repr__(self) -> str:
        return (
            f"DataSnapshotManager(current={self.current_scenario!r}, "
            f"scenarios={len(self._snapshots)})"
        )
