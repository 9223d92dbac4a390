"""Clients of the model services' HTTP APIs (standard library only).

Each provider is built from the environment once (keys, endpoints, model, time-out) and
then answers `generate(prompt, temperature=0.1)` with the model's text. A service error,
a blocked prompt or a refusal raises AIProviderError with the service's explanation; a
model that answers nothing gives "".
"""

from __future__ import annotations

import time
import urllib.parse

from .base import (
    AIProviderError,
    base_url,
    check_generate_args,
    env_text,
    first_env,
    post_json,
    read_positive_int,
    read_timeout,
    require_key,
)

ANTHROPIC_VERSION = "2023-06-01"

# Gemini finish reasons that mean the answer was withheld, not completed.
_GEMINI_BLOCKED = {
    "SAFETY",
    "RECITATION",
    "BLOCKLIST",
    "PROHIBITED_CONTENT",
    "SPII",
    "IMAGE_SAFETY",
    "LANGUAGE",
}


def _pick_model(model, env_name):
    """The caller's model, else the provider's model setting (its table default when unset)."""
    if model:
        return model
    return env_text(env_name)


class _HTTPProvider:
    name = ""

    def __repr__(self):
        # Never shows the key, nor a password written into the base URL.
        from tarvolab_framework.core.secrets import mask

        return mask(f"<{type(self).__name__} model={self.model!r} url={self.base_url!r}>")

    def _post(self, url, headers, body, deadline=None):
        return post_json(self.name, url, headers, body, self.timeout, deadline)

    def _fail(self, message, data=None):
        return AIProviderError(f"{self.name}: {message}", provider=self.name, details=data)


class GeminiProvider(_HTTPProvider):
    """Google Gemini API, models.generateContent."""

    name = "gemini"

    def __init__(self, model=None):
        self.api_key = require_key("gemini", "GEMINI_API_KEY", "GOOGLE_API_KEY")
        self.base_url = base_url(env_text("GEMINI_BASE_URL"), "GEMINI_BASE_URL")
        self.api_version = env_text("GEMINI_API_VERSION")
        model = _pick_model(model, "GEMINI_MODEL")
        # The API names models "models/<id>"; accept both spellings.
        self.model = model[len("models/"):] if model.startswith("models/") else model
        self.timeout = read_timeout()

    def generate(self, prompt, temperature=0.1):
        check_generate_args(prompt, temperature)
        url = (
            f"{self.base_url}/{self.api_version}/models/"
            f"{urllib.parse.quote(self.model, safe='-._~')}:generateContent"
        )
        body = {
            "contents": [{"role": "user", "parts": [{"text": prompt}]}],
            "generationConfig": {"temperature": float(temperature)},
        }
        data = self._post(url, {"x-goog-api-key": self.api_key}, body)

        candidates = data.get("candidates")
        if not isinstance(candidates, list) or not candidates:
            feedback = data.get("promptFeedback")
            block = feedback.get("blockReason") if isinstance(feedback, dict) else None
            if block:
                detail = feedback.get("blockReasonMessage")
                extra = f": {detail}" if isinstance(detail, str) and detail else ""
                raise self._fail(f"la petición fue bloqueada (blockReason={block}){extra}", data)
            raise self._fail("la respuesta no trae candidatos", data)

        candidate = candidates[0] if isinstance(candidates[0], dict) else {}
        finish = candidate.get("finishReason")
        if finish in _GEMINI_BLOCKED:
            raise self._fail(f"la respuesta fue bloqueada (finishReason={finish})", data)
        content = candidate.get("content")
        parts = content.get("parts") if isinstance(content, dict) else None
        texts = []
        for part in parts if isinstance(parts, list) else []:
            # Thought summaries of thinking models are not part of the answer.
            if isinstance(part, dict) and isinstance(part.get("text"), str) and not part.get("thought"):
                texts.append(part["text"])
        return "".join(texts)


