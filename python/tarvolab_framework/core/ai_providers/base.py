"""Shared pieces of the AI providers: error type, environment readers, JSON POST."""

from __future__ import annotations

import base64
import http.client
import json
import socket
import threading
import time
import urllib.error
import urllib.parse
import urllib.request
from tarvolab_framework.core import settings

USER_AGENT = "tarvolab-framework-ai-provider/0.1"

# How much of a non-JSON error body is quoted in an error message.
_MAX_QUOTED_BODY = 300


class AIProviderError(RuntimeError):
    """A model service refused, failed or answered something unusable.

    `provider` is the provider name, `status` the HTTP status when there was one, and
    `details` the decoded JSON error body (or None); the message carries the service's
    own explanation.
    """

    def __init__(self, message, *, provider="", status=None, details=None):
        super().__init__(message)
        self.provider = provider
        self.status = status
        self.details = details


def env_text(name):
    """The setting's text from the environment now: trimmed, blank or unset giving its
    table default."""
    return settings.get(name)


def first_env(*names):
    """First non-empty value among `names` as (name, value), or ("", "")."""
    for name in names:
        value = env_text(name)
        if value:
            return name, value
    return "", ""


def require_key(provider, *names):
    """API key from the first set variable of `names`; ValueError naming them if none is set."""
    _, value = first_env(*names)
    if not value:
        wanted = " o ".join(names)
        raise ValueError(
            f"Falta la clave del proveedor de IA '{provider}': define la variable de entorno {wanted}"
        )
    return value


def read_timeout():
    """Seconds from AI_PROVIDER_TIMEOUT: the bound of one whole model call.

    ValueError naming it for a bad or out-of-range text.
    """
    return float(settings.get("AI_PROVIDER_TIMEOUT"))


def read_positive_int(name):
    """A whole-number setting; ValueError naming it for a bad or out-of-range text."""
    return settings.get(name)


def base_url(text, variable=""):
    """Base URL without trailing slashes; ValueError (naming `variable`) when it is not http(s)."""
    url = text.strip().rstrip("/")
    parts = urllib.parse.urlsplit(url)
    if parts.scheme not in ("http", "https") or not parts.netloc:
        where = f" en {variable}" if variable else ""
        raise ValueError(
            f"URL de proveedor de IA no válida{where}: {_masked(repr(text))} (se espera http:// o https://)"
        )
    return url


def check_generate_args(prompt, temperature):
    if not isinstance(prompt, str):
        raise TypeError(f"prompt debe ser un texto, no {type(prompt).__name__}")
    if isinstance(temperature, bool) or not isinstance(temperature, (int, float)):
        raise TypeError(f"temperature debe ser un número, no {type(temperature).__name__}")


def _quote_body(raw):
    text = raw.decode("utf-8", "replace").strip()
    if len(text) > _MAX_QUOTED_BODY:
        text = text[:_MAX_QUOTED_BODY] + "…"
    return text


def error_message_from_body(data):
    """The service's explanation from a decoded error body, as one line.

    Understands {"error": {"message", "status"|"type"|"code"}} (Google, OpenAI, Azure),
    {"type": "error", "error": {"type", "message"}} (Anthropic) and {"error": "text"} (Ollama).
    """
    if isinstance(data, list) and data:
        data = data[0]
    if not isinstance(data, dict):
        return ""
    err = data.get("error", data)
    if isinstance(err, str):
        return err
    if not isinstance(err, dict):
        return ""
    message = err.get("message")
    message = message if isinstance(message, str) else ""
    kind = ""
    for key in ("status", "type", "code"):
        value = err.get(key)
        if isinstance(value, str) and value:
            kind = value
            break
    if kind and message:
        return f"{kind}: {message}"
    return message or kind


class _CallDeadline:
    """Ends a call that is still running when its deadline passes.

    A socket time-out only bounds each read, so a server that trickles a byte
    now and then keeps a call going for ever. Every connection the call opens is
    recorded; at the deadline a timer thread shuts them down, which ends any
    read or write in progress at once. ``expired`` then tells the caller why.
    """

    def __init__(self, deadline):
        self.deadline = deadline
        self.expired = False
        self._sockets = []
        self._lock = threading.Lock()
        self._timer = threading.Timer(max(0.0, deadline - time.monotonic()), self._expire)
        self._timer.daemon = True

    def remaining(self):
        return max(0.001, self.deadline - time.monotonic())

    def __enter__(self):
        self._timer.start()
        return self

    def __exit__(self, *exc):
        self._timer.cancel()
        with self._lock:
            self._sockets.clear()

    def watch(self, sock):
        with self._lock:
            if self.expired:
                _shut(sock)
            else:
                self._sockets.append(sock)

    def _expire(self):
        with self._lock:
            self.expired = True
            for sock in self._sockets:
                _shut(sock)


def _shut(sock):
    try:
        sock.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass


def _deadline_handlers(guard):
    """urllib handlers whose connections report their socket to ``guard``."""

    def connection_class(base):
        class Watched(base):
            def connect(self):
                self.timeout = guard.remaining()
                super().connect()
                guard.watch(self.sock)

        return Watched

    http_conn = connection_class(http.client.HTTPConnection)

    class HTTPHandler(urllib.request.HTTPHandler):
        def http_open(self, req):
            return self.do_open(http_conn, req)

    handlers = [HTTPHandler()]
    if hasattr(http.client, "HTTPSConnection"):
        https_conn = connection_class(http.client.HTTPSConnection)

        class HTTPSHandler(urllib.request.HTTPSHandler):
            def https_open(self, req):
                return self.do_open(https_conn, req, context=self._context)

        handlers.append(HTTPSHandler())
    return handlers


