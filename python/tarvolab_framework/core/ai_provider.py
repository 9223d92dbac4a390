"""AI provider factory used by the locator self-healing.

`get_ai_provider(model=None)` returns a provider object with the attributes `name` and
`model` and the operation `generate(prompt, temperature=0.1) -> str`. The kind of provider
comes from the environment variable `AI_PROVIDER` (case-insensitive, default "gemini"):

=================  ===========================================================
AI_PROVIDER        provider
=================  ===========================================================
gemini             Google Gemini API (generateContent)
openai             OpenAI Chat Completions; Azure OpenAI when
                   AZURE_OPENAI_ENDPOINT is set
azure, azure_openai  Azure OpenAI chat completions
anthropic          Anthropic Messages API
ollama             a local or remote Ollama server (no key)
local              offline heuristic that reads the healing prompt's HTML
                   itself (no network, no key)
=================  ===========================================================

`model` (the SELF_HEALING_MODEL setting) picks the model; when it is None or empty, the
provider's own model variable below decides, else its default.

Environment variables, per provider (read when the provider is created):

All HTTP providers
    AI_PROVIDER_TIMEOUT      seconds to wait for an answer (default 60)
    HTTPS_PROXY / HTTP_PROXY / NO_PROXY   honoured as by urllib

gemini
    GEMINI_API_KEY or GOOGLE_API_KEY   required; sent in the x-goog-api-key header
    GEMINI_MODEL             default "gemini-2.5-flash"
    GEMINI_BASE_URL          default https://generativelanguage.googleapis.com
    GEMINI_API_VERSION       default "v1beta"
    POST {base}/{version}/models/{model}:generateContent

openai
    OPENAI_API_KEY           required; Bearer authorisation
    OPENAI_MODEL             default "gpt-4o-mini"
    OPENAI_BASE_URL          default https://api.openai.com/v1 (any server with the same API)
    OPENAI_ORG_ID            optional OpenAI-Organization header
    POST {base}/chat/completions

azure_openai (AI_PROVIDER=azure or azure_openai, or openai with AZURE_OPENAI_ENDPOINT set)
    AZURE_OPENAI_ENDPOINT    required, e.g. https://my-resource.openai.azure.com
    AZURE_OPENAI_API_KEY     required (AZURE_OPENAI_KEY also read); sent in the api-key header
    AZURE_OPENAI_DEPLOYMENT  deployment name (AZURE_OPENAI_DEPLOYMENT_NAME also read);
                             when unset, `model` is used as the deployment name
    AZURE_OPENAI_API_VERSION default "2024-10-21"
    POST {endpoint}/openai/deployments/{deployment}/chat/completions?api-version=...

anthropic
    ANTHROPIC_API_KEY        required; sent in the x-api-key header with anthropic-version 2023-06-01
    ANTHROPIC_MODEL          default "claude-sonnet-4-5"
    ANTHROPIC_BASE_URL       default https://api.anthropic.com
    ANTHROPIC_MAX_TOKENS     answer length limit (default 1024)
    POST {base}/v1/messages

ollama
    OLLAMA_BASE_URL          full server URL; else OLLAMA_HOST as the Ollama CLI reads it
                             ("host", "host:port" or "http://host:port"); default http://127.0.0.1:11434
    OLLAMA_MODEL             default "llama3.1"
    POST {base}/api/generate with "stream": false

local
    no variables. Answers a selector for the element the prompt describes, or "NO_MATCH".

Errors: an unknown AI_PROVIDER, a missing key or endpoint, or a malformed setting raise
ValueError naming the variable (the self-healing manager then turns healing off with a
warning). At call time, a service error (HTTP 4xx/5xx, unreachable server, time-out), a
blocked prompt or answer, or a refusal raise `AIProviderError` (a RuntimeError) carrying the
service's message. A model that answers nothing gives "".
"""

from __future__ import annotations

from .ai_providers.base import AIProviderError
from .ai_providers.local import LocalProvider
from .ai_providers.remote import (
    AnthropicProvider,
    AzureOpenAIProvider,
    GeminiProvider,
    OllamaProvider,
    OpenAIProvider,
)
from tarvolab_framework.core import settings

__all__ = [
    "AIProviderError",
    "AnthropicProvider",
    "AzureOpenAIProvider",
    "GeminiProvider",
    "LocalProvider",
    "OllamaProvider",
    "OpenAIProvider",
    "PROVIDER_KINDS",
    "get_ai_provider",
]

PROVIDER_KINDS = ("gemini", "openai", "azure", "azure_openai", "anthropic", "ollama", "local")


def get_ai_provider(model=None):
    """Create the provider chosen by AI_PROVIDER, for `model` (None: the provider's default)."""
    if model is not None and not isinstance(model, str):
        raise TypeError(f"model debe ser un texto o None, no {type(model).__name__}")
    model = model.strip() if model else None
    model = model or None

    kind = settings.get("AI_PROVIDER")
    if kind == "gemini":
        return GeminiProvider(model)
    if kind == "openai":
        if settings.get("AZURE_OPENAI_ENDPOINT"):
            return AzureOpenAIProvider(model)
        return OpenAIProvider(model)
    if kind in ("azure", "azure_openai"):
        return AzureOpenAIProvider(model)
    if kind == "anthropic":
        return AnthropicProvider(model)
    if kind == "ollama":
        return OllamaProvider(model)
    if kind == "local":
        return LocalProvider(model)
    raise ValueError(
        f"Proveedor de IA desconocido en AI_PROVIDER: {kind!r} (válidos: {', '.join(PROVIDER_KINDS)})"
    )
