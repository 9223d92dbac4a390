"""Plug-in system of the framework.

A plug-in is any object with some of the eight hook methods ``before_all``,
``before_feature``, ``before_scenario``, ``before_step``, ``after_step``,
``after_scenario``, ``after_feature`` and ``after_all``, each taking the arguments of
the behave hook of the same name. The hook module calls the process's one
:class:`PluginManager`, which forwards each hook to every plug-in that defines it,
in load order.

Plug-ins are found through the entry-point group ``tarvolab_framework.plugins``; a
package declares one with, for example::

    [project.entry-points."tarvolab_framework.plugins"]
    my_plugin = "my_package.plugin:MyPlugin"

An entry point may name a class (instantiated with no arguments), an instance or a
module. The built-in plug-ins (the AI healing report, and strict healing, which fails
a scenario that passed only thanks to a heal under ``SELF_HEALING_STRICT=true``) are
always loaded, first, even when the package metadata is unavailable.
"""

from __future__ import annotations

import importlib
import inspect
import logging
from importlib import metadata
from typing import Any, Iterable, List

ENTRY_POINT_GROUP = "tarvolab_framework.plugins"
BUILTIN_PLUGINS = ("tarvolab_framework.plugins.ai_healing_report:AIHealingReportPlugin",
                   "tarvolab_framework.plugins.strict_healing:StrictHealingPlugin")
HOOK_NAMES = (
    "before_all", "before_feature", "before_scenario", "before_step",
    "after_step", "after_scenario", "after_feature", "after_all",
)

logger = logging.getLogger("tarvolab_framework.plugins")

__all__ = ["PluginManager", "ENTRY_POINT_GROUP", "HOOK_NAMES"]


def _normalise_target(value: str) -> str:
    """``"pkg.mod : Cls"`` and ``"pkg.mod:Cls"`` name the same object."""
    return "".join(value.split())


def _load_target(value: str) -> Any:
    module_name, _, attribute = _normalise_target(value).partition(":")
    target = importlib.import_module(module_name)
    for part in filter(None, attribute.split(".")):
        target = getattr(target, part)
    return target


def _entry_points() -> Iterable[Any]:
    return metadata.entry_points(group=ENTRY_POINT_GROUP)


class PluginManager:
    """Loads the plug-ins and forwards the runner hooks to them.

    Attributes:
        plugins: the plug-in objects, in load order (built-in first, then entry
            points in the order the metadata lists them, then registered ones).
        load_errors: ``(entry point name, error text)`` for each entry point that
            could not be loaded; such a plug-in is skipped with a printed warning.
    """

    def __init__(self, discover: bool = True) -> None:
        self.plugins: List[Any] = []
        self.load_errors: List[tuple] = []
        self._targets: set = set()
        if discover:
            self.load_plugins()

    # ---------------------------------------------------------------- loading
    def load_plugins(self) -> None:
        """Load the built-in plug-ins, then every entry point of the group."""
        for target in BUILTIN_PLUGINS:
            # A broken built-in means a broken installation: let the error show.
            self._add(_load_target(target), _normalise_target(target))
        for entry_point in _entry_points():
            key = _normalise_target(entry_point.value)
            if key in self._targets:
                continue
            try:
                loaded = entry_point.load()
                self._add(loaded, key)
            except Exception as exc:
                self.load_errors.append((entry_point.name, str(exc)))
                print(f"⚠️ No se pudo cargar el plugin '{entry_point.name}': {exc}")
                logger.warning("Plugin %s (%s) not loaded: %s", entry_point.name, key, exc)

    def _add(self, loaded: Any, key: str) -> None:
        # The same class may be reachable under two entry-point spellings.
        if inspect.isclass(loaded) and any(type(p) is loaded for p in self.plugins):
            self._targets.add(key)
            return
        self._targets.add(key)
        self.register(loaded)

    def register(self, plugin: Any) -> Any:
        """Add a plug-in (a class is instantiated with no arguments) and return it.

        Registering the same object twice keeps one entry.
        """
        if plugin is None:
            raise TypeError("plugin must be a plug-in object or class, not None")
        if inspect.isclass(plugin):
            plugin = plugin()
        if not any(existing is plugin for existing in self.plugins):
            self.plugins.append(plugin)
        return plugin

    # --------------------------------------------------------------- dispatch
    # Each hook method below first looks for one plug-in that defines the hook:
    # most hooks (every step's) have none, and then nothing more is done.
    def _dispatch(self, hook: str, *args: Any) -> None:
        # One plug-in that raises does not keep the others from running; the
        # first failure is raised again after all of them ran.
        first: Any = None
        for plugin in list(self.plugins):
            method = getattr(plugin, hook, None)
            if callable(method):
                try:
                    method(*args)
                except Exception as exc:
                    logger.warning("Plugin %s failed in %s: %s", type(plugin).__name__, hook, exc)
                    if first is None:
                        first = exc
        if first is not None:
            raise first

    def before_all(self, context: Any) -> None:
        """Forward ``before_all(context)`` to every plug-in that defines it."""
        for plugin in self.plugins:
            if callable(getattr(plugin, "before_all", None)):
                self._dispatch("before_all", context)
                return

    def before_feature(self, context: Any, feature: Any) -> None:
        """Forward ``before_feature(context, feature)``."""
        for plugin in self.plugins:
            if callable(getattr(plugin, "before_feature", None)):
                self._dispatch("before_feature", context, feature)
                return

    def before_scenario(self, context: Any, scenario: Any) -> None:
        """Forward ``before_scenario(context, scenario)``."""
        for plugin in self.plugins:
            if callable(getattr(plugin, "before_scenario", None)):
                self._dispatch("before_scenario", context, scenario)
                return

    def before_step(self, context: Any, step: Any) -> None:
        """Forward ``before_step(context, step)``."""
        for plugin in self.plugins:
            if callable(getattr(plugin, "before_step", None)):
                self._dispatch("before_step", context, step)
                return

    def after_step(self, context: Any, step: Any) -> None:
        """Forward ``after_step(context, step)``."""
        for plugin in self.plugins:
            if callable(getattr(plugin, "after_step", None)):
                self._dispatch("after_step", context, step)
                return

    def after_scenario(self, context: Any, scenario: Any) -> None:
        """Forward ``after_scenario(context, scenario)``."""
        for plugin in self.plugins:
            if callable(getattr(plugin, "after_scenario", None)):
                self._dispatch("after_scenario", context, scenario)
                return

    def after_feature(self, context: Any, feature: Any) -> None:
        """Forward ``after_feature(context, feature)``."""
        for plugin in self.plugins:
            if callable(getattr(plugin, "after_feature", None)):
                self._dispatch("after_feature", context, feature)
                return

    def after_all(self, context: Any) -> None:
        """Forward ``after_all(context)``."""
        for plugin in self.plugins:
            if callable(getattr(plugin, "after_all", None)):
                self._dispatch("after_all", context)
                return

    def __repr__(self) -> str:
        names = ", ".join(type(p).__name__ for p in self.plugins)
        return f"PluginManager([{names}])"
