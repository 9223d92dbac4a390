"""Element locator: finds page elements for the steps and heals broken locators.

Steps name an element either by a raw Playwright selector (CSS, XPath, ``text=...``)
or by a page-object reference ``"PageName.element_name"``. Page objects are JSON
files in the directory named by ``JSON_POMS_PATH`` (default ``json_poms``, relative
to the working directory); ``LoginPage.json`` holds one object whose members map
element names to a selector, either directly or as ``{"selector": "..."}``::

    {
      "username": "#user",
      "login_button": {"selector": "button[type=submit]", "description": "Entrar"}
    }

A reference of the form ``Name.element`` counts as a page-object reference only when
``Name.json`` exists in that directory; otherwise it is used as a selector (``div.card``
is a CSS selector). When such a reference then finds nothing, the error says that no
``Name.json`` was found, since a misspelt page name is the usual cause.

When a selector matches nothing within the wait (``LOCATOR_TIMEOUT`` milliseconds,
default 5000), the locator asks its self-healing manager (``Locmender``) for a
replacement, passing the healing context the step hook handed it before the step,
and retries with the selector it gets back. Without a replacement the step fails
with :class:`ElementNotFoundError`, which names the element, the selector and the
page URL. A selector that was healed once on a URL is not waited for again on that
URL: it is looked up once and, when still absent, handed straight back to the
healing manager.
"""

from __future__ import annotations

import json
import logging
import re
import weakref
from pathlib import Path
from typing import Any, Dict, Optional, Set, Tuple
from tarvolab_framework.core import settings

try:
    from playwright.sync_api import TimeoutError as PlaywrightTimeoutError
except ImportError:  # pragma: no cover - playwright is a dependency of the package
    PlaywrightTimeoutError = TimeoutError

from tarvolab_framework.core import page_eval, secrets

logger = logging.getLogger("tarvolab_framework.core.element_locator")

DEFAULT_TIMEOUT_MS = 5000
DEFAULT_POMS_PATH = "json_poms"
HEALING_CONTEXT_KEYS = ("step_text", "scenario_name", "feature_name", "action_context")

# Playwright raises its own TimeoutError; the built-in one is accepted too so that
# page doubles can signal "nothing matched" without importing Playwright.
_TIMEOUT_ERRORS = (PlaywrightTimeoutError, TimeoutError)
_POM_REFERENCE = re.compile(r"^([A-Za-z_][A-Za-z0-9_]*)\.([A-Za-z_][A-Za-z0-9_\-]*)$")

_active_locator: Optional["weakref.ref[ElementLocator]"] = None


class ElementNotFoundError(AssertionError):
    """No element matched the selector, and self-healing found no replacement."""

    def __init__(
        self,
        element_name: str,
        selector: str,
        page_url: str,
        healed_selector: Optional[str] = None,
        *,
        hint: Optional[str] = None,
    ) -> None:
        self.element_name = element_name
        self.selector = selector
        self.page_url = page_url
        self.healed_selector = healed_selector
        self.hint = hint
        message = (
            f"Elemento '{element_name}' no encontrado con el selector '{selector}' "
            f"en la página {page_url}"
        )
        if healed_selector:
            message += f" (tampoco con el selector reparado '{healed_selector}')"
        if hint:
            message += f". {hint}"
        super().__init__(message)


class PageObjectError(LookupError):
    """A page-object file is unreadable, or lacks the element a step asked for."""


def active_locmender() -> Any:
    """Return the ``Locmender`` of the most recently built :class:`ElementLocator`.

    Report writers use it to reach the run's healing log without a runner context.
    Returns ``None`` when no locator exists (any more).
    """
    locator = _active_locator() if _active_locator is not None else None
    if locator is None:
        return None
    return getattr(locator, "locmender", None)


