"""FrameworkConfig through its Python surface, with fake Playwright objects.

The fakes record what the framework hands to Playwright; the real-browser tests
at the end drive Debian's Chromium (skipped when TARVO_CHROMIUM_EXECUTABLE is unset).
"""
import contextlib
import io
import logging
import os
import sys
import time
import types

import pytest

from tarvolab_framework.core import runwright
from tarvolab_framework.core.runwright import FrameworkConfig

HEADLESS_NOTICE = ("ℹ️ HEADLESS=true añade --disable-web-security y --no-sandbox al navegador "
                   "(HEADLESS_WEB_SECURITY=true los deja fuera)")

START_ENV = dict(os.environ)  # before the autouse fixture clears the settings
SCHEMA_MODULE = "tarvolab_framework.core.config_schema"
PREFIXES = ("BROWSER", "HEADLESS", "TIMEOUT", "NAVIGATION_", "VIEWPORT_", "DEVICE_", "SLOW_MO", "CHROME_",
            "FIREFOX_", "WEBKIT_", "RECORD_VIDEO", "VIDEO_", "CLEANUP_", "BASE_URL", "JSON_POMS", "ALLURE_",
            "HTML_REPORTS", "SCREENSHOTS", "DOWNLOADS", "LOG_", "IGNORE_HTTPS", "USER_AGENT", "AUTO_", "RETRY_",
            "MAX_", "STEALTH", "GEOLOCATION", "PARALLEL", "WORKER", "TEST_", "API_BASE", "TARVO_CHROMIUM")


class Result:
    def __init__(self, errors=(), warnings=()):
        self.errors = list(errors)
        self.warnings = list(warnings)


@pytest.fixture(autouse=True)
def isolated(tmp_path, monkeypatch):
    """Clean settings environment, a working directory without .env, and a quiet
    schema validator; os.environ is restored afterwards (load_dotenv writes to it)."""
    saved = dict(os.environ)
    for name in list(os.environ):
        if name.startswith(PREFIXES):
            del os.environ[name]
    work = tmp_path / "work"
    work.mkdir()
    monkeypatch.chdir(work)
    schema = types.ModuleType(SCHEMA_MODULE)
    schema.validate_config = lambda env_file=None, strict=True: Result()
    monkeypatch.setitem(sys.modules, SCHEMA_MODULE, schema)
    yield work
    os.environ.clear()
    os.environ.update(saved)


# ---- fake Playwright ---------------------------------------------------------

class FakePage:
    def __init__(self):
        self.calls = []

    def set_default_timeout(self, ms):
        self.calls.append(("timeout", ms))

    def set_default_navigation_timeout(self, ms):
        self.calls.append(("navigation_timeout", ms))


class FakeContext:
    def __init__(self, options=None):
        self.options = options
        self.calls = []
        self.pages = []

    def new_page(self):
        page = FakePage()
        self.pages.append(page)
        return page

    def set_geolocation(self, value):
        self.calls.append(("set_geolocation", value))

    def grant_permissions(self, value):
        self.calls.append(("grant_permissions", value))


class FakeBrowser:
    def __init__(self, name, options):
        self.name, self.options = name, options
        self.contexts = []
        self.closed = 0

    def new_context(self, **options):
        ctx = FakeContext(options)
        self.contexts.append(ctx)
        return ctx

    def close(self):
        self.closed += 1
        raise RuntimeError("already closed")


class FakeEngine:
    def __init__(self, name, fail_with=None):
        self.name, self.fail_with, self.launches = name, fail_with, []

    def launch(self, **options):
        self.launches.append(dict(options))
        if self.fail_with and self.fail_with(options):
            raise RuntimeError("launch refused: " + self.name)
        return FakeBrowser(self.name, options)


class FakeDriver:
    def __init__(self, chromium_fails=None):
        self.chromium = FakeEngine("chromium", chromium_fails)
        self.firefox = FakeEngine("firefox")
        self.webkit = FakeEngine("webkit")
        self.stopped = 0

    def stop(self):
        self.stopped += 1


@pytest.fixture
def driver(monkeypatch):
    holder = {"driver": FakeDriver()}

    class Manager:
        def start(self):
            return holder["driver"]

    monkeypatch.setattr(runwright, "sync_playwright", lambda: Manager())
    return holder


def launched(cfg):
    return cfg.browser.options


