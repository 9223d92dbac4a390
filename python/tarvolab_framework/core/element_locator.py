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
from typing import Any, Dict, List, Optional, Set, Tuple

from tarvolab_framework.core import element_fingerprint as _scripts
from tarvolab_framework.core import settings
from tarvolab_framework.core.healing_store import HealingStore, page_key

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

# Bound on every script the healing runs in the page: a page whose own scripts
# keep its main thread busy must not hold the heal (or the step) for ever.
HEAL_EVAL_TIMEOUT_MS = 3000
# Most elements described when a page is searched for a fingerprint's element.
CANDIDATE_LIMIT = 4000
# Least lead of the best fingerprint candidate over the runner-up.
HEAL_MARGIN = 0.1
# Most built selectors checked on the page for one heal (one round trip each).
MAX_CHECKED_SELECTORS = 6
# Between a frame's selector and a selector inside that frame (what
# ``page.frame_locator(frame).locator(inner)`` stands for).
FRAME_STEP = " >> internal:control=enter-frame >> "
_SHADOW_STEP = "/#shadow-root"
_FRAME_DOCUMENT = "/#document"


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


class StaleLocatorError(AssertionError):
    """Strict mode: a selector found an element that no longer looks like the one it found before."""


class _PageUnreadable(Exception):
    """The page did not answer a healing script in time (busy, closed or navigating)."""


def _page_script(page: Any, script: str, arg: Any = None, timeout_ms: Optional[float] = None) -> Any:
    """Run a page-wide healing script (a function of ``arg``) on ``page`` within the heal's bound.

    One round trip through :func:`page_eval.bounded_evaluate`: a page stuck in a
    loop raises a time-out instead of holding the heal.
    """
    return page_eval.bounded_evaluate(page, script, arg,
                                      timeout_ms=HEAL_EVAL_TIMEOUT_MS if timeout_ms is None else timeout_ms)


def _locator_for(page: Any, selector: str) -> Any:
    """The locator of a selector; one that enters frames becomes a ``frame_locator`` chain."""
    parts = selector.split(FRAME_STEP)
    if len(parts) == 1:
        return page.locator(selector)
    frames = page.frame_locator(parts[0])
    for part in parts[1:-1]:
        frames = frames.frame_locator(part)
    return frames.locator(parts[-1])


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


