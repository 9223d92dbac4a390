"""Writes to behave's layered context without behave's per-write stack walk.

behave's ``Context.__setattr__`` records where every attribute was set with
``traceback.extract_stack``, which reads source lines: tens of microseconds per
write. The framework writes the same attributes for every scenario (the helpers,
the soft-assertion collector, ``browser_disabled``, ``page``), so those writes
were most of its own cost per scenario. The two functions here write into the
same layer dictionaries behave uses (1.2.6 and 1.3 share the layout: ``_stack``
with the current layer first and the run's root layer last, ``_record`` and
``_origin``) and record a fixed location instead of a walked one. What a step
sees is unchanged: the same attribute, in the same layer, dropped at the same
moment. Whenever behave would warn (the name is already set in a lower layer),
or the object is not a behave context, the write goes through ``setattr`` as
before, so the warnings stay behave's own.
"""

from __future__ import annotations

import traceback
from typing import Any

# Where behave's masking warnings say the framework set an attribute.
_RECORD = traceback.FrameSummary("tarvolab_framework", 0, "framework hook", lookup_line=False, line="")


def _layers(context: Any):
    state = getattr(context, "__dict__", None)
    if state is None:
        return None
    stack, record = state.get("_stack"), state.get("_record")
    if not isinstance(stack, list) or not stack or not isinstance(record, dict):
        return None
    return state, stack, record


def _note(state: dict, record: dict, name: str) -> None:
    record[name] = _RECORD
    origin = state.get("_origin")
    if isinstance(origin, dict) and name not in origin:
        origin[name] = state.get("_mode")


def set_in_scope(context: Any, name: str, value: Any) -> None:
    """``setattr(context, name, value)``: the value goes to the current layer."""
    found = _layers(context) if name[:1] != "_" else None
    if found is None:
        setattr(context, name, value)
        return
    state, stack, record = found
    for frame in stack[1:]:
        if name in frame:
            setattr(context, name, value)  # behave's own masking warning applies
            return
    stack[0][name] = value
    _note(state, record, name)


def set_for_run(context: Any, name: str, value: Any) -> None:
    """Makes ``value`` visible as ``context.<name>`` from now until the run ends.

    The value goes to the root layer once; later calls with the same value cost
    a dictionary lookup. A value that a project put in an upper layer under the
    same name is replaced in the current layer, as a per-scenario write did.
    """
    found = _layers(context) if name[:1] != "_" else None
    if found is None:
        setattr(context, name, value)
        return
    state, stack, record = found
    root = stack[-1]
    for frame in stack[:-1]:
        if name in frame and frame[name] is not value:
            set_in_scope(context, name, value)
            return
    if root.get(name, _RECORD) is not value:
        root[name] = value
        _note(state, record, name)


def set_many_for_run(context: Any, values: dict) -> None:
    """:func:`set_for_run` for several names at once (one pass over the layers)."""
    found = _layers(context)
    if found is None:
        for name, value in values.items():
            setattr(context, name, value)
        return
    state, stack, record = found
    root = stack[-1]
    for frame in stack[:-1]:
        if not frame.keys().isdisjoint(values):
            for name, value in values.items():
                set_for_run(context, name, value)
            return
    for name, value in values.items():
        if root.get(name, _RECORD) is not value:
            root[name] = value
            _note(state, record, name)