# ---- settings and .env -------------------------------------------------------

def test_defaults_dict_and_attribute_order():
    cfg = FrameworkConfig()
    assert list(vars(cfg)) == ["_validation_result", "config", "playwright", "browser"]
    assert cfg.playwright is None and cfg.browser is None
    c = cfg.config
    assert type(c) is dict and len(c) == 60
    assert list(c)[:3] == ["browser", "headless", "timeout"] and list(c)[-1] == "api_base_url"
    assert c["browser"] == "chromium" and c["headless"] is False
    assert c["viewport_width"] == 1920 and c["viewport_height"] == 1080
    assert c["device_scale_factor"] == 1.0 and isinstance(c["device_scale_factor"], float)
    assert c["browser_args"] == [] and c["webkit_disable_features"] == []
    assert c["geolocation_accuracy"] == 100.0 and c["video_max_age_hours"] == 168
    # Built once: later environment changes do not reach the dict, _load_config sees them.
    os.environ["TIMEOUT"] = "5"
    assert cfg.config["timeout"] == 30000 and cfg._load_config()["timeout"] == 5


def test_setting_kinds_from_environment():
    os.environ.update({"HEADLESS": "TRUE", "RECORD_VIDEO": "1", "BROWSER": "Firefox", "VIEWPORT_WIDTH": "",
                       "BROWSER_ARGS": "--a, --b", "BROWSER_USER_AGENT": "", "USER_AGENT": "ua"})
    c = FrameworkConfig().config
    assert c["headless"] is True and c["record_video"] is False
    assert c["browser"] == "firefox" and c["viewport_width"] == 1920
    assert c["browser_args"] == ["--a", " --b"] and c["user_agent"] == "ua"


@pytest.mark.parametrize("name,value", [("TIMEOUT", "30s"), ("TIMEOUT", ""), ("DEVICE_SCALE_FACTOR", "big"),
                                        ("VIEWPORT_HEIGHT", "tall"), ("VIDEO_MAX_AGE_HOURS", "1.5")])
def test_bad_number_is_value_error_naming_variable(name, value):
    os.environ[name] = value
    with pytest.raises(ValueError) as err:
        FrameworkConfig()
    assert str(err.value).startswith(f"{name}: '{value}' is not a valid")


def test_env_file_must_be_text():
    with pytest.raises(TypeError, match="env_file"):
        FrameworkConfig(env_file=3)


def test_undecodable_os_bytes_survive(isolated):
    # Linux hands Python undecodable bytes of the environment and of file names
    # as lone surrogates; they must come back unchanged, and a bad number with
    # them must still be a ValueError naming its variable.
    os.environ["TEST_EMAIL"] = "caf\udce9"
    os.environ["BROWSER_ARGS"] = "--a=\udcff,--b"
    odd_dir = isolated / "dir\udce9"
    odd_dir.mkdir()
    (odd_dir / ".env").write_text("TEST_PASSWORD=from_odd_dir\n")
    os.chdir(odd_dir)
    cfg = FrameworkConfig()
    assert cfg.config["test_email"] == "caf\udce9" and cfg.config["browser_args"] == ["--a=\udcff", "--b"]
    assert cfg.get_test_data()["password"] == "from_odd_dir"
    named = odd_dir / "x\udcff.env"
    named.write_text("TEST_USER_NAME=named\n")
    assert FrameworkConfig(str(named)).get_test_data()["user_name"] == "named"
    os.environ["TIMEOUT"] = "3\udce9"
    with pytest.raises(ValueError) as err:
        FrameworkConfig()
    assert str(err.value) == "TIMEOUT: '3\udce9' is not a valid integer"


@pytest.mark.parametrize("method,arg", [("_get_preset_config", "preset"), ("_load_config_file", "config_file"),
                                        ("_cleanup_old_videos", "video_dir")])
def test_none_is_refused_naming_the_argument(method, arg):
    with pytest.raises(TypeError, match=f"argument '{arg}' must be .*, not NoneType"):
        getattr(FrameworkConfig(), method)(None)