class OpenAIProvider(_HTTPProvider):
    """OpenAI Chat Completions (also any server speaking the same API via OPENAI_BASE_URL)."""

    name = "openai"

    def __init__(self, model=None):
        self.api_key = require_key("openai", "OPENAI_API_KEY")
        self.base_url = base_url(env_text("OPENAI_BASE_URL"), "OPENAI_BASE_URL")
        self.model = _pick_model(model, "OPENAI_MODEL")
        self.organization = env_text("OPENAI_ORG_ID")
        self.timeout = read_timeout()
        self._send_temperature = True

    def _url(self):
        return f"{self.base_url}/chat/completions"

    def _headers(self):
        headers = {"Authorization": f"Bearer {self.api_key}"}
        if self.organization:
            headers["OpenAI-Organization"] = self.organization
        return headers

    def _body(self, prompt, temperature):
        body = {"model": self.model, "messages": [{"role": "user", "content": prompt}]}
        if self._send_temperature:
            body["temperature"] = float(temperature)
        return body

    def generate(self, prompt, temperature=0.1):
        check_generate_args(prompt, temperature)
        # AI_PROVIDER_TIMEOUT bounds the whole call, the second request included.
        deadline = time.monotonic() + self.timeout
        try:
            data = self._post(self._url(), self._headers(), self._body(prompt, temperature), deadline)
        except AIProviderError as exc:
            # Reasoning models accept only their default temperature; send once more without it
            # and leave it out from then on.
            if not (self._send_temperature and _rejects_temperature(exc)):
                raise
            self._send_temperature = False
            data = self._post(self._url(), self._headers(), self._body(prompt, temperature), deadline)
        return self._answer(data)

    def _answer(self, data):
        choices = data.get("choices")
        if not isinstance(choices, list) or not choices:
            if _prompt_filtered(data):
                raise self._fail("la petición fue bloqueada por el filtro de contenido", data)
            raise self._fail("la respuesta no trae choices", data)
        choice = choices[0] if isinstance(choices[0], dict) else {}
        message = choice.get("message") if isinstance(choice.get("message"), dict) else {}
        refusal = message.get("refusal")
        if isinstance(refusal, str) and refusal:
            raise self._fail(f"el modelo rechazó la petición: {refusal}", data)
        if choice.get("finish_reason") == "content_filter":
            raise self._fail("la respuesta fue bloqueada por el filtro de contenido (finish_reason=content_filter)", data)
        content = message.get("content")
        if isinstance(content, str):
            return content
        if isinstance(content, list):
            return "".join(
                p["text"] for p in content if isinstance(p, dict) and isinstance(p.get("text"), str)
            )
        return ""


def _rejects_temperature(exc):
    if exc.status != 400:
        return False
    err = exc.details.get("error") if isinstance(exc.details, dict) else None
    if not isinstance(err, dict):
        return False
    if err.get("param") == "temperature":
        return True
    message = str(err.get("message", "")).lower()
    return "temperature" in message and ("unsupported" in message or "not support" in message)


def _prompt_filtered(data):
    results = data.get("prompt_filter_results")
    if not isinstance(results, list):
        return False
    for result in results:
        filters = result.get("content_filter_results") if isinstance(result, dict) else None
        if isinstance(filters, dict):
            for verdict in filters.values():
                if isinstance(verdict, dict) and verdict.get("filtered"):
                    return True
    return False


class AzureOpenAIProvider(OpenAIProvider):
    """Azure OpenAI chat completions on a deployment of the resource."""

    name = "azure_openai"

    def __init__(self, model=None):
        endpoint = env_text("AZURE_OPENAI_ENDPOINT")
        if not endpoint:
            raise ValueError(
                "Falta el endpoint del proveedor de IA 'azure_openai': define la variable de entorno AZURE_OPENAI_ENDPOINT"
            )
        self.base_url = base_url(endpoint, "AZURE_OPENAI_ENDPOINT")
        self.api_key = require_key("azure_openai", "AZURE_OPENAI_API_KEY", "AZURE_OPENAI_KEY")
        _, deployment = first_env("AZURE_OPENAI_DEPLOYMENT", "AZURE_OPENAI_DEPLOYMENT_NAME")
        deployment = deployment or model
        if not deployment:
            raise ValueError(
                "Falta el despliegue del proveedor de IA 'azure_openai': define la variable de entorno "
                "AZURE_OPENAI_DEPLOYMENT (o SELF_HEALING_MODEL)"
            )
        self.model = deployment
        self.api_version = env_text("AZURE_OPENAI_API_VERSION")
        self.organization = ""
        self.timeout = read_timeout()
        self._send_temperature = True

    def _url(self):
        deployment = urllib.parse.quote(self.model, safe="-._~")
        query = urllib.parse.urlencode({"api-version": self.api_version})
        return f"{self.base_url}/openai/deployments/{deployment}/chat/completions?{query}"

    def _headers(self):
        return {"api-key": self.api_key}

    def _body(self, prompt, temperature):
        # The deployment in the path chooses the model.
        body = {"messages": [{"role": "user", "content": prompt}]}
        if self._send_temperature:
            body["temperature"] = float(temperature)
        return body


