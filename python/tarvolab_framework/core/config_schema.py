"""Checks the framework's environment settings before a run.

:func:`validate_config` looks at the process environment (plus, when given, the
values of an environment file, which take precedence as they would once loaded) and
returns a :class:`ValidationResult` with two lists of texts:

* ``errors`` — values the framework cannot use: a number setting that is not a
  number or lies outside its range makes the settings load fail, an unknown browser cannot be launched, a
  browser flag file that does not exist is silently ignored;
* ``warnings`` — values that work but probably not as meant: a switch written
  ``yes`` or ``1`` counts as false, an unknown preset adds no flags, the Tarvo Test
  Manager integration is switched on without the server and key it needs, a variable
  whose name is close to a setting's (``HEADLES``, ``TIME_OUT``), a setting that has
  no effect with the others as they are (``VIDEO_DIR`` without ``RECORD_VIDEO=true``,
  ``FIREFOX_*`` with ``BROWSER=chromium``).

Kinds, defaults, ranges, accepted values and the conditions under which a setting acts
all come from the settings table (:mod:`tarvolab_framework.core.settings`).

The framework runs the check at start-up and shows the first problems; the console
command ``tarvo-validate`` (:func:`main`) lists all of them. Like the framework, the
command applies the nearest ``.env`` (the working directory's, else that of the closest
parent directory) unless ``--env-file`` names another file.
"""

from __future__ import annotations

import argparse
import functools
import os
import re
import sys
from dataclasses import dataclass, field
from pathlib import Path
from typing import Dict, List, Mapping, Optional, Sequence, Tuple

from tarvolab_framework.core import settings
from tarvolab_framework.core.settings import SettingRow

# Every list below comes from the settings table; none is written by hand.
_TABLE: Tuple[SettingRow, ...] = settings.table()
_ROWS: Dict[str, SettingRow] = {row.variable: row for row in _TABLE}
KNOWN_VARIABLES = tuple(_ROWS)


def _names(kind: str) -> Tuple[str, ...]:
    return tuple(row.variable for row in _TABLE if row.kind == kind)


INTEGER_SETTINGS = _names("integer")
REAL_SETTINGS = _names("real")
FLAG_SETTINGS = _names("flag")
# An empty text means "use the default" for these.
EMPTY_ALLOWED = tuple(row.variable for row in _TABLE if row.blank_is_default)
# (setting, lowest value, highest value): outside, the setting's load fails.
RANGES = tuple((row.variable, row.low, row.high) for row in _TABLE if row.low is not None)
BROWSERS = _ROWS["BROWSER"].choices
PRESETS = _ROWS["BROWSER_CONFIG_PRESET"].choices
AI_PROVIDERS = _ROWS["AI_PROVIDER"].choices
LOG_LEVELS = _ROWS["LOG_LEVEL"].choices
# A value outside the choices of these cannot run at all; for the others it is ignored.
CHOICE_ERRORS = ("BROWSER",)

# Variables of other tools that sit close to a setting's name but are not misspellings.
FOREIGN_VARIABLES = frozenset({"OLLAMA_MODELS"})
# Set by tarvo-run for its worker processes: the framework's own, but not settings.
INTERNAL_PREFIXES = ("TARVO_WORKER_",)
# Prefixes only this framework uses: an unknown variable that starts with one is a
# misspelling or a setting this version does not have.
OWN_PREFIXES = ("TARVO_", "SELF_HEALING_", "GENERATE_AI_", "MERIDIO_", "XRAY_")

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


def _bound(value: float) -> str:
    return str(int(value)) if float(value).is_integer() else str(value)


def _check_numbers(env: Mapping[str, str], result: ValidationResult) -> None:
    # The table's own conversion decides, so the check agrees with the run exactly.
    for row in _TABLE:
        if row.kind not in ("integer", "real") or row.variable not in env:
            continue
        value = env[row.variable]
        try:
            settings.convert(row.variable, value)
        except ValueError as exc:
            if " is out of range (" in str(exc):
                result.errors.append(
                    f"{row.variable}={value.strip()} fuera de rango: "
                    f"se esperaba entre {_bound(row.low)} y {_bound(row.high)}"
                )
            else:
                kind = "un número entero" if row.kind == "integer" else "un número"
                result.errors.append(f"{row.variable} debe ser {kind}, valor actual: '{value}'")


def _in_choices(row: SettingRow, value: str) -> bool:
    converted = settings.convert(row.variable, value)
    # Choices written in capitals (log levels) are upper-cased by their reader.
    if all(choice.isupper() for choice in row.choices):
        converted = converted.upper()
    return converted in row.choices