def test_dotenv_nearest_ancestor_wins_and_beats_shell(isolated):
    grand = isolated.parent
    parent = isolated / "parent"
    cwd = parent / "child"
    cwd.mkdir(parents=True)
    (grand / ".env").write_text("BROWSER=webkit\nSLOW_MO=7\n")
    (parent / ".env").write_text("BROWSER=firefox\nHEADLESS=true\n")
    os.environ["HEADLESS"] = "false"
    os.chdir(cwd)
    c = FrameworkConfig().config
    assert c["browser"] == "firefox" and c["headless"] is True
    assert c["slow_mo"] == 0  # the grandparent's file is not read


def test_explicit_env_file_skips_search(isolated, monkeypatch):
    (isolated / ".env").write_text("BROWSER=webkit\n")
    named = isolated / "custom.env"
    named.write_text("BROWSER=firefox\n")
    loaded = []
    real = runwright.load_dotenv
    monkeypatch.setattr(runwright, "load_dotenv", lambda path, override=False: loaded.append((path, override))
                        or real(path, override=override))
    assert FrameworkConfig(str(named)).config["browser"] == "firefox"
    assert loaded == [(str(named), True)]
    # A missing named file is the loader's business: no search, no error here.
    loaded.clear()
    del os.environ["BROWSER"]
    assert FrameworkConfig(str(isolated / "absent.env")).config["browser"] == "chromium"
    assert loaded == [(str(isolated / "absent.env"), True)]
    # An empty name means: search.
    loaded.clear()
    assert FrameworkConfig("").config["browser"] == "webkit"
    assert loaded == [(str(isolated / ".env"), True)]


# ---- validation report -------------------------------------------------------

def schema_returning(monkeypatch, result, seen=None):
    def validate_config(env_file=None, strict=True):
        if seen is not None:
            seen.append((env_file, strict))
        if isinstance(result, BaseException):
            raise result
        return result

    monkeypatch.setattr(sys.modules[SCHEMA_MODULE], "validate_config", validate_config)


def test_validation_errors_report(monkeypatch, capsys):
    seen = []
    result = Result([f"e{i}" for i in range(1, 8)], ["w1"])
    schema_returning(monkeypatch, result, seen)
    cfg = FrameworkConfig()
    assert cfg._validation_result is result and seen == [(None, False)]
    assert capsys.readouterr().out == (
        "\n⚠️  Configuración: 7 problema(s) detectado(s):\n" + "".join(f"   • e{i}\n" for i in range(1, 6))
        + "   ... y 2 más. Ejecuta 'tarvo-validate' para ver todos.\n\n")

    schema_returning(monkeypatch, Result([f"e{i}" for i in range(5)]))
    cfg._validate_environment("x.env")
    assert "   ... y" not in capsys.readouterr().out

    os.environ["LOG_LEVEL"] = "eRRoR"
    assert cfg._validate_environment(None) is not None
    assert capsys.readouterr().out == ""


def test_validation_warnings_only_at_debug(monkeypatch, capsys):
    schema_returning(monkeypatch, Result([], ["w1", "w2", "w3", "w4"]))
    cfg = FrameworkConfig()
    assert capsys.readouterr().out == ""
    os.environ["LOG_LEVEL"] = "debug"
    cfg._validate_environment(None)
    assert capsys.readouterr().out == "   ℹ️  w1\n   ℹ️  w2\n   ℹ️  w3\n"


class Unprintable(Exception):
    def __str__(self):
        raise RuntimeError("no text")


@pytest.mark.parametrize("problem", ["absent", "raises", "no_members", "unprintable"])
def test_validation_skipped_quietly(problem, monkeypatch, capsys, caplog):
    if problem == "absent":
        monkeypatch.setitem(sys.modules, SCHEMA_MODULE, None)  # import fails
    else:
        failures = {"raises": RuntimeError("boom"), "unprintable": Unprintable()}
        schema_returning(monkeypatch, failures.get(problem, object()))
    with caplog.at_level(logging.DEBUG, logger="tarvolab_framework.core.runwright"):
        cfg = FrameworkConfig()
    assert cfg._validation_result is None and len(cfg.config) == 60
    assert capsys.readouterr().out == ""
    msgs = [r.getMessage() for r in caplog.records if r.name == "tarvolab_framework.core.runwright"]
    assert len(msgs) == 1 and msgs[0].startswith("Config validation skipped: ")


