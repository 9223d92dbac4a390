"""Checks the framework's environment settings before a run.

:func:`validate_config` looks at the process environment (plus, when given, the
values of an environment file, which take precedence as they would once loaded) and
returns a :class:`ValidationResult` with two lists of texts:

* ``errors`` — values the framework cannot use: a number setting that is not a
  number makes the settings load fail, an unknown browser cannot be launched, a
  browser flag file that does not exist is silently ignored;
* ``warnings`` — values that work but probably not as meant: a switch written
  ``yes`` or ``1`` counts as false, an unknown preset adds no flags, the Tarvo Test
  Manager integration is switched on without the server and key it needs.

The framework runs the check at start-up and shows the first problems; the console
command ``tarvo-validate`` (:func:`main`) lists all of them. Like the framework, the
command applies the nearest ``.env`` (the working directory's, else that of the closest
parent directory) unless ``--env-file`` names another file.
"""

from __future__ import annotations

import argparse
import os
import re
import sys
from dataclasses import dataclass, field
from pathlib import Path
from typing import Dict, List, Mapping, Optional, Sequence

BROWSERS = ("chromium", "chrome", "firefox", "webkit")
PRESETS = ("performance", "mobile", "cicd", "security_disabled")
AI_PROVIDERS = ("gemini", "openai", "azure", "azure_openai", "anthropic", "ollama", "local")
LOG_LEVELS = ("CRITICAL", "FATAL", "ERROR", "WARN", "WARNING", "INFO", "DEBUG", "NOTSET")

# Whole-number settings (converted with an integer conversion by the settings load).
INTEGER_SETTINGS = (
    "TIMEOUT", "NAVIGATION_TIMEOUT", "VIEWPORT_WIDTH", "VIEWPORT_HEIGHT", "SLOW_MO",
    "BROWSER_MEMORY_LIMIT", "VIDEO_MAX_AGE_HOURS", "RETRY_FAILED_STEPS",
    "MAX_SCENARIO_RETRIES", "PARALLEL_WORKERS", "MAX_BROWSER_INSTANCES",
    "BROWSER_POOL_SIZE", "WORKER_TIMEOUT", "SELF_HEALING_MAX_RETRIES",
    "SELF_HEALING_MAX_HTML_LENGTH",
)
# Settings converted to real numbers.
REAL_SETTINGS = (
    "DEVICE_SCALE_FACTOR", "GEOLOCATION_LATITUDE", "GEOLOCATION_LONGITUDE",
    "GEOLOCATION_ACCURACY", "SELF_HEALING_CONFIDENCE_THRESHOLD",
)
# An empty text means "use the default" for these.
EMPTY_ALLOWED = ("VIEWPORT_WIDTH", "VIEWPORT_HEIGHT")
# (setting, lowest sensible value, highest sensible value); outside gives a warning.
RANGES = (
    ("TIMEOUT", 0, None), ("NAVIGATION_TIMEOUT", 0, None), ("VIEWPORT_WIDTH", 1, None),
    ("VIEWPORT_HEIGHT", 1, None), ("DEVICE_SCALE_FACTOR", 0.1, None), ("SLOW_MO", 0, None),
    ("MAX_SCENARIO_RETRIES", 0, None), ("SELF_HEALING_MAX_RETRIES", 0, None),
    ("SELF_HEALING_MAX_HTML_LENGTH", 1, None), ("SELF_HEALING_CONFIDENCE_THRESHOLD", 0, 1),
    ("GEOLOCATION_LATITUDE", -90, 90), ("GEOLOCATION_LONGITUDE", -180, 180),
    ("GEOLOCATION_ACCURACY", 0, None),
)
# On/off switches: on exactly when the text, lower-cased, is "true".
FLAG_SETTINGS = (
    "HEADLESS", "CHROME_DISABLE_SECURITY", "CHROME_ENABLE_LOGGING", "CHROME_DISABLE_EXTENSIONS",
    "CHROME_DISABLE_PLUGINS", "CHROME_DISABLE_IMAGES", "CHROME_DISABLE_JAVASCRIPT",
    "FIREFOX_DISABLE_ADDONS", "FIREFOX_PRIVATE_MODE", "RECORD_VIDEO", "CLEANUP_OLD_VIDEOS",
    "IGNORE_HTTPS_ERRORS", "AUTO_SCREENSHOT_ON_FAILURE", "AUTO_WAIT_FOR_LOAD",
    "RETRY_FAILED_SCENARIOS", "STEALTH_MODE", "GEOLOCATION_ENABLED",
    "SELF_HEALING_ENABLED", "SELF_HEALING_AUTO_UPDATE_POM", "SELF_HEALING_LOG_SUGGESTIONS",
    "GENERATE_AI_REPORT", "GENERATE_AI_ANALYSIS_REPORT", "JIRA_ENABLED", "MERIDIO_ENABLED",
    "TARVO_TM_ENABLED", "HIDE_TRANSFORMERS_WARNINGS", "HIDE_HF_WARNINGS", "HIDE_BEHAVE_WARNINGS",
)