def _check_choices(env: Mapping[str, str], result: ValidationResult) -> None:
    for row in _TABLE:
        value = env.get(row.variable)
        if not row.choices or not value or _in_choices(row, value):
            continue
        allowed = ", ".join(row.choices)
        if row.variable in CHOICE_ERRORS:
            result.errors.append(f"{row.variable} '{value}' no es válido; valores permitidos: {allowed}")
        else:
            result.warnings.append(f"{row.variable} '{value}' desconocido (se ignora); valores: {allowed}")

    video_size = env.get("VIDEO_SIZE")
    if video_size is not None and not _VIDEO_SIZE.fullmatch(video_size):
        result.errors.append(
            f"VIDEO_SIZE debe tener la forma ANCHOxALTO (por ejemplo 1280x720), valor actual: '{video_size}'"
        )

    config_file = env.get("BROWSER_CONFIG_FILE", "")
    if config_file and not Path(config_file).is_file():
        result.errors.append(f"BROWSER_CONFIG_FILE apunta a un archivo que no existe: {config_file}")

    store = env.get("SELF_HEALING_STORE", "").strip()
    if store and store.lower() not in ("off", "false", "none", "0", "no"):
        path = Path(store).expanduser()
        if path.is_dir():
            result.errors.append(
                f"SELF_HEALING_STORE debe ser un archivo (o 'off'), no una carpeta: {store}")
        elif path.exists() and not os.access(path, os.R_OK | os.W_OK):
            result.warnings.append(
                f"SELF_HEALING_STORE no se puede leer y escribir: {store}; la reparación seguirá sin almacén")

    for name in FLAG_SETTINGS:
        value = env.get(name)
        if value is not None and value.lower() not in ("true", "false"):
            result.warnings.append(
                f"{name}='{value}' no es 'true' ni 'false'; se interpreta como false"
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


def _within_distance(a: str, b: str, limit: int) -> Optional[int]:
    """Levenshtein distance of ``a`` and ``b`` when it is at most ``limit``, else None.
    Only a band of ``limit`` cells either side of the diagonal is computed."""
    if abs(len(a) - len(b)) > limit:
        return None
    too_far = limit + 1
    previous = [j if j <= limit else too_far for j in range(len(b) + 1)]
    for i in range(1, len(a) + 1):
        current = [i if i <= limit else too_far] + [too_far] * len(b)
        for j in range(max(1, i - limit), min(len(b), i + limit) + 1):
            cost = previous[j - 1] + (a[i - 1] != b[j - 1])
            current[j] = min(cost, previous[j] + 1, current[j - 1] + 1, too_far)
        if min(current) > limit:
            return None
        previous = current
    return previous[-1] if previous[-1] <= limit else None


_KNOWN_WITHOUT_UNDERSCORES = tuple((name, name.replace("_", "")) for name in KNOWN_VARIABLES)


@functools.lru_cache(maxsize=1024)  # the same environment is checked at every run start
def _closest_setting(name: str) -> Optional[str]:
    """The setting ``name`` is probably a misspelling of, or None."""
    upper = name.upper()
    if upper in _ROWS:
        return upper  # right name, wrong capitals
    # One slip in a short name, two in a long one; names are compared without their
    # underscores too, so TIME_OUT finds TIMEOUT.
    limit = 1 if len(name) < 8 else 2
    bare = upper.replace("_", "")
    best, best_distance = None, limit + 1
    for known, known_bare in _KNOWN_WITHOUT_UNDERSCORES:
        for left, right in ((upper, known), (bare, known_bare)):
            distance = _within_distance(left, right, limit)
            if distance is not None and distance < best_distance:
                best, best_distance = known, distance
    return best


def _check_names(env: Mapping[str, str], result: ValidationResult) -> None:
    for name in env:
        if name in _ROWS or name in FOREIGN_VARIABLES or name.startswith(INTERNAL_PREFIXES):
            continue
        guess = _closest_setting(name)
        if guess is not None:
            result.warnings.append(f"{name} no es una variable del framework; ¿quisiste decir {guess}?")
        elif name.startswith(OWN_PREFIXES):
            result.warnings.append(f"{name} no es una variable del framework (se ignora)")


def _unmet_condition(row: SettingRow, env: Mapping[str, str]) -> Optional[Tuple[str, str, Tuple[str, ...]]]:
    """The first condition in ``row``'s chain that keeps it from acting, as (variable,
    its value, the values it would need), or None when the setting takes effect."""
    seen = set()
    while row.needs is not None and row.variable not in seen:
        seen.add(row.variable)
        variable, values = row.needs
        try:
            value = settings.convert(variable, env.get(variable))
        except ValueError:
            return None  # a bad value is reported on its own
        text = ("true" if value else "false") if isinstance(value, bool) else str(value)
        if text not in values:
            return variable, text, values
        row = _ROWS[variable]
    return None


def _check_effect(env: Mapping[str, str], result: ValidationResult) -> None:
    for row in _TABLE:
        if row.variable not in env:
            continue
        unmet = _unmet_condition(row, env)
        if unmet is not None:
            variable, value, wanted = unmet
            result.warnings.append(
                f"{row.variable} no tiene efecto con {variable}={value} "
                f"(solo actúa con {variable}={'|'.join(wanted)})"
            )


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
    _check_names(env, result)
    _check_effect(env, result)
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