def test_interrupt_is_not_absorbed_by_the_guards(monkeypatch, driver, capsys):
    # The optional steps absorb failures of the work, not a Ctrl-C.
    schema_returning(monkeypatch, KeyboardInterrupt())
    with pytest.raises(KeyboardInterrupt):
        FrameworkConfig()
    schema_returning(monkeypatch, Result())
    os.environ["BROWSER"] = "chrome"
    cfg = FrameworkConfig()

    def interrupted(**options):
        raise KeyboardInterrupt

    driver["driver"].chromium.launch = interrupted
    with pytest.raises(KeyboardInterrupt):
        cfg.setup_playwright()
    assert capsys.readouterr().out == ""


# ---- browser launch ----------------------------------------------------------

def test_default_chromium_launch(driver, capsys):
    cfg = FrameworkConfig()
    browser = cfg.setup_playwright()
    assert browser is cfg.browser and cfg.playwright is driver["driver"]
    assert driver["driver"].chromium.launches == [{"headless": False, "slow_mo": 0, "downloads_path": "downloads",
                                                   "args": ["--disable-extensions", "--disable-plugins"]}]
    assert capsys.readouterr().out == "🌐 Usando Chromium\n"


def test_debian_chromium_executable_only_without_channel(driver, capsys):
    os.environ["TARVO_CHROMIUM_EXECUTABLE"] = "/usr/lib/chromium/chromium"
    cfg = FrameworkConfig()
    cfg.setup_playwright()
    assert launched(cfg)["executable_path"] == "/usr/lib/chromium/chromium"
    cfg.config["browser"] = "firefox"
    cfg.setup_playwright()
    assert "executable_path" not in launched(cfg)


def test_headless_firefox_arguments_and_proxy(driver, capsys, monkeypatch):
    os.environ.update({"HEADLESS": "true", "BROWSER": "firefox", "BROWSER_PROXY": "http://proxy:3128",
                       "DOWNLOADS_DIR": ""})
    monkeypatch.setattr(runwright, "_headless_notice_shown", False)
    cfg = FrameworkConfig()
    cfg.setup_playwright()
    opts = launched(cfg)
    assert "downloads_path" not in opts and opts["headless"] is True
    assert opts["args"] == ["--safe-mode", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                            "--disable-web-security", "--disable-features=VizDisplayCompositor",
                            "--max_old_space_size=4096", "--proxy-server=http://proxy:3128"]
    # Said once at run start, not at every launch.
    cfg.setup_playwright()
    assert driver["driver"].chromium.launches == [] and capsys.readouterr().out == HEADLESS_NOTICE + "\n"


def test_headless_web_security_keeps_sandbox_and_same_origin(driver, capsys, monkeypatch):
    os.environ.update({"HEADLESS": "true", "HEADLESS_WEB_SECURITY": "true", "BROWSER": "firefox"})
    monkeypatch.setattr(runwright, "_headless_notice_shown", False)
    cfg = FrameworkConfig()
    cfg.setup_playwright()
    args = launched(cfg)["args"]
    assert "--no-sandbox" not in args and "--disable-web-security" not in args
    assert "--disable-gpu" in args
    assert HEADLESS_NOTICE not in capsys.readouterr().out


def test_headless_web_security_stays_out_of_the_settings_dictionary(driver, capsys, monkeypatch):
    # The dictionary has its 60 fixed keys; the launch reads the variable itself,
    # at each launch, through its row of the settings table.
    os.environ.update({"HEADLESS": "true", "BROWSER": "firefox"})
    monkeypatch.setattr(runwright, "_headless_notice_shown", False)
    cfg = FrameworkConfig()
    assert "headless_web_security" not in cfg.config and len(cfg.config) == 60
    assert "headless_web_security" not in cfg._load_config()
    os.environ["HEADLESS_WEB_SECURITY"] = "true"
    cfg.setup_playwright()
    args = launched(cfg)["args"]
    assert "--no-sandbox" not in args and "--disable-web-security" not in args
    assert HEADLESS_NOTICE not in capsys.readouterr().out


def test_argument_sources_in_order(driver, tmp_path, capsys):
    flags = tmp_path / "flags.json"
    flags.write_text('{"args": ["--from-file"], "other": true}')
    os.environ.update({"BROWSER_ARGS": " --one ,, --two", "BROWSER_CONFIG_PRESET": "cicd",
                       "BROWSER_CONFIG_FILE": str(flags)})
    cfg = FrameworkConfig()
    cfg.setup_playwright()
    args = launched(cfg)["args"]
    assert args[:2] == ["--one", "--two"] and args[2] == "--no-sandbox" and args[17] == "--from-file"
    assert args.count("--disable-extensions") == 2 and args.count("--disable-plugins") == 2
    assert cfg._get_preset_config("CICD") == [] and len(cfg._get_preset_config("performance")) == 12
    with pytest.raises(TypeError, match="preset"):
        cfg._get_preset_config(None)


