"""Shared pieces of the AI providers: error type, environment readers, JSON POST."""

from __future__ import annotations

import http.client
import json
import socket
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
    """Seconds from AI_PROVIDER_TIMEOUT; ValueError naming it for a bad or out-of-range text."""
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
        raise ValueError(f"URL de proveedor de IA no válida{where}: {text!r} (se espera http:// o https://)")
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


def post_json(provider, url, headers, body, timeout):
    """POST `body` as JSON and return the decoded JSON object of a 2xx answer.

    Every failure (HTTP error status, refused connection, time-out, body that is not a
    JSON object, or a JSON object with an "error" member) raises AIProviderError with the
    service's own message when it gave one.
    """
    request = urllib.request.Request(
        url,
        data=json.dumps(body).encode("utf-8"),
        method="POST",
        headers={
            "Content-Type": "application/json",
            "Accept": "application/json",
            "User-Agent": USER_AGENT,
            **headers,
        },
    )
    shown_url = urllib.parse.urlsplit(url)._replace(query="", fragment="").geturl()
    # A fresh opener per call so proxy variables are read when the call is made.
    opener = urllib.request.build_opener()
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
            f"{provider}: no se pudo conectar con {shown_url}: {reason}", provider=provider
        ) from None
    except (socket.timeout, TimeoutError):
        raise AIProviderError(
            f"{provider}: sin respuesta de {shown_url} tras {timeout:g} s", provider=provider
        ) from None
    except (http.client.HTTPException, OSError) as exc:
        raise AIProviderError(
            f"{provider}: error de comunicación con {shown_url}: {exc}", provider=provider
        ) from None

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
