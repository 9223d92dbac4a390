"""Configuration validator and the tarvo-validate command."""

import os

import pytest

from tarvolab_framework.core import config_schema as cs

CHECKED = set(cs.KNOWN_VARIABLES)


@pytest.fixture(autouse=True)
def clean_environment(monkeypatch):
    for name in CHECKED:
        monkeypatch.delenv(name, raising=False)


def errors_for(monkeypatch, **env):
    for name, value in env.items():
        monkeypatch.setenv(name, value)
    return cs.validate_config().errors


class TestErrors:
    def test_defaults_and_sensible_values_are_clean(self, monkeypatch, tmp_path):
        flags = tmp_path / "flags.json"
        flags.write_text('{"args": []}')
        result = cs.validate_config()
        assert (result.errors, result.warnings) == ([], [])
        assert errors_for(monkeypatch, BROWSER="Firefox", TIMEOUT=" 45000 ", VIEWPORT_WIDTH="",
                          DEVICE_SCALE_FACTOR="1.5e0", GEOLOCATION_LATITUDE="-33.45",
                          VIDEO_SIZE="800x600", BROWSER_CONFIG_FILE=str(flags)) == []

    @pytest.mark.parametrize("name, value", [
        ("TIMEOUT", "30s"), ("TIMEOUT", ""), ("SLOW_MO", "1.5"), ("MAX_SCENARIO_RETRIES", "1_0"),
        ("SELF_HEALING_MAX_HTML_LENGTH", "big"), ("DEVICE_SCALE_FACTOR", "nan"),
        ("SELF_HEALING_CONFIDENCE_THRESHOLD", "70%"), ("GEOLOCATION_ACCURACY", "lejos"),
    ])
    def test_non_numbers_are_errors_naming_variable_and_value(self, monkeypatch, name, value):
        assert errors_for(monkeypatch, **{name: value}) == [
            f"{name} debe ser {'un número entero' if name in cs.INTEGER_SETTINGS else 'un número'}, "
            f"valor actual: '{value}'"
        ]

    @pytest.mark.parametrize("name, value, bounds", [
        ("SELF_HEALING_MAX_RETRIES", "9223372036854775807", "entre 0 y 100"),
        ("TIMEOUT", "-1", "entre 0 y 2147483647"),
        ("SELF_HEALING_CONFIDENCE_THRESHOLD", "7", "entre 0 y 1"),
        ("GEOLOCATION_LONGITUDE", "-180.5", "entre -180 y 180"),
        ("AI_PROVIDER_TIMEOUT", "0", "entre 0.001 y 86400"),
    ])
    def test_numbers_out_of_their_range_are_errors(self, monkeypatch, name, value, bounds):
        assert errors_for(monkeypatch, **{name: value}) == [f"{name}={value} fuera de rango: se esperaba {bounds}"]

    def test_lists_come_from_the_settings_table(self):
        from tarvolab_framework.core import settings

        kinds = {row.variable: row.kind for row in settings.table()}
        assert {kinds[name] for name in cs.INTEGER_SETTINGS} == {"integer"}
        assert {name for name, _, _ in cs.RANGES} == set(cs.INTEGER_SETTINGS + cs.REAL_SETTINGS)
        assert "SELF_HEALING_ENABLED" in cs.FLAG_SETTINGS and "LOCATOR_TIMEOUT" in cs.REAL_SETTINGS
        assert cs.BROWSERS == ("chromium", "chrome", "firefox", "webkit")

    def test_deadlines_and_headless_web_security(self, monkeypatch):
        assert errors_for(monkeypatch, AI_PROVIDER_TIMEOUT="2.5", PAGE_EVALUATION_TIMEOUT=" 800 ",
                          HEADLESS_WEB_SECURITY="true") == []
        assert errors_for(monkeypatch, PAGE_EVALUATION_TIMEOUT="0") == [
            "PAGE_EVALUATION_TIMEOUT=0 fuera de rango: se esperaba entre 1 y 2147483647"]
        assert errors_for(monkeypatch, PAGE_EVALUATION_TIMEOUT="1s") == [
            "PAGE_EVALUATION_TIMEOUT debe ser un número, valor actual: '1s'"]

    def test_browser_video_size_and_flag_file(self, monkeypatch, tmp_path):
        errors = errors_for(monkeypatch, BROWSER="opera", VIDEO_SIZE="1280X720",
                            BROWSER_CONFIG_FILE=str(tmp_path / "missing.json"))
        assert len(errors) == 3
        assert "BROWSER 'opera'" in errors[0]
        assert "'1280X720'" in errors[1]
        assert "missing.json" in errors[2]


    def test_artefact_modes(self, monkeypatch):
        monkeypatch.setenv("RECORD_VIDEO", "true")
        assert errors_for(monkeypatch, TRACE_MODE="retain-on-failure", VIDEO_MODE="off") == []
        warnings = "\n".join(cs.validate_config().warnings)
        assert "TRACE_MODE" not in warnings and "VIDEO_MODE" not in warnings
        monkeypatch.setenv("TRACE_MODE", "always")
        monkeypatch.setenv("VIDEO_MODE", "true")
        warnings = "\n".join(cs.validate_config().warnings)
        assert "TRACE_MODE 'always'" in warnings and "VIDEO_MODE 'true'" in warnings