@pytest.mark.parametrize("text,message", [('["--a"]', "not a JSON object"), (None, "No such file or directory")])
def test_bad_flag_file_reports_and_launch_goes_on(text, message, driver, tmp_path, capsys):
    path = tmp_path / "flags.json"
    if text is not None:
        path.write_text(text)
    os.environ["BROWSER_CONFIG_FILE"] = str(path)
    cfg = FrameworkConfig()
    cfg.setup_playwright()
    assert launched(cfg)["args"] == ["--disable-extensions", "--disable-plugins"]
    first = capsys.readouterr().out.splitlines()[0]
    assert first.startswith(f"⚠️ Error cargando archivo de configuración {path}: ") and message in first


class StrictStdout(io.TextIOWrapper):
    """A stdout that, like a UTF-8 terminal or pipe with errors=strict, raises on
    text that cannot be encoded (lone surrogates). Installed inside the test body,
    since the runner's own capture replaces sys.stdout around fixtures."""

    def __init__(self):
        self.raw_bytes = io.BytesIO()
        super().__init__(self.raw_bytes, encoding="utf-8", errors="strict", line_buffering=True)

    def text(self):
        self.flush()
        return self.raw_bytes.getvalue().decode("utf-8")


@pytest.mark.parametrize("content,reason", [
    (b'{"args": ' + b"[" * 100_000 + b"]" * 100_000 + b"}", "nested deeper than 64 levels"),
    (b'{"args": ["--from-file"]}\x00', "NUL byte at offset 25"),
    (b'{"args": ["--a\xff\xfe"]}', "\\xff"),
], ids=["deep-nesting", "trailing-nul", "invalid-utf8"])
def test_hostile_flag_file_is_reported_and_run_start_goes_on(content, reason, driver, tmp_path):
    path = tmp_path / "flags.json"
    path.write_bytes(content)
    os.environ["BROWSER_CONFIG_FILE"] = str(path)
    cfg = FrameworkConfig()
    with contextlib.redirect_stdout(StrictStdout()) as out:
        cfg.setup_playwright()
    assert launched(cfg)["args"] == ["--disable-extensions", "--disable-plugins"]
    first = out.text().splitlines()[0]
    assert first.startswith(f"⚠️ Error cargando archivo de configuración {path}: ") and reason in first


def test_flag_file_that_never_ends_is_refused(driver, capsys):
    os.environ["BROWSER_CONFIG_FILE"] = "/dev/zero"
    cfg = FrameworkConfig()
    cfg.setup_playwright()
    assert launched(cfg)["args"] == ["--disable-extensions", "--disable-plugins"]
    assert capsys.readouterr().out.splitlines()[0] == (
        "⚠️ Error cargando archivo de configuración /dev/zero: '/dev/zero' is not a regular file")


def test_flag_file_path_that_is_not_utf8_prints_on_a_strict_stdout(tmp_path):
    path = os.fsdecode(os.fsencode(str(tmp_path)) + b"/fl\xffags.json")  # holds the surrogate \udcff
    with contextlib.redirect_stdout(StrictStdout()) as out:
        assert FrameworkConfig()._load_config_file(path) == []
    assert "fl\\xffags.json: [Errno 2] No such file or directory" in out.text()


def test_flag_file_null_args_mean_none(tmp_path, capsys):
    path = tmp_path / "flags.json"
    path.write_text('{"args": null}')
    assert FrameworkConfig()._load_config_file(str(path)) == []
    assert capsys.readouterr().out == ""


def test_chrome_channel_falls_back_to_chromium(driver, capsys):
    os.environ["TARVO_CHROMIUM_EXECUTABLE"] = "/usr/bin/chromium"
    driver["driver"] = FakeDriver(chromium_fails=lambda o: o.get("channel") == "chrome")
    os.environ["BROWSER"] = "chrome"
    cfg = FrameworkConfig()
    cfg.setup_playwright()
    first, second = driver["driver"].chromium.launches
    assert first["channel"] == "chrome" and "executable_path" not in first
    assert "channel" not in second and second["executable_path"] == "/usr/bin/chromium"
    assert capsys.readouterr().out == ("⚠️ No se pudo iniciar Chrome instalado: launch refused: chromium\n"
                                       "🔄 Usando Chromium como alternativa\n")