class AnthropicProvider(_HTTPProvider):
    """Anthropic Messages API."""

    name = "anthropic"

    def __init__(self, model=None):
        self.api_key = require_key("anthropic", "ANTHROPIC_API_KEY")
        self.base_url = base_url(env_text("ANTHROPIC_BASE_URL"), "ANTHROPIC_BASE_URL")
        self.model = _pick_model(model, "ANTHROPIC_MODEL")
        self.max_tokens = read_positive_int("ANTHROPIC_MAX_TOKENS")
        self.timeout = read_timeout()

    def generate(self, prompt, temperature=0.1):
        check_generate_args(prompt, temperature)
        headers = {"x-api-key": self.api_key, "anthropic-version": ANTHROPIC_VERSION}
        body = {
            "model": self.model,
            "max_tokens": self.max_tokens,
            "temperature": float(temperature),
            "messages": [{"role": "user", "content": prompt}],
        }
        data = self._post(f"{self.base_url}/v1/messages", headers, body)
        if data.get("stop_reason") == "refusal":
            raise self._fail("el modelo rechazó la petición (stop_reason=refusal)", data)
        content = data.get("content")
        if not isinstance(content, list):
            raise self._fail("la respuesta no trae content", data)
        return "".join(
            block["text"]
            for block in content
            if isinstance(block, dict) and block.get("type") == "text" and isinstance(block.get("text"), str)
        )


def ollama_base_url():
    """Server URL from OLLAMA_BASE_URL, else OLLAMA_HOST read the way the Ollama CLI reads it.

    OLLAMA_HOST may be "host", "host:port" or "scheme://host[:port]"; without a scheme it is
    http on port 11434, with http:// or https:// the scheme's own port.
    """
    explicit = env_text("OLLAMA_BASE_URL")
    if explicit:
        return base_url(explicit, "OLLAMA_BASE_URL")
    host = env_text("OLLAMA_HOST").strip("\"'")
    if not host:
        return "http://127.0.0.1:11434"
    scheme, sep, rest = host.partition("://")
    if sep:
        port = {"http": 80, "https": 443}.get(scheme.lower(), 11434)
    else:
        scheme, rest, port = "http", host, 11434
    hostport, slash, path = rest.partition("/")
    parsed = urllib.parse.urlsplit(f"//{hostport}")
    try:
        explicit_port = parsed.port
    except ValueError:
        raise ValueError(f"OLLAMA_HOST no válido: {host!r}") from None
    name = parsed.hostname or "127.0.0.1"
    if ":" in name:
        name = f"[{name}]"
    url = f"{scheme}://{name}:{explicit_port or port}"
    if slash and path.strip("/"):
        url += "/" + path.strip("/")
    return base_url(url, "OLLAMA_HOST")


class OllamaProvider(_HTTPProvider):
    """Ollama server, /api/generate without streaming. Needs no key."""

    name = "ollama"

    def __init__(self, model=None):
        self.base_url = ollama_base_url()
        self.model = _pick_model(model, "OLLAMA_MODEL")
        self.timeout = read_timeout()

    def generate(self, prompt, temperature=0.1):
        check_generate_args(prompt, temperature)
        body = {
            "model": self.model,
            "prompt": prompt,
            "stream": False,
            "options": {"temperature": float(temperature)},
        }
        data = self._post(f"{self.base_url}/api/generate", {}, body)
        response = data.get("response")
        if response is None:
            raise self._fail("la respuesta no trae el campo response", data)
        if not isinstance(response, str):
            raise self._fail(f"campo response inesperado: {type(response).__name__}", data)
        return response