class TestWarnings:
    def test_questionable_values_are_warnings_not_errors(self, monkeypatch):
        for name, value in {"HEADLESS": "yes", "RECORD_VIDEO": "TRUE", "BROWSER_CONFIG_PRESET": "CICD",
                            "LOG_LEVEL": "verbose", "AI_PROVIDER": "mistral",
                            "SELF_HEALING_ENABLED": "true"}.items():
            monkeypatch.setenv(name, value)
        result = cs.validate_config()
        assert result.errors == []
        joined = "\n".join(result.warnings)
        assert len(result.warnings) == 4
        for part in ("HEADLESS='yes'", "'CICD'", "'verbose'", "'mistral'"):
            assert part in joined
        assert "RECORD_VIDEO" not in joined  # TRUE is true in any capitalisation

    def test_tarvo_tm_switched_on_without_server_or_key_is_a_warning(self, monkeypatch):
        monkeypatch.setenv("TARVO_TM_ENABLED", "true")
        monkeypatch.setenv("TARVO_TM_API_KEY", "  ")  # blank counts as missing
        result = cs.validate_config()
        assert result.ok and result.warnings == [
            "TARVO_TM_ENABLED=true pero falta TARVO_TM_URL y TARVO_TM_API_KEY: "
            "la integración Tarvo Test Manager no hará nada"
        ]
        monkeypatch.setenv("TARVO_TM_URL", "https://tm.test")
        assert "TARVO_TM_API_KEY" in cs.validate_config().warnings[0]
        monkeypatch.setenv("TARVO_TM_API_KEY", "k")
        assert cs.validate_config().warnings == []
        monkeypatch.setenv("TARVO_TM_ENABLED", "false")
        monkeypatch.delenv("TARVO_TM_URL")
        monkeypatch.delenv("TARVO_TM_API_KEY")
        assert cs.validate_config().warnings == []

    def test_level_and_provider_names_in_any_case_are_accepted(self, monkeypatch):
        monkeypatch.setenv("LOG_LEVEL", "debug")
        monkeypatch.setenv("AI_PROVIDER", " Ollama")
        monkeypatch.setenv("SELF_HEALING_ENABLED", "true")
        assert cs.validate_config().warnings == []

    def test_names_close_to_a_setting_are_warned_about(self, monkeypatch):
        for name in ("HEADLES", "TIME_OUT", "headless", "TARVO_CHROMIUM_PATH", "SELF_HEALING_ENABLE"):
            monkeypatch.setenv(name, "x")
        for name in ("PATH", "HOME", "OLLAMA_MODELS", "LANG", "DISPLAY"):
            monkeypatch.setenv(name, "x")
        warnings = cs.validate_config().warnings
        assert "HEADLES no es una variable del framework; ¿quisiste decir HEADLESS?" in warnings
        assert "TIME_OUT no es una variable del framework; ¿quisiste decir TIMEOUT?" in warnings
        assert "headless no es una variable del framework; ¿quisiste decir HEADLESS?" in warnings
        assert "SELF_HEALING_ENABLE no es una variable del framework; ¿quisiste decir SELF_HEALING_ENABLED?" in warnings
        assert "TARVO_CHROMIUM_PATH no es una variable del framework (se ignora)" in warnings
        assert len(warnings) == 5

    def test_settings_without_effect_in_this_configuration(self, monkeypatch):
        monkeypatch.setenv("VIDEO_DIR", "v")
        monkeypatch.setenv("FIREFOX_PRIVATE_MODE", "true")
        monkeypatch.setenv("CHROME_LOG_LEVEL", "verbose")
        monkeypatch.setenv("GEMINI_API_KEY", "k")
        monkeypatch.setenv("SELF_HEALING_ENABLED", "true")
        monkeypatch.setenv("AI_PROVIDER", "openai")
        assert cs.validate_config().warnings == [
            "CHROME_LOG_LEVEL no tiene efecto con CHROME_ENABLE_LOGGING=false (solo actúa con CHROME_ENABLE_LOGGING=true)",
            "FIREFOX_PRIVATE_MODE no tiene efecto con BROWSER=chromium (solo actúa con BROWSER=firefox)",
            "VIDEO_DIR no tiene efecto con RECORD_VIDEO=false (solo actúa con RECORD_VIDEO=true)",
            "GEMINI_API_KEY no tiene efecto con AI_PROVIDER=openai (solo actúa con AI_PROVIDER=gemini)",
        ]
        # Satisfied conditions, and chains of them, silence the warnings.
        for name, value in {"RECORD_VIDEO": "true", "BROWSER": "Firefox", "AI_PROVIDER": "gemini"}.items():
            monkeypatch.setenv(name, value)
        monkeypatch.delenv("CHROME_LOG_LEVEL")
        assert cs.validate_config().warnings == []
        monkeypatch.setenv("CHROME_ENABLE_LOGGING", "true")  # on, but the browser is Firefox
        assert cs.validate_config().warnings == [
            "CHROME_ENABLE_LOGGING no tiene efecto con BROWSER=firefox (solo actúa con BROWSER=chromium|chrome)"]


