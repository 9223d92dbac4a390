"""What the command and its workers say to each other.

The command writes one JSON line per request on the worker's standard input:
``{"path": FILE, "lines": [LINE, ...] | null}`` runs that feature (only the
scenarios at those lines when given); an empty line ends the worker.

The worker's standard output and standard error share one pipe. Its reports
travel on that pipe as whole lines that start with :data:`MARK` followed by a
JSON object, written after flushing everything printed before them, so the
command can cut the stream into one block of output per feature:

- ``{"event": "next"}``: ready for a feature (after the run start, or after a
  feature ended);
- ``{"event": "scenario", "record": {...}, "analysis": {...}}``: one scenario
  finished;
- ``{"event": "feature", "path": FILE, "duration": SECONDS}``: the feature ended;
- ``{"event": "browser_lost"}``: the worker's browser is gone; the worker ends
  and the command starts another one for the remaining features;
- ``{"event": "healing", "entries": [...], "summary": {...}}``: the worker's
  self-healing log, just before it exits.
"""

import json

MARK = "\x1eTARVO-WORKER "
MARK_BYTES = MARK.encode("utf-8")


def encode(event: dict) -> str:
    return MARK + json.dumps(event, ensure_ascii=False, default=str) + "\n"


def decode(line: bytes):
    """The event of a report line, or None for an ordinary output line."""
    if not line.startswith(MARK_BYTES):
        return None
    try:
        return json.loads(line[len(MARK_BYTES):].decode("utf-8", "replace"))
    except ValueError:
        return None