def test_chrome_channel_success_and_unknown_engine(driver, capsys):
    os.environ["BROWSER"] = "chrome"
    cfg = FrameworkConfig()
    cfg.setup_playwright()
    assert launched(cfg)["channel"] == "chrome"
    assert capsys.readouterr().out == "🌐 Usando Google Chrome instalado en el sistema\n"
    cfg.config["browser"] = "edge"
    cfg.setup_playwright()
    assert "args" not in launched(cfg) and capsys.readouterr().out == ""


def test_launch_failure_propagates_keeping_driver(driver):
    cfg = FrameworkConfig()
    cfg.config["slow_mo"] = "fast"  # a bad edited value fails before the driver starts
    with pytest.raises(ValueError, match=r"config\['slow_mo'\]: 'fast' is not a valid integer"):
        cfg.setup_playwright()
    assert cfg.playwright is None

    class LaunchError(Exception):
        pass

    def refuse(**options):
        raise LaunchError("no display")

    cfg.config["slow_mo"] = 0
    driver["driver"].chromium.launch = refuse
    with pytest.raises(LaunchError, match="^no display$"):
        cfg.setup_playwright()
    assert cfg.playwright is driver["driver"] and cfg.browser is None


def test_relaunch_reuses_a_live_driver_and_replaces_a_dead_one(driver):
    cfg = FrameworkConfig()
    cfg.setup_playwright()
    first, dead = cfg.playwright, cfg.browser
    fresh = cfg.relaunch_browser()  # the dead browser's close fails: forgotten all the same
    assert dead.closed == 1 and fresh is cfg.browser and fresh is not dead
    assert cfg.playwright is first and first.stopped == 0 and len(first.chromium.launches) == 2

    class Gone(Exception):
        pass

    def gone(**options):
        raise Gone("Connection closed")

    first.chromium.launch = gone  # the driver died with the browser
    second = FakeDriver()
    driver["driver"] = second
    fresh = cfg.relaunch_browser()
    assert first.stopped == 1 and cfg.playwright is second and cfg.browser is fresh
    assert len(second.chromium.launches) == 1

    second.chromium.launch = gone
    with pytest.raises(Gone, match="^Connection closed$"):  # the new driver's failure, unchanged
        cfg.relaunch_browser()
    assert cfg.browser is None


def test_relaunch_with_a_bad_setting_keeps_the_driver(driver):
    cfg = FrameworkConfig()
    cfg.setup_playwright()
    cfg.config["slow_mo"] = "fast"
    with pytest.raises(ValueError, match=r"config\['slow_mo'\]: 'fast' is not a valid integer"):
        cfg.relaunch_browser()
    assert cfg.playwright is driver["driver"] and driver["driver"].stopped == 0


def test_subclass_overrides_are_used():
    class Project(FrameworkConfig):
        def _load_config(self):
            settings = super()._load_config()
            settings["project_key"] = "extra"
            return settings

    cfg = Project()
    assert cfg.config["project_key"] == "extra" and cfg.get_test_data()["email"] == ""


# ---- contexts and pages ------------------------------------------------------

@pytest.fixture
def cfg_with_browser():
    cfg = FrameworkConfig()
    cfg.browser = FakeBrowser("chromium", {})
    return cfg


def test_context_defaults_and_no_browser(cfg_with_browser):
    ctx = cfg_with_browser.create_context()
    assert ctx.options == {"viewport": {"width": 1920, "height": 1080}, "device_scale_factor": 1.0,
                           "ignore_https_errors": False}
    with pytest.raises(TypeError, match="custom_options"):
        cfg_with_browser.create_context(["viewport"])
    cfg_with_browser.browser = None
    with pytest.raises(RuntimeError, match=r"^Browser not initialized\. Call setup_playwright\(\) first\.$"):
        cfg_with_browser.create_context()


