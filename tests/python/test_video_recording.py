"""Video recording with Debian's Chromium and Debian's ffmpeg, for real.

Playwright encodes every recording with the ffmpeg it finds under
PLAYWRIGHT_BROWSERS_PATH; scripts/playwright_browsers.py links Debian's there. These
tests prepare such a folder in a temporary directory with that script, record a
page in headless Chromium through FrameworkConfig, and post-process the recording
with the real video manager. Skipped without TARVO_CHROMIUM_EXECUTABLE or ffmpeg.
"""
import importlib.util
import json
import logging
import os
import shutil
import subprocess
import sys
import types
from pathlib import Path

import pytest

CHROMIUM = os.environ.get("TARVO_CHROMIUM_EXECUTABLE", "")
FFMPEG = shutil.which("ffmpeg")
FFPROBE = shutil.which("ffprobe")
ROOT = Path(__file__).resolve().parents[2]

pytestmark = pytest.mark.skipif(not FFMPEG or not FFPROBE, reason="needs Debian's ffmpeg")
needs_chromium = pytest.mark.skipif(not CHROMIUM, reason="needs TARVO_CHROMIUM_EXECUTABLE (source scripts/env.sh)")

PAGE = "data:text/html,<body style='background:white'><h1>Grabaci%C3%B3n</h1></body>"


def load_script():
    module_spec = importlib.util.spec_from_file_location("playwright_browsers", ROOT / "scripts" / "playwright_browsers.py")
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


def probe(path):
    out = subprocess.run([FFPROBE, "-v", "error", "-count_frames", "-select_streams", "v:0",
                          "-show_entries", "stream=codec_name,width,height,nb_read_frames:format=duration",
                          "-of", "json", str(path)], capture_output=True, text=True, check=True).stdout
    data = json.loads(out)
    stream = data["streams"][0]
    return (stream["codec_name"], stream["width"], stream["height"], int(stream["nb_read_frames"]),
            float(data["format"]["duration"]))


def grey(path, seconds):
    """Grey levels (0-255) of the frame at ``seconds`` (negative: from the end), 64x36 pixels."""
    position = ["-sseof", str(seconds)] if seconds < 0 else ["-ss", str(seconds)]
    return subprocess.run([FFMPEG, "-v", "error", "-nostdin", *position, "-i", str(path), "-frames:v", "1",
                           "-vf", "scale=64:36:flags=area,format=gray", "-f", "rawvideo", "-"],
                          capture_output=True, check=True).stdout


def brightness(path, seconds):
    raw = grey(path, seconds)
    return sum(raw) / len(raw)


@pytest.fixture(scope="module")
def browsers_dir(tmp_path_factory):
    """A Playwright browsers folder made by the set-up script, checked on the way."""
    script = load_script()
    folder = tmp_path_factory.mktemp("playwright-browsers")
    (folder / "ffmpeg-1").mkdir()  # left by an older driver
    first = script.prepare(folder, chromium=CHROMIUM, ffmpeg=FFMPEG)
    assert len(first) == 4 and first[-1].startswith("removed ")
    assert script.prepare(folder, chromium=CHROMIUM, ffmpeg=FFMPEG) == []  # all in place: nothing done
    revisions = script.read_revisions(script.browsers_json_path())
    encoder = folder / f"ffmpeg-{revisions['ffmpeg']}"
    assert os.readlink(encoder / "ffmpeg-linux") == FFMPEG and (encoder / "INSTALLATION_COMPLETE").is_file()
    return folder


@pytest.fixture
def recording_config(browsers_dir, tmp_path, monkeypatch):
    """A FrameworkConfig recording 640x360 videos into tmp_path/videos, browser launched."""
    saved = dict(os.environ)
    monkeypatch.chdir(tmp_path)  # no project .env
    schema = types.ModuleType("tarvolab_framework.core.config_schema")
    schema.validate_config = lambda env_file=None, strict=False: types.SimpleNamespace(errors=[], warnings=[])
    monkeypatch.setitem(sys.modules, schema.__name__, schema)
    os.environ.update({"PLAYWRIGHT_BROWSERS_PATH": str(browsers_dir), "TARVO_CHROMIUM_EXECUTABLE": CHROMIUM,
                       "BROWSER": "chromium", "HEADLESS": "true", "RECORD_VIDEO": "true",
                       "VIDEO_DIR": str(tmp_path / "videos"), "VIDEO_SIZE": "640x360", "STEALTH_MODE": "false"})
    from tarvolab_framework.core.runwright import FrameworkConfig
    cfg = FrameworkConfig()
    cfg.setup_playwright()
    try:
        yield cfg, tmp_path / "videos"
    finally:
        cfg.cleanup()
        os.environ.clear()
        os.environ.update(saved)


