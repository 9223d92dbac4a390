"""Helper operations installed on the behave context for the steps.

The scenario set-up calls :func:`setup_context_helpers`, :func:`add_bulk_operations`
and :func:`setup_advanced_helpers`, in this order, at the start of every scenario.
Afterwards a step can write ``context.click("LoginPage.login_button")`` instead of
``context.element_locator.click(context.page, "LoginPage.login_button")``.

The helpers look up ``context.page``, ``context.element_locator`` and
``context.variable_manager`` each time they are called, never at installation: the
page changes between scenarios, and a step may replace it (a new tab, a retry).
Installing again simply replaces the helpers, so repeated calls are harmless.

:func:`setup_context_helpers` also empties the scenario scope of
``context.variable_manager``: it runs at the start of every scenario (with or without
a browser), and a scenario's variables must not reach the next scenario, just as they
do not reach a re-run of the same scenario. Run-wide values belong in the global scope.

None of the helper names shadows an attribute that behave itself keeps on the
context (``feature``, ``scenario``, ``table``, ``text``, ``config``, ``execute_steps``
and the like); :data:`RESERVED_NAMES` lists them and installation refuses them.
"""

from __future__ import annotations

import re
from pathlib import Path
from typing import Any, Callable, Dict, Iterable, Mapping, Optional

from tarvolab_framework.core import context_layers
from tarvolab_framework.core import settings

# Attributes and methods behave keeps on its Context (1.2.6 and 1.3.x).
RESERVED_NAMES = frozenset(
    {
        "abort", "aborted", "active_outline", "add_cleanup", "attach", "capture",
        "captured", "cleanup_errors", "config", "execute_steps", "fail_on_cleanup_errors",
        "failed", "feature", "log_capture", "on_cleanup_error", "rule", "scenario",
        "stderr_capture", "stdout_capture", "table", "tags", "text", "use_or_assign_param",
        "use_or_create_param", "use_with_user_mode", "user_mode",
    }
)

CORE_HELPERS = ("find", "click", "fill", "get_text", "is_visible", "select_option", "hover",
                "set_var", "get_var", "resolve_vars")
BULK_HELPERS = ("fill_form", "click_all")
ADVANCED_HELPERS = ("wait_for_text", "take_screenshot")

DEFAULT_SCREENSHOTS_DIR = "screenshots"
_UNSAFE_FILE_CHARS = re.compile(r"[^A-Za-z0-9._-]+")


def _lookup(context: Any, name: str) -> Any:
    """Read a context attribute, ``None`` when missing.

    behave 1.2.6 raises KeyError instead of AttributeError for some missing
    attributes, so both count as "missing".
    """
    try:
        return getattr(context, name)
    except (AttributeError, KeyError):
        return None


def _require(context: Any, name: str, purpose: str) -> Any:
    value = _lookup(context, name)
    if value is None:
        raise RuntimeError(
            f"context.{name} no está disponible: {purpose} "
            "(¿escenario @no_browser o framework no inicializado?)"
        )
    return value


def _page(context: Any) -> Any:
    return _require(context, "page", "se necesita una página del navegador")


def _locator(context: Any) -> Any:
    return _require(context, "element_locator", "se necesita el localizador de elementos")


def _variables(context: Any) -> Any:
    return _require(context, "variable_manager", "se necesita el gestor de variables")


def _install(context: Any, helpers: Dict[str, Callable[..., Any]]) -> None:
    # The helpers only read the context when called, so one set serves the whole
    # run from the root layer; installing again costs a lookup per name.
    context_layers.set_many_for_run(context, helpers)


def _built_once(context: Any, group: str, build: Callable[[], Dict[str, Callable[..., Any]]]):
    """The helper functions of ``group`` for this context, made on first use."""
    try:
        cache = context.__dict__.setdefault("_tarvo_helper_sets", {})
    except AttributeError:  # an object without a __dict__: build every time
        cache = {}
    helpers = cache.get(group)
    if helpers is None:
        helpers = build()
        for name in helpers:
            if name in RESERVED_NAMES:  # guards later additions to the helper set
                raise ValueError(f"helper name {name!r} would hide behave's own context attribute")
        cache[group] = helpers
    return helpers


def setup_context_helpers(context: Any) -> None:
    """Install the element and variable helpers.

    ``find(ref, timeout=None)``, ``click(ref)``, ``fill(ref, text)``, ``get_text(ref)``,
    ``is_visible(ref, timeout=0)``, ``select_option(ref, value)``, ``hover(ref)``,
    ``set_var(name, value, scope="scenario")``, ``get_var(name, default=None)`` and
    ``resolve_vars(text)``. The scenario variables of the previous scenario are
    dropped (global ones stay).
    """
    variables = _lookup(context, "variable_manager")
    if variables is not None:
        variables.clear_scenario_variables()
    _install(context, _built_once(context, "core", lambda: _core_helpers(context)))


