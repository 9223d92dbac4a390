"""Page evaluations that end by a deadline even when the page's JavaScript is busy.

Playwright's ``page.evaluate`` and ``locator.evaluate`` wait for the page without
limit: on a page whose script is stuck in a loop they never return, and with them
the step and the run. :func:`bounded_evaluate` runs the script through
``wait_for_function``, whose time-out the Playwright driver enforces for the whole
call. The script's value comes back as one tagged text, never empty, so that even
``""``, ``0`` or ``null`` count as an answer: a text as it is (a page script that
returns JSON text is not encoded a second time), any other value as JSON. That
text is a primitive, and Playwright hands it over whole with the answer (the
handle's preview), so it crosses once and needs no second trip to the page. A
page that does not answer in time raises
:class:`PageUnresponsiveError`, a clear failure of that one evaluation.

The deadline is ``PAGE_EVALUATION_TIMEOUT`` (milliseconds, default 10000), or the
``timeout_ms`` argument (the element locator's heal passes its own, shorter one).
This is the one bounded evaluation of the package: the element locator's page-wide
healing scripts and the healing manager's page reads go through here, and
:func:`page_responds` is the cheap probe done before a heal whose first call is not
bounded itself. The only page calls of a heal made without it are the selector
checks (``locator.evaluate_all``: one round trip, no wait), made right after the
page answered one of these.
"""

from __future__ import annotations

import json
from typing import Any, Optional

TIMEOUT_VARIABLE = "PAGE_EVALUATION_TIMEOUT"

# The script may be a function (called with the element, for a locator, and the
# argument) or an expression. Its value is returned as a text whose first
# character says what follows: "s" a text as it is, "j" any other value as JSON,
# "e" the message of an error the script threw (raised again in Python); a final
# "." marks the end, so a shortened text is never taken for the answer. The text
# is never empty, so wait_for_function accepts the first answer.
_WRAPPER = """([element, arg, withElement]) => {
  try {
    const target = (%s);
    let value = target;
    if (typeof target === "function") value = withElement ? target(element, arg) : target(arg);
    if (typeof value === "string") return "s" + value + ".";
    return "j" + JSON.stringify(value === undefined ? null : value) + ".";
  } catch (error) {
    return "e" + String(error && error.message ? error.message : error) + ".";
  }
}"""


class PageUnresponsiveError(TimeoutError):
    """The page did not answer an evaluation before its deadline."""

    def __init__(self, timeout_ms: float, what: str = "") -> None:
        self.timeout_ms = timeout_ms
        detail = f" ({what})" if what else ""
        super().__init__(
            f"La página no respondió a la evaluación en {timeout_ms:g} ms{detail}: "
            "su JavaScript está ocupado o bloqueado"
        )


class PageEvaluationError(RuntimeError):
    """The evaluated script threw an error inside the page."""


def page_evaluation_timeout() -> float:
    """``PAGE_EVALUATION_TIMEOUT`` in milliseconds (default 10000); ValueError naming it when invalid."""
    from tarvolab_framework.core import settings

    return float(settings.get(TIMEOUT_VARIABLE))


def _is_timeout(exc: BaseException) -> bool:
    if isinstance(exc, TimeoutError):
        return True
    try:
        from playwright.sync_api import TimeoutError as PlaywrightTimeoutError
    except ImportError:  # pragma: no cover - playwright is a dependency
        return False
    return isinstance(exc, PlaywrightTimeoutError)


def _page_of(target: Any) -> Any:
    """The page (or frame) to evaluate in: the target itself, or a locator's page."""
    if not hasattr(target, "element_handle"):  # a page or a frame
        if hasattr(target, "wait_for_function"):
            return target
    page = getattr(target, "page", None)
    if page is None or not hasattr(page, "wait_for_function"):
        raise TypeError(f"target must be a Playwright Page, Frame or Locator, not {type(target).__name__}")
    return page


def bounded_evaluate(target: Any, script: str, arg: Any = None, timeout_ms: Optional[float] = None) -> Any:
    """``target.evaluate(script, arg)`` that ends within ``timeout_ms`` milliseconds.

    ``target`` is a page or frame (the script gets ``arg``) or a locator (the script
    gets its first element and ``arg``, as ``locator.evaluate`` does). The value must
    be JSON-serialisable (texts, numbers, flags, lists, plain objects); promises are
    not awaited. Raises :class:`PageUnresponsiveError` on time-out and
    :class:`PageEvaluationError` when the script throws.
    """
    if not isinstance(script, str):
        raise TypeError(f"script must be a str, not {type(script).__name__}")
    timeout = page_evaluation_timeout() if timeout_ms is None else float(timeout_ms)
    page = _page_of(target)
    wrapper = _WRAPPER % script
    element = None
    try:
        if page is not target:
            # The locator's element, waited for within the same deadline.
            try:
                element = target.element_handle(timeout=timeout)
            except Exception as exc:
                if _is_timeout(exc):
                    raise PageUnresponsiveError(timeout, "elemento") from None
                raise
        try:
            handle = page.wait_for_function(wrapper, arg=[element, arg, element is not None],
                                            timeout=timeout, polling=100)
        except Exception as exc:
            if _is_timeout(exc):
                raise PageUnresponsiveError(timeout) from None
            raise
        text = _answer_text(handle)
    finally:
        if element is not None:
            try:
                element.dispose()
            except Exception:
                pass
    return _decode(text)


def _answer_text(handle: Any) -> str:
    """The wrapper's text from the handle wait_for_function returned.

    A primitive's handle carries its whole value as its preview (``str(handle)``),
    which came with the answer: reading it costs no trip to the page and no second
    copy of a long text. Only a preview that is not one of the wrapper's whole texts
    (never expected) makes it ask for the value.
    """
    text = str(handle)
    if text[:1] in ("s", "j", "e") and text.endswith("."):
        return text
    return handle.json_value()


def _decode(text: Any) -> Any:
    """The script's value (or its error, raised) from the wrapper's tagged text."""
    if not isinstance(text, str) or len(text) < 2 or not text.endswith("."):
        raise PageEvaluationError(f"respuesta inesperada de la página: {str(text)[:80]!r}")
    tag, body = text[0], text[1:-1]
    if tag == "s":
        return body
    if tag == "e":
        raise PageEvaluationError(body)
    if tag == "j":
        return json.loads(body)
    raise PageEvaluationError(f"respuesta inesperada de la página: {text[:80]!r}")


def page_responds(page: Any, timeout_ms: Optional[float] = None) -> bool:
    """Whether the page runs a trivial script within the deadline (False when busy or closed)."""
    timeout = page_evaluation_timeout() if timeout_ms is None else timeout_ms  # a bad setting is raised
    try:
        bounded_evaluate(page, "() => true", timeout_ms=timeout)
        return True
    except Exception:
        return False


def _is_playwright(target: Any) -> bool:
    return type(target).__module__.startswith("playwright.")


def evaluate_for_healing(target: Any, script: str) -> Any:
    """The healing path's page evaluation: bounded on Playwright pages and locators.

    Other objects (test doubles, wrappers) are asked through their own ``evaluate``.
    """
    if _is_playwright(target):
        return bounded_evaluate(target, script)
    return target.evaluate(script)


def title_for_healing(page: Any) -> str:
    """The page title, read within the page-evaluation deadline (``page.title()`` has none)."""
    if _is_playwright(page):
        title = bounded_evaluate(page, "() => document.title")
        return "" if title is None else str(title)
    return page.title()