@needs_chromium
def test_recording_context_writes_a_webm_and_the_intro_copy_is_made(recording_config):
    from tarvolab_framework.core.video_manager import process_videos_with_intro

    cfg, videos = recording_config
    page = cfg.create_page()
    page.goto(PAGE)
    page.wait_for_timeout(300)
    page.context.close()
    recordings = list(videos.glob("*.webm"))
    assert len(recordings) == 1 and recordings[0].stat().st_size > 0
    codec, width, height, frames, _ = probe(recordings[0])
    assert (codec, width, height) == ("vp9", 640, 360) and frames >= 1

    produced = process_videos_with_intro(videos, wait=True)
    intro = recordings[0].with_name(recordings[0].stem + "_intro.mp4")
    assert produced == [str(intro)]
    codec, width, height, frames, duration = probe(intro)
    assert (codec, width, height) == ("h264", 640, 360)
    assert duration >= 2.5 and frames >= 50  # the 2 s card at 25 fps, then the recording
    assert brightness(intro, 1) < 60 and brightness(intro, -0.2) > 200  # dark card first, white page last
    assert sorted(p.name for p in videos.iterdir()) == sorted([recordings[0].name, intro.name])
    assert process_videos_with_intro(videos, wait=True) == []  # up to date: not redone


@needs_chromium
def test_feature_end_finishes_the_recording_before_post_processing(recording_config):
    """The after-feature hook closes pages only (contexts stay open); the recording
    must be complete when it then hands the directory to the video manager."""
    from tarvolab_framework.core import runwright

    from tarvolab_framework.core.video_manager import wait_for_intro_jobs

    cfg, videos = recording_config
    cfg.config["video_mode"] = "on"  # no scenario failed: only "on" keeps the video
    page = cfg.create_page()
    page.goto(PAGE)
    context = types.SimpleNamespace(browser=cfg.browser, page=page, framework_config=cfg,
                                    logger=logging.getLogger("tarvolab_framework"))
    feature = types.SimpleNamespace(name="Pagos / tarjeta")
    runwright.auto_after_feature(context, feature)
    assert context.page is None and len(cfg.browser.contexts) == 1
    assert [p.name for p in videos.glob("*.webm")] == ["Pagos_tarjeta.webm"]  # named after the feature
    assert wait_for_intro_jobs(timeout=120) == []
    intros = list(videos.glob("*_intro.mp4"))
    assert len(intros) == 1 and probe(intros[0])[:3] == ("h264", 640, 360)


def test_any_file_name_becomes_the_title_and_a_missing_font_gives_a_plain_card(tmp_path, monkeypatch):
    from tarvolab_framework.core.video_manager import process_videos_with_intro

    monkeypatch.setenv("VIDEO_SIZE", "320x180")
    source = tmp_path / "white.webm"
    subprocess.run([FFMPEG, "-v", "error", "-nostdin", "-f", "lavfi", "-i", "color=c=white:s=320x180:d=0.5:r=25",
                    "-c:v", "libvpx-vp9", "-deadline", "realtime", str(source)], check=True)
    names = ["it's: 100% [a];b=c,d\\e", "-empieza con guion", "Añadir ñandú %{pts}"]
    titled = tmp_path / "titled"
    titled.mkdir()
    for name in names:
        shutil.copy(source, titled / f"{name}.webm")
    produced = process_videos_with_intro(titled, wait=True)
    assert sorted(produced) == sorted(str(titled / f"{name}_intro.mp4") for name in names)
    assert max(grey(titled / "it's: 100% [a];b=c,d\\e_intro.mp4", 1)) > 100  # white title on black

    plain = tmp_path / "plain"
    plain.mkdir()
    shutil.copy(source, plain / "sin fuente.webm")
    fonts = tmp_path / "fonts.conf"
    fonts.write_text('<?xml version="1.0"?><fontconfig></fontconfig>')
    monkeypatch.setenv("FONTCONFIG_FILE", str(fonts))  # fontconfig then finds no font at all
    assert process_videos_with_intro(plain, wait=True) == [str(plain / "sin fuente_intro.mp4")]
    assert max(grey(plain / "sin fuente_intro.mp4", 1)) == 0 and brightness(plain / "sin fuente_intro.mp4", -0.2) > 200
    assert sorted(p.name for p in plain.iterdir()) == ["sin fuente.webm", "sin fuente_intro.mp4"]  # no work file left