def _locator_timeout(timeout: Optional[float]) -> float:
    """The wait in milliseconds: the argument, else ``LOCATOR_TIMEOUT``, else 5000."""
    if timeout is not None:
        if isinstance(timeout, bool) or not isinstance(timeout, (int, float)):
            raise TypeError(f"timeout must be a number of milliseconds, not {type(timeout).__name__}")
        return float(timeout)
    return float(settings.get("LOCATOR_TIMEOUT"))


def _page_url(page: Any) -> str:
    try:
        return str(page.url)
    except Exception:  # a closed page cannot report its URL
        return "<URL desconocida>"


def _is_playwright(obj: Any) -> bool:
    return type(obj).__module__.startswith("playwright.")


_PASSWORD_HINT = re.compile(r"pass|pwd|contrase|clave|secret", re.IGNORECASE)


def _looks_like_password_field(ref: str) -> bool:
    return isinstance(ref, str) and bool(_PASSWORD_HINT.search(ref))


def _check_page(page: Any) -> None:
    if page is None or not hasattr(page, "locator"):
        raise TypeError("page must be a Playwright Page (an object with locator())")


class ElementLocator:
    """Finds elements on a Playwright page and repairs failing selectors.

    Attributes:
        locmender: the run's self-healing manager, built with the locator.
        variable_manager: the run's ``VariableManager`` (assigned by the run set-up);
            texts typed or selected by the operations go through its ``resolve``.
        healing_context: the four texts of the step in progress (``step_text``,
            ``scenario_name``, ``feature_name``, ``action_context``).
    """

    def __init__(self) -> None:
        # Imported here so that a missing extension module fails the construction,
        # with the import error, rather than the import of this module.
        from tarvolab_framework.core.locmender import Locmender

        self.locmender = Locmender()
        secrets.install_log_masking()
        self.variable_manager = None
        self.healing_context: Dict[str, str] = {key: "" for key in HEALING_CONTEXT_KEYS}
        self._pom_cache: Dict[str, Tuple[int, Dict[str, Any]]] = {}
        self._healed_selectors: Set[str] = set()  # "selector|url" healed in this run

        global _active_locator
        _active_locator = weakref.ref(self)

    # ----------------------------------------------------------- healing context
    def set_healing_context(
        self,
        step_text: str = "",
        scenario_name: str = "",
        feature_name: str = "",
        action_context: str = "",
    ) -> None:
        """Keep the step's texts for any healing attempted while the step runs."""
        values = {
            "step_text": step_text,
            "scenario_name": scenario_name,
            "feature_name": feature_name,
            "action_context": action_context,
        }
        for key, value in values.items():
            if value is None:
                values[key] = ""
            elif not isinstance(value, str):
                raise TypeError(f"{key} must be a str, not {type(value).__name__}")
        self.healing_context = values

    # ------------------------------------------------------------- page objects
    def _poms_dir(self) -> Path:
        return Path(settings.get("JSON_POMS_PATH") or DEFAULT_POMS_PATH)

    def _load_page_object(self, path: Path) -> Dict[str, Any]:
        key = str(path.resolve())
        mtime = path.stat().st_mtime_ns
        cached = self._pom_cache.get(key)
        if cached is not None and cached[0] == mtime:
            return cached[1]
        try:
            with path.open(encoding="utf-8") as handle:
                data = json.load(handle)
        except (OSError, ValueError) as exc:
            raise PageObjectError(f"No se pudo leer el page object {path}: {exc}") from exc
        if not isinstance(data, dict):
            raise PageObjectError(
                f"El page object {path} debe contener un objeto JSON, no {type(data).__name__}"
            )
        self._pom_cache[key] = (mtime, data)
        return data

    def resolve(self, ref: str) -> Tuple[str, str]:
        """Turn a reference into ``(selector, element_name)``.

        ``"PageName.element"`` with ``PageName.json`` present in the page-object
        directory gives the element's selector and the name ``element``; any other
        text is a selector and is its own name.
        """
        if not isinstance(ref, str):
            raise TypeError(f"ref must be a str, not {type(ref).__name__}")
        ref = ref.strip()
        if not ref:
            raise ValueError("ref must not be empty")
        match = _POM_REFERENCE.match(ref)
        if match:
            page_name, element_name = match.groups()
            path = self._poms_dir() / f"{page_name}.json"
            if path.is_file():
                elements = self._load_page_object(path)
                if element_name not in elements:
                    raise PageObjectError(
                        f"El elemento '{element_name}' no existe en el page object "
                        f"'{page_name}' ({path})"
                    )
                entry = elements[element_name]
                selector = entry.get("selector") if isinstance(entry, dict) else entry
                if not isinstance(selector, str) or not selector.strip():
                    raise PageObjectError(
                        f"El elemento '{element_name}' del page object '{page_name}' "
                        f"no tiene un selector de texto ({path})"
                    )
                return selector, element_name
        return ref, ref

    def _missing_page_object_hint(self, ref: str) -> Optional[str]:
        """For ``Name.element`` used as a selector because ``Name.json`` is missing: say so."""
        match = _POM_REFERENCE.match(ref.strip())
        if not match:
            return None
        path = self._poms_dir() / f"{match.group(1)}.json"
        if path.is_file():
            return None
        return f"No existe el page object {path}: '{ref.strip()}' se usó como selector CSS"

    def get_selector(self, ref: str) -> str:
        """The selector a reference stands for (see :meth:`resolve`)."""
        return self.resolve(ref)[0]

    # ---------------------------------------------------------------- locating
    @staticmethod
    def _wait_attached(locator: Any, timeout: float) -> bool:
        try:
            locator.first.wait_for(state="attached", timeout=timeout)
        except _TIMEOUT_ERRORS:
            return False
        return True

    def _heal(self, page: Any, selector: str, element_name: str, action: str) -> Optional[str]:
        # A page whose script is stuck would hold every later page call of the
        # healing for ever: probe it within the page-evaluation deadline first.
        if _is_playwright(page) and not page_eval.page_responds(page):
            message = (f"SELF_HEALING: la página no responde en {page_eval.page_evaluation_timeout():g} ms "
                       f"(JavaScript ocupado); no se intenta reparar '{selector}'")
            print("   ⏱️ " + message)
            logger.warning("%s", message)
            return None
        context = self.healing_context
        action_context = context.get("action_context") or action
        healed = self.locmender.attempt_heal(
            page,
            selector,
            element_name,
            action_context,
            context.get("step_text", ""),
            context.get("scenario_name", ""),
            context.get("feature_name", ""),
        )
        if healed is None or healed == "":
            return None
        if not isinstance(healed, str):
            raise TypeError(
                f"Locmender.attempt_heal returned {type(healed).__name__}, expected a str or None"
            )
        logger.info("Selector reparado para '%s': '%s' -> '%s'", element_name, selector, healed)
        return healed

    def _locate(self, page: Any, ref: str, timeout: Optional[float], action: str) -> Any:
        _check_page(page)
        selector, element_name = self.resolve(ref)
        wait = _locator_timeout(timeout)
        locator = page.locator(selector)
        healed_key = selector + "|" + _page_url(page)
        if healed_key in self._healed_selectors:
            # Healed before on this URL: look once instead of waiting the full time
            # again, then let the healing manager answer (from its cache, normally).
            if locator.count() > 0:
                return locator
        elif self._wait_attached(locator, wait):
            return locator
        logger.debug("Sin coincidencias para '%s' con '%s'; intentando self-healing", element_name, selector)
        healed = self._heal(page, selector, element_name, action)
        verified = False
        if healed is not None:
            healed_locator = page.locator(healed)
            verified = self._wait_attached(healed_locator, wait)
        self._note_heal(page, ref, selector, element_name, healed, verified)
        if verified:
            self._healed_selectors.add(healed_key)
            return healed_locator
        error = ElementNotFoundError(
            element_name, selector, _page_url(page), healed,
            hint=self._missing_page_object_hint(ref),
        )
        logger.error("%s", error)  # the run log shows the failure beside the healing lines
        raise error

    def _note_heal(self, page: Any, ref: str, selector: str, element_name: str,
                   healed: Optional[str], verified: bool) -> None:
        """Tell the healing report about this request, with the page-object file and key to fix."""
        pom_file = pom_key = None
        match = _POM_REFERENCE.match(ref.strip())
        if match:
            path = self._poms_dir() / f"{match.group(1)}.json"
            if path.is_file():
                pom_file, pom_key = str(path), match.group(2)
        from tarvolab_framework.core import heal_events

        heal_events.record(element_name=element_name, ref=ref.strip(), selector=selector,
                           healed_selector=healed, verified=verified, page_url=_page_url(page),
                           healing_context=dict(self.healing_context), pom_file=pom_file, pom_key=pom_key)

    def find(self, page: Any, ref: str, timeout: Optional[float] = None) -> Any:
        """Return a Playwright ``Locator`` for ``ref`` once the element is attached.

        Waits ``timeout`` milliseconds (default ``LOCATOR_TIMEOUT``, else 5000); when
        nothing matches, tries self-healing and then the repaired selector. Raises
        :class:`ElementNotFoundError` when neither finds the element.
        """
        return self._locate(page, ref, timeout, "find")

    def _text(self, value: Any, name: str) -> str:
        if not isinstance(value, str):
            raise TypeError(f"{name} must be a str, not {type(value).__name__}")
        if self.variable_manager is not None:
            return self.variable_manager.resolve(value)
        return value

    # -------------------------------------------------------- step operations
    def click(self, page: Any, ref: str, timeout: Optional[float] = None) -> None:
        """Click the element."""
        self._locate(page, ref, timeout, "click").click()

    def fill(self, page: Any, ref: str, text: str, timeout: Optional[float] = None) -> None:
        """Type ``text`` (after ``${var}`` resolution) into the element, replacing its value."""
        value = self._text(text, "text")
        # The typed value is not part of the action description: it may be a
        # password, and the action text is sent to the AI provider when healing.
        # What goes into a field that looks like a password field is masked from
        # then on (prompts, logs, reports); the field's name is all there is to go
        # on while it is still missing and being healed.
        if _looks_like_password_field(ref):
            secrets.register_secret(value)
        locator = self._locate(page, ref, timeout, "fill")
        if _is_playwright(locator) and not _looks_like_password_field(ref):
            try:
                kind = locator.first.get_attribute("type", timeout=_locator_timeout(timeout))
            except Exception:  # no type to read: the fill below reports real failures
                kind = None
            if isinstance(kind, str) and kind.strip().lower() == "password":
                secrets.register_secret(value)
        locator.fill(value)

    def get_text(self, page: Any, ref: str, timeout: Optional[float] = None) -> str:
        """Return the element's rendered text."""
        return self._locate(page, ref, timeout, "get_text").inner_text()

    def is_visible(self, page: Any, ref: str, timeout: Optional[float] = 0) -> bool:
        """Tell whether the element is visible, waiting up to ``timeout`` ms for it.

        Never heals and never fails for a missing element: checking that something
        is *not* shown must not turn into a search for a look-alike.
        """
        _check_page(page)
        selector, _ = self.resolve(ref)
        locator = page.locator(selector).first
        if timeout:
            try:
                locator.wait_for(state="visible", timeout=_locator_timeout(timeout))
            except _TIMEOUT_ERRORS:
                return False
            return True
        return bool(locator.is_visible())

    def select_option(self, page: Any, ref: str, value: str, timeout: Optional[float] = None) -> Any:
        """Select the option whose value or label is ``value`` in a ``<select>``."""
        option = self._text(value, "value")
        return self._locate(page, ref, timeout, "select_option").select_option(option)

    def hover(self, page: Any, ref: str, timeout: Optional[float] = None) -> None:
        """Move the mouse over the element."""
        self._locate(page, ref, timeout, "hover").hover()
