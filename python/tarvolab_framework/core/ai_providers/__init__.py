"""Provider implementations behind `tarvolab_framework.core.ai_provider.get_ai_provider`.

`base` holds the shared error type, environment readers and the JSON-over-HTTP call;
`remote` the clients of the hosted and local model services; `local` the offline
heuristic that answers locator-healing prompts without any model.
"""

from .base import AIProviderError

__all__ = ["AIProviderError"]
