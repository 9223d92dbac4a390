"""Benchmark: how long the feature end keeps the run waiting for the video intro copies.

After each feature the lifecycle hands the video folder to the video manager, which
makes an ``<name>_intro.mp4`` copy (a 2 s title card, then the recording) of each
kept recording. Two ways, measured side by side in one process on the same
recordings (made here with ffmpeg's test source, the size Playwright records at):

1. before: the copies are made in the feature end itself (``wait=True``; libx264
   preset "veryfast", as the manager used to), so the run waits for every encode;
2. now: the feature end queues them (``wait=False``; preset "ultrafast") and a
   background worker encodes while the next feature runs; the run end waits for
   whatever is left.

Printed: the time the feature end blocks in each way, the total encode time, and the
ratios. Rounds alternate between the two so that drift of the shared machine affects
both alike.

    .venv/bin/python bench/video_intro.py [--features 4] [--seconds 6] [--rounds 2]

Not part of the test suite.
"""
import argparse
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from tarvolab_framework.core import video_manager


def make_recording(ffmpeg, target, seconds, size):
    subprocess.run([ffmpeg, "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-f", "lavfi",
                    "-i", f"testsrc=size={size}:rate=25:duration={seconds}",
                    "-c:v", "libvpx", "-b:v", "1M", "-deadline", "realtime", str(target)], check=True)


def one_round(ffmpeg, sources, folder, background, preset):
    """Feature ends in a row, one recording each; returns (blocked seconds, total seconds)."""
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    original = video_manager._intro_command

    def with_preset(*args, **kwargs):
        cmd = original(*args, **kwargs)
        cmd[cmd.index("-preset") + 1] = preset
        return cmd

    video_manager._intro_command = with_preset
    try:
        blocked = 0.0
        started = time.perf_counter()
        for source in sources:
            shutil.copyfile(source, folder / source.name)  # the feature's kept video appears
            t = time.perf_counter()
            video_manager.process_videos_with_intro(folder, ffmpeg=ffmpeg, wait=not background)
            blocked += time.perf_counter() - t
            time.sleep(0.5)  # the next feature's scenarios would run here
        t = time.perf_counter()
        failures = video_manager.wait_for_intro_jobs(timeout=600)
        blocked_at_end = time.perf_counter() - t
        total = time.perf_counter() - started
    finally:
        video_manager._intro_command = original
    made = len(list(folder.glob("*_intro.mp4")))
    if failures or made != len(sources):
        sys.exit(f"intro copies failed: {failures} ({made} of {len(sources)} made)")
    return blocked, blocked_at_end, total


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--features", type=int, default=4)
    parser.add_argument("--seconds", type=int, default=6, help="length of each recording")
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--size", default="1280x720")
    args = parser.parse_args()
    ffmpeg = shutil.which("ffmpeg")
    if not ffmpeg:
        sys.exit("ffmpeg is not on PATH")

    work = Path(tempfile.mkdtemp(prefix="bench-video-intro-"))
    try:
        sources = []
        for number in range(1, args.features + 1):
            source = work / "sources" / f"feature_{number}.webm"
            source.parent.mkdir(parents=True, exist_ok=True)
            make_recording(ffmpeg, source, args.seconds, args.size)
            sources.append(source)

        before, now = [], []
        for _ in range(args.rounds):
            before.append(one_round(ffmpeg, sources, work / "before", background=False, preset="veryfast"))
            now.append(one_round(ffmpeg, sources, work / "now", background=True, preset="ultrafast"))

        def median(rows, index):
            return statistics.median(r[index] for r in rows)

        b_block, n_block = median(before, 0), median(now, 0)
        n_end, b_total, n_total = median(now, 1), median(before, 2), median(now, 2)
        print(f"{args.features} features, one {args.seconds} s {args.size} recording each, "
              f"median of {args.rounds} round(s)")
        print(f"feature ends blocked, before (in the hook, veryfast): {b_block:7.2f} s "
              f"({b_block / args.features:.2f} s per feature)")
        print(f"feature ends blocked, now (queued, ultrafast):        {n_block:7.3f} s "
              f"({n_block / args.features * 1000:.1f} ms per feature)")
        print(f"run end waiting for the rest of the queue, now:       {n_end:7.2f} s")
        print(f"wall time of the whole sequence: before {b_total:.2f} s, now {n_total:.2f} s "
              f"(ratio {b_total / n_total:.2f}x)")
        print(f"time the features wait, before / now: {b_block / max(n_block, 1e-6):.0f}x; "
              f"including the run-end wait: {b_block / max(n_block + n_end, 1e-6):.2f}x")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