def test_maximised_window_and_caller_wins(cfg_with_browser):
    cfg_with_browser.config["browser_args"] = ["--start-maximized"]
    assert cfg_with_browser.create_context().options == {"ignore_https_errors": False, "no_viewport": True}
    custom = {"viewport": {"width": 10, "height": 20}, "locale": "es-ES"}
    opts = cfg_with_browser.create_context(custom).options
    assert opts["viewport"] == {"width": 10, "height": 20} and opts["locale"] == "es-ES" and opts["no_viewport"]


def test_record_video_context(cfg_with_browser, isolated):
    cfg_with_browser.config.update(record_video=True, user_agent="bot/1")
    opts = cfg_with_browser.create_context().options
    assert opts["record_video_dir"] == "videos" and opts["record_video_size"] == {"width": 1280, "height": 720}
    assert opts["user_agent"] == "bot/1" and (isolated / "videos").is_dir()
    cfg_with_browser.config.update(video_size="1280", video_dir="other")
    with pytest.raises(ValueError, match="video_size: '1280'"):
        cfg_with_browser.create_context()
    assert not (isolated / "other").exists() and len(cfg_with_browser.browser.contexts) == 1


def test_geolocation_and_permission_union(cfg_with_browser):
    cfg_with_browser.config.update(geolocation_enabled=True, geolocation_latitude=40.4)
    custom = {"permissions": ["geolocation", "camera"]}
    opts = cfg_with_browser.create_context(custom).options
    assert opts["geolocation"] == {"latitude": 40.4, "longitude": 0.0, "accuracy": 100.0}
    assert sorted(opts["permissions"]) == ["camera", "geolocation"]
    assert custom == {"permissions": ["geolocation", "camera"]}  # caller's map untouched
    cfg_with_browser.config["geolocation_enabled"] = False
    opts = cfg_with_browser.create_context({"permissions": ["clipboard-read"]}).options
    assert opts["permissions"] == ["clipboard-read"] and "geolocation" not in opts


def test_create_page_existing_and_new_context(cfg_with_browser):
    existing = FakeContext()
    page = cfg_with_browser.create_page(existing, {"viewport": {"width": 1, "height": 1}})
    assert existing.calls == [] and existing.pages == [page] and cfg_with_browser.browser.contexts == []
    cfg_with_browser.create_page(existing, {"permissions": ["camera"], "geolocation": {"latitude": 1}})
    assert existing.calls == [("set_geolocation", {"latitude": 1}), ("grant_permissions", ["camera"])]

    cfg_with_browser.config["timeout"] = 5000
    page = cfg_with_browser.create_page()
    assert len(cfg_with_browser.browser.contexts) == 1
    assert page.calls == [("timeout", 5000), ("navigation_timeout", 30000)]
    with pytest.raises(TypeError, match="custom_context_options"):
        cfg_with_browser.create_page(None, "x")


@pytest.mark.parametrize("variant,expected", [
    ("missing", "⚠️ playwright-stealth no está instalado. Ejecuta: pip install playwright-stealth"),
    ("v1", "🥷 Modo stealth activado - Propiedades de automatización ocultas"),
    ("v2", "🥷 Modo stealth activado - Propiedades de automatización ocultas"),
    ("broken", "⚠️ Error activando modo stealth: patch failed")])
def test_stealth_messages(variant, expected, cfg_with_browser, monkeypatch, capsys):
    patched = []
    if variant == "missing":
        monkeypatch.setitem(sys.modules, "playwright_stealth", None)
    else:
        mod = types.ModuleType("playwright_stealth")
        if variant == "v1":
            mod.stealth_sync = patched.append
        elif variant == "v2":
            mod.Stealth = lambda: types.SimpleNamespace(apply_stealth_sync=patched.append)
        else:
            def stealth_sync(page):
                raise RuntimeError("patch failed")
            mod.stealth_sync = stealth_sync
        monkeypatch.setitem(sys.modules, "playwright_stealth", mod)
    cfg_with_browser.config["stealth_mode"] = True
    page = cfg_with_browser.create_page()
    assert isinstance(page, FakePage) and capsys.readouterr().out == expected + "\n"
    assert patched == ([page] if variant in ("v1", "v2") else [])


# ---- logging, test data, clean-up --------------------------------------------

