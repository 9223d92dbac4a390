"""Environment variables holding bytes that are not UTF-8 (os.environ keeps them as
surrogate escapes) give clear errors naming the variable, not a failed conversion."""
import os

import pytest

from tarvolab_framework.core import runwright


@pytest.fixture
def clean_cwd(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    return tmp_path


def test_undecodable_number_names_the_variable(clean_cwd, monkeypatch):
    monkeypatch.setitem(os.environ, "TIMEOUT", b"30\xff".decode("utf-8", "surrogateescape"))
    with pytest.raises(ValueError) as err:
        runwright.FrameworkConfig()
    # The value comes back exactly as the environment holds it.
    assert str(err.value).startswith("TIMEOUT: '30\udcff'")


def test_undecodable_flag_is_simply_not_true(clean_cwd, monkeypatch):
    monkeypatch.setitem(os.environ, "HEADLESS", b"tru\xe9".decode("utf-8", "surrogateescape"))
    cfg = runwright.FrameworkConfig()
    assert cfg.config["headless"] is False


def test_undecodable_retry_count_names_the_variable(monkeypatch):
    monkeypatch.setitem(os.environ, "MAX_SCENARIO_RETRIES", b"\xff".decode("utf-8", "surrogateescape"))
    context = type("Context", (), {})()
    with pytest.raises(ValueError, match="MAX_SCENARIO_RETRIES"):
        runwright.auto_after_all(context)


@pytest.mark.parametrize("raw", [b"\xc1\x80", b"\xed\xa0\x80", b"\xf4\x90\x80\x80"],
                         ids=["overlong", "encoded-surrogate", "above-unicode"])
def test_bytes_python_refuses_as_utf8_still_give_value_errors(raw, monkeypatch):
    # Byte sequences that look like UTF-8 but that Python's decoder refuses must
    # be escaped in the message too, or the ValueError turns into a decoding error.
    from tarvolab_framework.core.locmender import Locmender
    value = raw.decode("utf-8", "surrogateescape")
    monkeypatch.setitem(os.environ, "SELF_HEALING_MAX_RETRIES", value)
    with pytest.raises(ValueError, match="SELF_HEALING_MAX_RETRIES") as err:
        Locmender()
    assert not isinstance(err.value, UnicodeError)
    monkeypatch.delitem(os.environ, "SELF_HEALING_MAX_RETRIES")
    monkeypatch.setitem(os.environ, "MAX_SCENARIO_RETRIES", value)
    with pytest.raises(ValueError, match="MAX_SCENARIO_RETRIES") as err:
        runwright.auto_after_all(type("Context", (), {})())
    assert not isinstance(err.value, UnicodeError)