_INTEGER = re.compile(r"\s*[+-]?\d+\s*")
_REAL = re.compile(r"\s*[+-]?(?:\d+(?:\.\d*)?|\.\d+)(?:[eE][+-]?\d+)?\s*")
_VIDEO_SIZE = re.compile(r"\d+x\d+")


@dataclass
class ValidationResult:
    """Outcome of :func:`validate_config`: problem texts in check order."""

    errors: List[str] = field(default_factory=list)
    warnings: List[str] = field(default_factory=list)

    @property
    def ok(self) -> bool:
        """True when there are no errors (warnings allowed)."""
        return not self.errors

    def __bool__(self) -> bool:
        return self.ok


def _environment(env_file: Optional[str], result: ValidationResult) -> Dict[str, str]:
    values = dict(os.environ)
    if env_file:
        path = Path(env_file)
        if not path.is_file():
            result.errors.append(f"Archivo de entorno no encontrado: {env_file}")
        else:
            from dotenv import dotenv_values

            for key, value in dotenv_values(path).items():
                if value is not None:  # a bare "NAME" line assigns nothing
                    values[key] = value
    return values


def _check_numbers(env: Mapping[str, str], result: ValidationResult) -> None:
    for names, pattern, kind in (
        (INTEGER_SETTINGS, _INTEGER, "un número entero"),
        (REAL_SETTINGS, _REAL, "un número"),
    ):
        for name in names:
            if name not in env:
                continue
            value = env[name]
            if value == "" and name in EMPTY_ALLOWED:
                continue
            if not pattern.fullmatch(value):
                result.errors.append(f"{name} debe ser {kind}, valor actual: '{value}'")
    for name, low, high in RANGES:
        value = env.get(name, "")
        if not (_REAL.fullmatch(value) if name in REAL_SETTINGS else _INTEGER.fullmatch(value)):
            continue
        number = float(value)
        if (low is not None and number < low) or (high is not None and number > high):
            bounds = f"entre {low} y {high}" if high is not None else f"al menos {low}"
            result.warnings.append(f"{name}={value.strip()} fuera de rango: se esperaba {bounds}")


def _check_choices(env: Mapping[str, str], result: ValidationResult) -> None:
    browser = env.get("BROWSER")
    if browser is not None and browser.lower() not in BROWSERS:
        result.errors.append(
            f"BROWSER '{browser}' no es válido; valores permitidos: {', '.join(BROWSERS)}"
        )

    video_size = env.get("VIDEO_SIZE")
    if video_size is not None and not _VIDEO_SIZE.fullmatch(video_size):
        result.errors.append(
            f"VIDEO_SIZE debe tener la forma ANCHOxALTO (por ejemplo 1280x720), valor actual: '{video_size}'"
        )

    config_file = env.get("BROWSER_CONFIG_FILE", "")
    if config_file and not Path(config_file).is_file():
        result.errors.append(f"BROWSER_CONFIG_FILE apunta a un archivo que no existe: {config_file}")

    preset = env.get("BROWSER_CONFIG_PRESET", "")
    if preset and preset not in PRESETS:
        result.warnings.append(
            f"BROWSER_CONFIG_PRESET '{preset}' desconocido (se ignora); presets: {', '.join(PRESETS)}"
        )

    level = env.get("LOG_LEVEL")
    if level is not None and level.upper() not in LOG_LEVELS:
        result.warnings.append(
            f"LOG_LEVEL '{level}' no es un nivel de logging; se usará WARNING "
            "(DEBUG, INFO, WARNING, ERROR, CRITICAL)"
        )

    for name in FLAG_SETTINGS:
        value = env.get(name)
        if value is not None and value.lower() not in ("true", "false"):
            result.warnings.append(
                f"{name}='{value}' no es 'true' ni 'false'; se interpreta como false"
            )

    provider = env.get("AI_PROVIDER")
    kinds = _provider_kinds()
    if provider and provider.strip().lower() not in kinds:
        result.warnings.append(
            f"AI_PROVIDER '{provider}' desconocido; proveedores: {', '.join(kinds)}"
        )