def _core_helpers(context: Any) -> Dict[str, Callable[..., Any]]:
    def find(ref: str, timeout: Optional[float] = None) -> Any:
        return _locator(context).find(_page(context), ref, timeout)

    def click(ref: str, timeout: Optional[float] = None) -> None:
        _locator(context).click(_page(context), ref, timeout)

    def fill(ref: str, text: str, timeout: Optional[float] = None) -> None:
        _locator(context).fill(_page(context), ref, text, timeout)

    def get_text(ref: str, timeout: Optional[float] = None) -> str:
        return _locator(context).get_text(_page(context), ref, timeout)

    def is_visible(ref: str, timeout: Optional[float] = 0) -> bool:
        return _locator(context).is_visible(_page(context), ref, timeout)

    def select_option(ref: str, value: str, timeout: Optional[float] = None) -> Any:
        return _locator(context).select_option(_page(context), ref, value, timeout)

    def hover(ref: str, timeout: Optional[float] = None) -> None:
        _locator(context).hover(_page(context), ref, timeout)

    def set_var(name: str, value: Any, scope: str = "scenario") -> None:
        _variables(context).set_variable(name, value, scope)

    def get_var(name: str, default: Any = None) -> Any:
        return _variables(context).get_variable(name, default)

    def resolve_vars(text: str) -> str:
        return _variables(context).resolve(text)

    return {
        "find": find, "click": click, "fill": fill, "get_text": get_text,
        "is_visible": is_visible, "select_option": select_option, "hover": hover,
        "set_var": set_var, "get_var": get_var, "resolve_vars": resolve_vars,
    }


def add_bulk_operations(context: Any) -> None:
    """Install ``fill_form(mapping)`` and ``click_all(refs)``.

    ``fill_form`` fills each reference of the mapping with its text, in the
    mapping's order; ``click_all`` clicks the references in order. Both stop at the
    first element that cannot be found, with that element's error.
    """
    _install(context, _built_once(context, "bulk", lambda: _bulk_helpers(context)))


def _bulk_helpers(context: Any) -> Dict[str, Callable[..., Any]]:
    def fill_form(mapping: Mapping[str, str]) -> None:
        if not isinstance(mapping, Mapping):
            raise TypeError(f"mapping must be a mapping of reference to text, not {type(mapping).__name__}")
        locator, page = _locator(context), _page(context)
        for ref, text in mapping.items():
            locator.fill(page, ref, text)

    def click_all(refs: Iterable[str]) -> None:
        if isinstance(refs, str):
            raise TypeError("refs must be a list of references, not a single str")
        locator, page = _locator(context), _page(context)
        for ref in refs:
            locator.click(page, ref)

    return {"fill_form": fill_form, "click_all": click_all}


def _screenshot_path(name: str) -> Path:
    if not isinstance(name, str):
        raise TypeError(f"name must be a str, not {type(name).__name__}")
    stem = _UNSAFE_FILE_CHARS.sub("_", name.strip()).strip("._")
    if not stem:
        raise ValueError(f"screenshot name {name!r} has no usable characters")
    if not stem.lower().endswith(".png"):
        stem += ".png"
    directory = Path(settings.get("SCREENSHOTS_DIR") or DEFAULT_SCREENSHOTS_DIR)
    directory.mkdir(parents=True, exist_ok=True)
    return directory / stem


def setup_advanced_helpers(context: Any) -> None:
    """Install ``wait_for_text(text, timeout=None)`` and ``take_screenshot(name)``.

    ``wait_for_text`` waits until a visible element shows ``text`` (``${var}``
    placeholders resolved) and fails with an AssertionError otherwise; the wait is
    ``timeout`` ms, else ``LOCATOR_TIMEOUT``, else 5000. ``take_screenshot`` saves a
    full-page PNG named after ``name`` into ``SCREENSHOTS_DIR`` (default
    ``screenshots``) and returns its path.
    """
    _install(context, _built_once(context, "advanced", lambda: _advanced_helpers(context)))


def _advanced_helpers(context: Any) -> Dict[str, Callable[..., Any]]:
    from tarvolab_framework.core.element_locator import _TIMEOUT_ERRORS, _locator_timeout

    def wait_for_text(text: str, timeout: Optional[float] = None) -> None:
        if not isinstance(text, str):
            raise TypeError(f"text must be a str, not {type(text).__name__}")
        variables = _lookup(context, "variable_manager")
        wanted = variables.resolve(text) if variables is not None else text
        page = _page(context)
        wait = _locator_timeout(timeout)
        try:
            page.get_by_text(wanted).first.wait_for(state="visible", timeout=wait)
        except _TIMEOUT_ERRORS:
            raise AssertionError(
                f"El texto '{wanted}' no apareció en {wait:g} ms en la página {page.url}"
            ) from None

    def take_screenshot(name: str) -> str:
        page = _page(context)
        path = _screenshot_path(name)
        page.screenshot(path=str(path), full_page=True)
        return str(path)

    return {"wait_for_text": wait_for_text, "take_screenshot": take_screenshot}