def active_locator() -> Any:
    """The most recently built :class:`ElementLocator` (its heals feed the report), or ``None``."""
    return _active_locator() if _active_locator is not None else None


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
        self._healing_requested = bool(getattr(self.locmender, "enabled", True))
        self.store = HealingStore.from_environment()
        from tarvolab_framework.core.locmender import FingerprintMatcher

        self.matcher = FingerprintMatcher(float(getattr(self.locmender, "confidence_threshold", 0.7)), HEAL_MARGIN)
        self.strict = bool(settings.get("SELF_HEALING_STRICT"))
        #: The last heal made by find/click/... (None when the last lookup needed none).
        self.last_heal: Optional[Dict[str, Any]] = None
        #: Every heal of the run and every stale locator seen, for the healing report.
        self.heal_events: List[Dict[str, Any]] = []
        self.stale_events: List[Dict[str, Any]] = []
        #: Strict mode: heals of the scenario in progress (the scenario will end as failed).
        self.strict_heals: List[Dict[str, Any]] = []
        self._run_heals: Dict[Tuple[str, str], str] = {}  # (key, page) -> selector healed in this run
        self._model_heals: Set[Tuple[str, str]] = set()
        self._reported_heals: Set[Tuple[str, str, str]] = set()
        #: The review patch of healed page-object selectors, once one was written.
        self.patch_path: Optional[str] = None
        self._known_fingerprints: Dict[Tuple[str, str], Optional[str]] = {}
        self._pom_source: Dict[str, Tuple[str, str]] = {}  # key -> (file, element) of page-object refs

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
        # Called before every step, nearly always with four texts.
        if (type(step_text) is str and type(scenario_name) is str and type(feature_name) is str
                and type(action_context) is str):
            self.healing_context = {"step_text": step_text, "scenario_name": scenario_name,
                                    "feature_name": feature_name, "action_context": action_context}
            return
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
                self._pom_source[ref] = (str(path), element_name)
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

    # ---------------------------------------------------------- fingerprints
    def _fingerprint_of(self, locator: Any) -> Optional[str]:
        """The fingerprint (JSON text) of the one element ``locator`` matches, else ``None``.

        One round trip with no wait (``evaluate_all``); the healing calls it only
        right after the page answered a bounded script.
        """
        try:
            text = locator.evaluate_all(_scripts.UNIQUE_FINGERPRINT_SCRIPT)
        except Exception as exc:  # an unusable selector, a page gone: nothing to describe
            logger.debug("Sin huella del elemento: %s", exc)
            return None
        return text if isinstance(text, str) and text else None

    def _stored_fingerprint(self, key: str, page: str) -> Optional[str]:
        if (key, page) not in self._known_fingerprints:
            self._known_fingerprints[(key, page)] = self.store.fingerprint(key, page)
        return self._known_fingerprints[(key, page)]

    def _find_and_describe(self, locator: Any, wait: float) -> Tuple[bool, Optional[str]]:
        """Wait for the element, then read its fingerprint: (found, fingerprint).

        The wait is the plain find (bounded by the locator's timeout); the description
        is one more page round trip, right after the page answered, with the count
        checked in the page: ``None`` when several elements match.
        """
        if not self._wait_attached(locator, wait):
            return False, None
        try:
            text = locator.evaluate_all(_scripts.UNIQUE_FINGERPRINT_SCRIPT)
        except Exception as exc:  # the page navigated or closed meanwhile: nothing to record
            logger.debug("Sin huella del elemento: %s", exc)
            return True, None
        return True, (text if isinstance(text, str) and text else None)

    def _record(self, page: Any, key: str, selector: str, element_name: str, current: str) -> None:
        """After a direct unique find: keep the element's fingerprint, or report a stale locator."""
        url = page_key(_page_url(page))
        stored = self._stored_fingerprint(key, url)
        if stored == current:
            return
        if stored is not None:
            score = self.matcher.stale(stored, current)
            if score is not None:
                self._stale(element_name, key, selector, url, score)
                return
        self.store.save_fingerprint(key, url, selector, current)
        self._known_fingerprints[(key, url)] = current

    def _stale(self, element_name: str, key: str, selector: str, url: str, score: float) -> None:
        event = {"element": element_name, "key": key, "selector": selector, "page_url": url,
                 "score": round(score, 3), **self._step_fields()}
        self.stale_events.append(event)
        from tarvolab_framework.core import heal_events

        heal_events.record_stale(event)
        message = (f"SELF_HEALING: localizador obsoleto: '{element_name}' con el selector '{selector}' "
                   f"encuentra un elemento que ya no se parece al guardado (puntuación {score:.2f})")
        logger.warning("%s", message)
        print(f"   ⚠️ {message}")
        if self.strict:
            raise StaleLocatorError(message + " [SELF_HEALING_STRICT]")

    def _step_fields(self) -> Dict[str, str]:
        context = self.healing_context
        return {"step": context.get("step_text", ""), "scenario": context.get("scenario_name", ""),
                "feature": context.get("feature_name", "")}

    # --------------------------------------------------------------- healing
    def _healing_on(self) -> bool:
        return bool(self._healing_requested or getattr(self.locmender, "enabled", True))

    def _check_answer(self, page: Any, selector: str, stored: Optional[str], action: str,
                      element_name: str, allowed_paths: Optional[List[str]] = None
                      ) -> Tuple[bool, Optional[float], Optional[str]]:
        """Whether ``selector`` finds exactly one element that may stand for the lost one.

        ``allowed_paths``: when the model was asked to choose among the candidates the
        fingerprint could not separate, its answer must be one of them.
        """
        try:
            candidate = self._fingerprint_of(_locator_for(page, selector))
        except Exception as exc:
            logger.debug("Selector '%s' no utilizable: %s", selector, exc)
            return False, None, "selector no utilizable"
        if candidate is None:
            return False, None, "no encuentra exactamente un elemento"
        if allowed_paths:
            try:
                path = json.loads(candidate).get("xpath")
            except (ValueError, AttributeError):
                path = None
            if path not in allowed_paths:
                return False, None, "no es ninguno de los candidatos que se parecen al elemento"
        problem, score = self.matcher.check(stored, candidate, action,
                                            self.healing_context.get("action_context", ""), element_name)
        return (not problem), score, problem or None

    def _candidates(self, page: Any, stored: str, action: str, full: bool = False) -> str:
        """The page's candidates (JSON text), read in one bounded script.

        Unless ``full``, elements that cannot stand for ``stored`` under the action
        come as light records, which cost a fraction to read and to send.
        """
        kinds = None if full else self.matcher.prefilter(stored, action,
                                                         self.healing_context.get("action_context", ""))
        arg = [CANDIDATE_LIMIT] + (list(kinds) if kinds else ["", "", ""])
        try:
            text = _page_script(page, _scripts.CANDIDATES_SCRIPT, arg)
        except Exception as exc:  # page busy, gone or navigating
            if isinstance(exc, page_eval.PageUnresponsiveError):
                print(f"   ⏱️ SELF_HEALING: {exc}")
            logger.warning("SELF_HEALING: no se pudieron leer los elementos de la página: %s", exc)
            raise _PageUnreadable(str(exc)) from None
        if not isinstance(text, str):
            raise _PageUnreadable("la página no devolvió sus elementos")
        return text

    def _fingerprint_heal(self, page: Any, stored: str, action: str) -> Tuple[Optional[str], Optional[float], List[str]]:
        """Heal from the stored fingerprint: (selector, score, XPaths of the plausible candidates).

        The XPaths are those of the candidates that reached the threshold when the
        fingerprint could not tell them apart, or the chosen one's when no selector
        built for it finds it (the only cases a model may settle); empty when it
        healed, or when nothing on the page is plausible (a removed element: no
        model is asked then).
        """
        context = self.healing_context.get("action_context", "")
        candidates = self._candidates(page, stored, action)
        choice = self.matcher.choose(stored, candidates, action, context)
        if choice.get("incomplete"):
            candidates = self._candidates(page, stored, action, full=True)
            choice = self.matcher.choose(stored, candidates, action, context)
        threshold = float(self.matcher.threshold)
        top_paths = [path for path, (_, score) in zip(choice.get("top_paths") or [], choice.get("top") or [])
                     if path and score >= threshold] if choice.get("ambiguous") else []
        wanted = (choice.get("top_paths") or [None])[0]
        index = choice.get("index")
        if index is None:
            logger.info("SELF_HEALING: la huella no decide (%s; mejor %.2f %s, segundo %.2f)",
                        choice.get("reason"), choice.get("best", 0), wanted or "-", choice.get("second", 0))
            return None, None, top_paths
        selectors = self._selectors_in_place(choice.get("selectors") or [], wanted or "", candidates)
        for selector in selectors[:MAX_CHECKED_SELECTORS]:
            if wanted is None or self._same_element(page, selector, wanted):
                return selector, float(choice.get("best", 0)), top_paths
        logger.info("SELF_HEALING: ningún selector construido identifica al candidato")
        # The element is known, only a selector for it is missing: the model may
        # write one, and it must find that element.
        return None, None, [wanted] if wanted else []

    @staticmethod
    def _same_element(page: Any, selector: str, path: str) -> bool:
        """Whether ``selector`` finds exactly the element at ``path`` (one round trip, no wait)."""
        try:
            return _locator_for(page, selector).evaluate_all(_scripts.SAME_ELEMENT_SCRIPT, path) == 1
        except Exception as exc:  # an unusable selector, a page gone
            logger.debug("Selector '%s' no comprobado: %s", selector, exc)
            return False

    @staticmethod
    def _selectors_in_place(selectors: List[str], path: str, candidates: str) -> List[str]:
        """The built selectors as Playwright reaches the element at ``path``.

        In the page's document they are used as built. Inside a frame, each is
        prefixed with the frames to enter (by id or name when they have one) and
        an XPath starts at the frame's document. XPath does not enter shadow roots
        (CSS and role selectors do), so inside one only the others remain.
        """
        pieces = path.split(_FRAME_DOCUMENT)
        inner_path = pieces[-1]
        in_shadow = _SHADOW_STEP in inner_path
        frames: List[str] = []
        if len(pieces) > 1:
            try:
                records = json.loads(candidates)
            except ValueError:
                return []
            by_path = {r.get("xpath"): r for r in records if isinstance(r, dict) and r.get("xpath")}
            prefix = ""
            for piece in pieces[:-1]:
                if _SHADOW_STEP in piece:
                    return []  # a frame inside a shadow root: no selector reaches it
                frame_path = prefix + piece
                record = by_path.get(frame_path) or {}
                frame_id, frame_name = record.get("id"), record.get("name")
                if frame_id and '"' not in frame_id and "\\" not in frame_id:
                    frames.append(f'[id="{frame_id}"]')
                elif frame_name and '"' not in frame_name and "\\" not in frame_name:
                    frames.append(f'iframe[name="{frame_name}"], frame[name="{frame_name}"]')
                else:
                    frames.append("xpath=" + piece)
                prefix = frame_path + _FRAME_DOCUMENT
        out = []
        for selector in selectors:
            if selector.startswith("xpath="):
                if in_shadow:
                    continue
                if frames and selector == "xpath=" + path:
                    selector = "xpath=" + inner_path
            out.append(FRAME_STEP.join(frames + [selector]))
        return out

    def _model_excerpt(self, page: Any, paths: List[str]) -> Optional[str]:
        if not paths:
            return None
        try:
            budget = int(getattr(self.locmender, "max_html_length", 15000))
            text = _page_script(page, _scripts.EXCERPT_SCRIPT, [paths, budget])
        except Exception as exc:
            logger.debug("Sin extracto HTML para el modelo: %s", exc)
            return None
        return text if isinstance(text, str) and text.strip() else None

    def _model_heal(self, page: Any, selector: str, element_name: str, action: str,
                    excerpt: Optional[str], stored: Optional[str],
                    paths: Optional[List[str]] = None) -> Optional[str]:
        context = self.healing_context
        action_context = context.get("action_context") or action
        args = (page, selector, element_name, action_context, context.get("step_text", ""),
                context.get("scenario_name", ""), context.get("feature_name", ""))

        def veto(answer: str) -> Optional[str]:
            # Each suggestion the page accepts must also fit the action and the
            # element's last known look; the reason goes back to the model.
            return self._check_answer(page, answer, stored, action, element_name, allowed_paths=paths or None)[2]

        try:
            healed = self.locmender.attempt_heal(*args, html_excerpt=excerpt, veto=veto)
        except TypeError as exc:
            if "veto" not in str(exc) and "html_excerpt" not in str(exc):
                raise
            healed = self.locmender.attempt_heal(*args)  # a manager without those keywords
        if healed is None or healed == "":
            return None
        if not isinstance(healed, str):
            raise TypeError(
                f"Locmender.attempt_heal returned {type(healed).__name__}, expected a str or None"
            )
        return healed

    def _heal(self, page: Any, key: str, selector: str, element_name: str,
              action: str) -> Tuple[Optional[str], str, Optional[float], bool]:
        """A replacement for ``selector``: (selector, source, score, accepted).

        The selector is ``None`` when nothing was proposed; a model answer that
        fails the checks comes back with ``accepted`` false, so the error names it.
        """
        url = page_key(_page_url(page))
        stored = self._stored_fingerprint(key, url)

        remembered = self._run_heals.get((key, url))
        # A model's heal of this run is asked of the healing manager again (its
        # cache answers); one from an earlier run comes from the store.
        if remembered is None and (key, url) not in self._model_heals:
            earlier = self.store.heal(key, url)
            if earlier and earlier.get("old_selector") == selector:
                remembered = earlier.get("new_selector")
        # A page whose script is stuck would hold every later page call of the
        # healing for ever. The fingerprint heal's first script is bounded itself;
        # any other first call is preceded by a probe within the deadline.
        probe_ms = min(page_eval.page_evaluation_timeout(), HEAL_EVAL_TIMEOUT_MS)
        if (remembered or stored is None) and _is_playwright(page) and not page_eval.page_responds(page, probe_ms):
            message = (f"SELF_HEALING: la página no responde en {probe_ms:g} ms "
                       f"(JavaScript ocupado); no se intenta reparar '{selector}'")
            print("   ⏱️ " + message)
            logger.warning("%s", message)
            return None, "", None, False
        if remembered:
            ok, score, problem = self._check_answer(page, remembered, stored, action, element_name)
            if ok:
                return remembered, "store", score, True
            logger.info("SELF_HEALING: la reparación guardada '%s' ya no sirve (%s)", remembered, problem)
            self._run_heals.pop((key, url), None)
            self.store.forget_heal(key, url)

        paths: List[str] = []
        try:
            if stored is not None:
                healed, score, paths = self._fingerprint_heal(page, stored, action)
                if healed is not None:
                    return healed, "fingerprint", score, True
                if not paths:
                    # Nothing on the page looks enough like the element (it was removed,
                    # or changed beyond recognition): a model would only guess.
                    return None, "", None, False
            if not getattr(self.locmender, "enabled", True):
                return None, "", None, False
        except _PageUnreadable:
            return None, "", None, False
        healed = self._model_heal(page, selector, element_name, action, self._model_excerpt(page, paths), stored,
                                  paths)
        if healed is None:
            return None, "", None, False
        ok, score, problem = self._check_answer(page, healed, stored, action, element_name,
                                                allowed_paths=paths or None)
        if not ok:
            message = (f"SELF_HEALING: se descarta la respuesta del modelo '{healed}' para "
                       f"'{element_name}': {problem}")
            logger.warning("%s", message)
            print(f"   ❌ {message}")
            return healed, "model", score, False
        return healed, "model", score, True

    def _accept(self, page: Any, key: str, ref: str, selector: str, element_name: str,
                healed: str, source: str, score: Optional[float], model_calls: int) -> None:
        url = page_key(_page_url(page))
        if source == "model":
            self._model_heals.add((key, url))
        else:
            self._run_heals[(key, url)] = healed
        self.store.save_heal(key, url, selector, healed, score, source)
        self.last_heal = {"element": element_name, "old_selector": selector, "new_selector": healed,
                          "source": source, "score": None if score is None else round(score, 3),
                          "model_calls": model_calls}
        pom = self._pom_source.get(ref.strip())
        event = dict(self.last_heal, key=key, page_url=url, pom_file=pom[0] if pom else "",
                     pom_key=pom[1] if pom else "", **self._step_fields())
        # One report line per element, page and replacement; later uses of the same
        # heal in the run are not new heals.
        seen = (key, url, healed)
        first_use = seen not in self._reported_heals
        self._reported_heals.add(seen)
        if first_use:
            self.heal_events.append(event)
            logger.info("Selector reparado para '%s': '%s' -> '%s' (%s)", element_name, selector, healed, source)
            if getattr(self.locmender, "auto_update_pom", False) and event["pom_file"]:
                self._write_patch()
        if source != "model" and first_use:
            label = "almacén" if source == "store" else "huella"
            shown = "" if score is None else f" (puntuación {score:.2f})"
            print(f"   🔧 SELF-HEALING ({label}): '{selector}' → '{healed}'{shown}")
        if self.strict:
            self._fail_strict(event)

    def _write_patch(self) -> None:
        from tarvolab_framework.core import healing_patch

        try:
            path = healing_patch.write_patch(self.heal_events)
        except (OSError, ValueError) as exc:
            logger.warning("SELF_HEALING: no se pudo escribir el parche de page objects: %s", exc)
            return
        if path is not None:
            self.patch_path = str(path)
            from tarvolab_framework.core import heal_events

            heal_events.set_patch(self.patch_path)

    def _fail_strict(self, event: Dict[str, Any]) -> None:
        """Strict mode: the scenario in progress needed a heal, so it will end as failed.

        The step goes on with the healed element; the strict-healing plug-in fails the
        scenario when it ends (see :mod:`tarvolab_framework.plugins.strict_healing`).
        """
        self.strict_heals.append(event)
        print(f"   ⚠️ SELF_HEALING_STRICT: '{event['element']}' solo se encontró reparando "
              f"'{event['old_selector']}' → '{event['new_selector']}'; el escenario se dará por fallido")

    def _locate(self, page: Any, ref: str, timeout: Optional[float], action: str) -> Any:
        _check_page(page)
        self.last_heal = None
        selector, element_name = self.resolve(ref)
        key = ref.strip() if ref.strip() in self._pom_source else selector
        wait = _locator_timeout(timeout)
        locator = page.locator(selector)
        healed_key = selector + "|" + _page_url(page)
        if healed_key in self._healed_selectors:
            # Healed before on this URL: look once instead of waiting the full time
            # again, then heal again (from this run's memory, normally).
            if locator.count() > 0:
                return locator
        elif self.store.enabled:
            found, fingerprint = self._find_and_describe(locator, wait)
            if found:
                if fingerprint is not None:
                    self._record(page, key, selector, element_name, fingerprint)
                return locator
        elif self._wait_attached(locator, wait):
            return locator
        logger.debug("Sin coincidencias para '%s' con '%s'; intentando self-healing", element_name, selector)
        healed = None
        if self._healing_on():
            calls_before = int(getattr(self.locmender, "_ai_calls", 0))
            healed, source, score, accepted = self._heal(page, key, selector, element_name, action)
            calls = int(getattr(self.locmender, "_ai_calls", 0)) - calls_before
            if accepted and healed is not None:
                healed_locator = _locator_for(page, healed)
                # A fingerprint or store heal was just checked to find exactly its
                # element on this page; a model's answer is waited for as before.
                if source in ("fingerprint", "store") or self._wait_attached(healed_locator, wait):
                    self._healed_selectors.add(healed_key)
                    self._note_heal(page, ref, selector, element_name, healed, True,
                                    source=source, score=score, model_calls=calls)
                    self._accept(page, key, ref, selector, element_name, healed, source, score, calls)
                    return healed_locator
            self._note_heal(page, ref, selector, element_name, healed, False,
                            source=source or None, score=score, model_calls=calls)
        error = ElementNotFoundError(
            element_name, selector, _page_url(page), healed,
            hint=self._missing_page_object_hint(ref),
        )
        logger.error("%s", error)  # the run log shows the failure beside the healing lines
        raise error

    def _note_heal(self, page: Any, ref: str, selector: str, element_name: str,
                   healed: Optional[str], verified: bool, **details: Any) -> None:
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
                           healing_context=dict(self.healing_context), pom_file=pom_file, pom_key=pom_key,
                           **details)

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
