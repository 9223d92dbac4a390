"""A headless Debian Chromium for the test modules that drive real pages: the
executable, a browser per module and a fresh page per test. Import the fixtures
into the test module (``from chromium_page import CHROMIUM, browser, page``)."""
import os
import shutil

import pytest

CHROMIUM = os.environ.get("TARVO_CHROMIUM_EXECUTABLE") or next(
    (c for c in ("/usr/lib/chromium/chromium", "/usr/bin/chromium") if shutil.which(c)), None)


@pytest.fixture(scope="module")
def browser():
    from playwright.sync_api import sync_playwright

    with sync_playwright() as driver:
        browser = driver.chromium.launch(executable_path=CHROMIUM, headless=True)
        yield browser
        browser.close()


@pytest.fixture
def page(browser):
    page = browser.new_page()
    yield page
    page.close()