def test_setup_logging_single_handler():
    logger = logging.getLogger("tarvolab_framework")
    saved = (logger.handlers[:], logger.level)
    logger.handlers.clear()
    try:
        cfg = FrameworkConfig()
        cfg.config["log_level"] = "debug"
        assert cfg.setup_logging() is logger and logger.level == logging.DEBUG
        cfg.config["log_level"] = "VERBOSE"
        cfg.setup_logging()
        assert logger.level == logging.WARNING and len(logger.handlers) == 1
        handler = logger.handlers[0]
        assert type(handler) is logging.StreamHandler and handler.level == logging.DEBUG
        assert handler.formatter._fmt == "%(asctime)s - %(name)s - %(levelname)s - %(message)s"
        del cfg.config["log_level"]
        cfg.setup_logging()
        assert logger.level == logging.WARNING
    finally:
        logger.handlers[:] = saved[0]
        logger.setLevel(saved[1])


def test_test_data():
    os.environ.update({"TEST_EMAIL": "a@b.c", "BASE_URL": "http://x"})
    cfg = FrameworkConfig()
    data = cfg.get_test_data()
    assert data == {"email": "a@b.c", "password": "", "user_name": "", "api_base_url": "", "base_url": "http://x"}
    data["email"] = "changed"
    del cfg.config["test_password"]
    assert cfg.get_test_data()["email"] == "a@b.c" and cfg.get_test_data()["password"] == ""


def test_video_cleanup(tmp_path, capsys):
    tmp_path = tmp_path / "videos"
    tmp_path.mkdir()
    old = time.time() - 200 * 3600
    for name, mtime in [("base.mp4", old), ("run.webm", old), ("fresh.mp4", time.time()), ("notes.txt", old)]:
        (tmp_path / name).write_text("x")
        os.utime(tmp_path / name, (mtime, mtime))
    cfg = FrameworkConfig()
    cfg._cleanup_old_videos(str(tmp_path))
    assert capsys.readouterr().out == "🧹 Videos antiguos eliminados: 1 archivos\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["base.mp4", "fresh.mp4", "notes.txt"]

    os.utime(tmp_path / "fresh.mp4", (time.time() - 5, time.time() - 5))
    cfg.config["video_max_age_hours"] = 0
    cfg._cleanup_old_videos(tmp_path)  # a Path works as well
    assert capsys.readouterr().out == "🧹 Videos antiguos eliminados: 1 archivos\n"
    cfg._cleanup_old_videos(str(tmp_path / "absent"))
    del cfg.config["video_max_age_hours"]
    cfg._cleanup_old_videos(str(tmp_path))
    assert capsys.readouterr().out == "⚠️ Error limpiando videos antiguos: 'video_max_age_hours'\n"


def test_cleanup_twice_never_fails(driver):
    cfg = FrameworkConfig()
    cfg.cleanup()
    cfg.setup_playwright()
    browser, drv = cfg.browser, cfg.playwright
    cfg.cleanup()  # the fake close() raises: ignored
    cfg.cleanup()
    assert browser.closed == 1 and drv.stopped == 1 and cfg.browser is None and cfg.playwright is None


# ---- real browser ------------------------------------------------------------

real_chromium = pytest.mark.skipif(not START_ENV.get("TARVO_CHROMIUM_EXECUTABLE"),
                                   reason="TARVO_CHROMIUM_EXECUTABLE not set (source scripts/env.sh)")


@real_chromium
@pytest.mark.parametrize("engine", ["chromium", "chrome"])
def test_real_browser_smoke(engine, capsys, monkeypatch):
    exe = START_ENV["TARVO_CHROMIUM_EXECUTABLE"]
    os.environ.update({"HEADLESS": "true", "BROWSER": engine, "TARVO_CHROMIUM_EXECUTABLE": exe})
    monkeypatch.setattr(runwright, "_headless_notice_shown", True)
    cfg = FrameworkConfig()
    try:
        cfg.setup_playwright()
        page = cfg.create_page()
        page.goto("about:blank")
        assert page.url == "about:blank" and page.viewport_size == {"width": 1920, "height": 1080}
    finally:
        cfg.cleanup()
    out = capsys.readouterr().out.splitlines()
    if engine == "chrome":  # no Google Chrome on these machines
        assert out[0].startswith("⚠️ No se pudo iniciar Chrome instalado: ")
        assert "🔄 Usando Chromium como alternativa" in out
    else:
        assert out == ["🌐 Usando Chromium"]
    assert cfg.browser is None and cfg.playwright is None