class TestEnvFileAndStrict:
    def test_env_file_values_override_the_environment_without_changing_it(self, monkeypatch, tmp_path):
        env_file = tmp_path / ".env"
        env_file.write_text("TIMEOUT=abc\nBROWSER=chromium\nBARE_NAME\n")
        monkeypatch.setenv("BROWSER", "opera")
        result = cs.validate_config(env_file=str(env_file))
        assert result.errors == ["TIMEOUT debe ser un número entero, valor actual: 'abc'"]
        assert os.environ["BROWSER"] == "opera" and "TIMEOUT" not in os.environ

    def test_missing_env_file_is_an_error(self, tmp_path):
        assert cs.validate_config(env_file=str(tmp_path / "nope.env")).errors == [
            f"Archivo de entorno no encontrado: {tmp_path / 'nope.env'}"]

    def test_strict_raises_listing_every_error_and_wrong_kinds_are_refused(self, monkeypatch):
        monkeypatch.setenv("BROWSER", "opera")
        monkeypatch.setenv("TIMEOUT", "x")
        with pytest.raises(ValueError) as info:
            cs.validate_config(strict=True)
        assert "BROWSER 'opera'" in str(info.value) and "TIMEOUT" in str(info.value)
        with pytest.raises(TypeError, match="env_file"):
            cs.validate_config(env_file=3)


class TestCommand:
    @pytest.fixture(autouse=True)
    def project_dir(self, monkeypatch, tmp_path):
        # The command reads the nearest .env: run it in a directory that has an empty one.
        (tmp_path / ".env").write_text("")
        monkeypatch.chdir(tmp_path)
        return tmp_path

    def test_prints_every_error_numbered_and_exits_1(self, monkeypatch, capsys):
        for name in ("TIMEOUT", "NAVIGATION_TIMEOUT", "SLOW_MO", "WORKER_TIMEOUT", "PARALLEL_WORKERS",
                     "BROWSER_POOL_SIZE", "MAX_BROWSER_INSTANCES"):
            monkeypatch.setenv(name, "many")
        monkeypatch.setenv("HEADLESS", "1")
        assert cs.main([]) == 1
        out = capsys.readouterr().out
        assert "7 error(es)" in out and "  7. " in out and "WORKER_TIMEOUT" in out
        assert "1 advertencia(s)" in out and "HEADLESS='1'" in out

    def test_exit_status_0_when_clean_and_strict_fails_on_warnings(self, monkeypatch, capsys, tmp_path):
        assert cs.main([]) == 0
        assert "Configuración válida" in capsys.readouterr().out
        env_file = tmp_path / "ci.env"
        env_file.write_text("HEADLESS=on\n")
        assert cs.main(["--env-file", str(env_file)]) == 0
        assert cs.main(["--env-file", str(env_file), "--strict"]) == 1

    def test_nearest_env_file_is_checked_unless_one_is_named(self, monkeypatch, capsys, project_dir):
        # A run started in a sub-folder loads the parent's .env; the check must see it too.
        (project_dir / ".env").write_text("TIMEOUT=abc\n")
        sub = project_dir / "features"
        sub.mkdir()
        monkeypatch.chdir(sub)
        assert cs.find_env_file() == project_dir / ".env"
        assert cs.main([]) == 1
        out = capsys.readouterr().out
        assert f"📄 Archivo de entorno: {project_dir / '.env'}" in out
        assert "TIMEOUT debe ser un número entero, valor actual: 'abc'" in out
        assert os.environ.get("TIMEOUT") is None  # checked, not loaded

        named = project_dir / "ci.env"
        named.write_text("TIMEOUT=10\n")
        assert cs.main(["--env-file", str(named)]) == 0
        assert "Archivo de entorno" not in capsys.readouterr().out


class TestHealingSettings:
    def test_store_and_strict_mode(self, monkeypatch, tmp_path):
        monkeypatch.setenv("SELF_HEALING_STORE", str(tmp_path))
        monkeypatch.setenv("SELF_HEALING_STRICT", "yes")
        result = cs.validate_config()
        assert result.errors == [
            f"SELF_HEALING_STORE debe ser un archivo (o 'off'), no una carpeta: {tmp_path}"]
        assert any("SELF_HEALING_STRICT='yes'" in w for w in result.warnings)
        for fine in ("off", "OFF", str(tmp_path / "new" / "healing.sqlite")):
            monkeypatch.setenv("SELF_HEALING_STORE", fine)
            monkeypatch.setenv("SELF_HEALING_STRICT", "true")
            assert cs.validate_config().errors == []