def split_credentials(url):
    """(url without "user:password@", Basic authorisation header value or None)."""
    parts = urllib.parse.urlsplit(url)
    if parts.username is None and parts.password is None:
        return url, None
    host = parts.hostname or ""
    if ":" in host:
        host = f"[{host}]"
    if parts.port is not None:
        host += f":{parts.port}"
    user = urllib.parse.unquote(parts.username or "")
    password = urllib.parse.unquote(parts.password or "")
    token = base64.b64encode(f"{user}:{password}".encode("utf-8")).decode("ascii")
    return urllib.parse.urlunsplit(parts._replace(netloc=host)), f"Basic {token}"


def post_json(provider, url, headers, body, timeout, deadline=None):
    """POST `body` as JSON and return the decoded JSON object of a 2xx answer.

    The whole call (connection, sending, waiting, reading) ends by `deadline`
    (a time.monotonic() value; default now + `timeout` seconds). Every failure
    (HTTP error status, refused connection, time-out, body that is not a JSON
    object, or a JSON object with an "error" member) raises AIProviderError with
    the service's own message when it gave one. A "user:password@" in the URL is
    sent as Basic authorisation and never shown.
    """
    if deadline is None:
        deadline = time.monotonic() + timeout
    url, basic = split_credentials(url)
    extra = {"Authorization": basic} if basic and not any(k.lower() == "authorization" for k in headers) else {}
    request = urllib.request.Request(
        url,
        data=json.dumps(body).encode("utf-8"),
        method="POST",
        headers={
            "Content-Type": "application/json",
            "Accept": "application/json",
            "User-Agent": USER_AGENT,
            **extra,
            **headers,
        },
    )
    shown_url = urllib.parse.urlsplit(url)._replace(query="", fragment="").geturl()
    if time.monotonic() >= deadline:
        raise AIProviderError(
            f"{provider}: sin respuesta de {shown_url} tras {timeout:g} s (tiempo total agotado)", provider=provider
        )
    with _CallDeadline(deadline) as guard:
        try:
            # A fresh opener per call so proxy variables are read when the call is made.
            opener = urllib.request.build_opener(*_deadline_handlers(guard))
            raw = _exchange(provider, opener, request, shown_url, guard)
        except AIProviderError:
            if guard.expired:
                raise AIProviderError(
                    f"{provider}: sin respuesta completa de {shown_url} tras {timeout:g} s (tiempo total agotado)",
                    provider=provider,
                ) from None
            raise
    return _decoded(provider, raw)


def _exchange(provider, opener, request, shown_url, guard):
    timeout = guard.remaining()
    try:
        with opener.open(request, timeout=timeout) as response:
            raw = response.read()
    except urllib.error.HTTPError as exc:
        try:
            raw = exc.read() or b""
        except (OSError, http.client.HTTPException):
            raw = b""
        finally:
            exc.close()
        details = None
        message = ""
        try:
            details = json.loads(raw.decode("utf-8"))
            message = error_message_from_body(details)
        except (ValueError, UnicodeDecodeError):
            pass
        if not message:
            message = _quote_body(raw) or str(exc.reason or "sin detalle")
        raise AIProviderError(
            f"{provider}: HTTP {exc.code}: {message}", provider=provider, status=exc.code, details=details
        ) from None
    except urllib.error.URLError as exc:
        reason = exc.reason
        if isinstance(reason, (socket.timeout, TimeoutError)):
            raise AIProviderError(
                f"{provider}: sin respuesta de {shown_url} tras {timeout:g} s", provider=provider
            ) from None
        raise AIProviderError(
            f"{provider}: no se pudo conectar con {shown_url}: {_masked(reason)}", provider=provider
        ) from None
    except (socket.timeout, TimeoutError):
        raise AIProviderError(
            f"{provider}: sin respuesta de {shown_url} tras {timeout:g} s", provider=provider
        ) from None
    except (http.client.HTTPException, OSError, ValueError) as exc:
        raise AIProviderError(
            f"{provider}: error de comunicación con {shown_url}: {_masked(exc)}", provider=provider
        ) from None
    if guard.expired:
        # The shut-down socket may read as a short, clean end of the body.
        raise AIProviderError(f"{provider}: respuesta cortada", provider=provider)
    return raw


def _masked(exc):
    from tarvolab_framework.core.secrets import mask

    return mask(str(exc))


def _decoded(provider, raw):
    try:
        data = json.loads(raw.decode("utf-8"))
    except (ValueError, UnicodeDecodeError):
        raise AIProviderError(
            f"{provider}: respuesta que no es JSON: {_quote_body(raw)}", provider=provider
        ) from None
    if not isinstance(data, dict):
        raise AIProviderError(
            f"{provider}: respuesta JSON inesperada (se esperaba un objeto): {_quote_body(raw)}",
            provider=provider,
        )
    if data.get("error"):
        raise AIProviderError(
            f"{provider}: {error_message_from_body(data) or _quote_body(raw)}", provider=provider, details=data
        )
    return data