def _check_integrations(env: Mapping[str, str], result: ValidationResult) -> None:
    # Switched on but not configured, the integration stays silent and writes no file.
    if env.get("TARVO_TM_ENABLED", "").lower() != "true":
        return
    missing = [name for name in ("TARVO_TM_URL", "TARVO_TM_API_KEY") if not env.get(name, "").strip()]
    if missing:
        result.warnings.append(
            f"TARVO_TM_ENABLED=true pero falta {' y '.join(missing)}: "
            "la integración Tarvo Test Manager no hará nada"
        )


def _provider_kinds() -> Sequence[str]:
    """The provider kinds the AI provider factory offers (its own list when loadable)."""
    try:
        from tarvolab_framework.core.ai_provider import PROVIDER_KINDS

        return tuple(PROVIDER_KINDS)
    except Exception:  # factory missing or broken: fall back to the known kinds
        return AI_PROVIDERS


def validate_config(env_file: Optional[str] = None, strict: bool = False) -> ValidationResult:
    """Check the environment (and ``env_file``'s values) against the settings schema.

    Args:
        env_file: optional path of an environment file whose values are checked as if
            loaded over the process environment (the environment itself is not changed).
        strict: raise ``ValueError`` listing the errors instead of returning them.
    """
    if env_file is not None and not isinstance(env_file, (str, os.PathLike)):
        raise TypeError(f"env_file must be a path, not {type(env_file).__name__}")
    result = ValidationResult()
    env = _environment(os.fspath(env_file) if env_file else None, result)
    _check_choices(env, result)
    _check_numbers(env, result)
    _check_integrations(env, result)
    if strict and result.errors:
        raise ValueError(
            "Configuración inválida:\n" + "\n".join(f"  - {error}" for error in result.errors)
        )
    return result


def find_env_file(start: Optional[Path] = None) -> Optional[Path]:
    """The ``.env`` the framework would load: in ``start`` (default: the working
    directory) or the nearest of its parent directories; ``None`` when there is none."""
    directory = Path.cwd() if start is None else Path(start)
    for candidate in (directory, *directory.parents):
        path = candidate / ".env"
        if path.is_file():
            return path
    return None


def main(argv: Optional[Sequence[str]] = None) -> int:
    """``tarvo-validate``: print every configuration problem; exit 1 when there are errors.

    Without ``--env-file`` the nearest ``.env`` (see :func:`find_env_file`) is checked
    over the environment, as a run would load it. ``--strict`` also fails on warnings.
    """
    parser = argparse.ArgumentParser(
        prog="tarvo-validate",
        description="Valida la configuración del framework (variables de entorno y archivo .env).",
    )
    parser.add_argument(
        "--env-file",
        help="archivo .env cuyos valores se validan sobre el entorno "
        "(por defecto, el .env más cercano, como al ejecutar)",
    )
    parser.add_argument("--strict", action="store_true", help="las advertencias también hacen fallar")
    args = parser.parse_args(argv)

    env_file = args.env_file
    if env_file is None:
        found = find_env_file()
        if found is not None:
            env_file = str(found)
            print(f"📄 Archivo de entorno: {found}")
    result = validate_config(env_file=env_file, strict=False)
    if result.errors:
        print(f"❌ {len(result.errors)} error(es) de configuración:")
        for number, error in enumerate(result.errors, start=1):
            print(f"  {number}. {error}")
    if result.warnings:
        print(f"⚠️  {len(result.warnings)} advertencia(s):")
        for number, warning in enumerate(result.warnings, start=1):
            print(f"  {number}. {warning}")
    if not result.errors and not result.warnings:
        print("✅ Configuración válida")
    elif not result.errors:
        print("✅ Sin errores de configuración")
    failed = bool(result.errors) or (args.strict and bool(result.warnings))
    return 1 if failed else 0


if __name__ == "__main__":  # pragma: no cover
    sys.exit(main())
