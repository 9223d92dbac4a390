"""Heal speed: what a heal costs beyond the model, and what recording costs per find.

The pages are real: the new releases of the applications the healing benchmark
serves (``bench/healing/healing_apps.py``, installed into ``build/healing-bench``)
rendered in headless Chromium, plus one synthetic hostile page (10,000 elements,
1 MB attributes, lone surrogates). On each page every element of the healing
benchmark's answer list is found once through a page object (which records its
fingerprint), then the page object's selector is broken and the element is found
again, which heals it. Two kinds of heal:

* ``same``: the element is as recorded (the fingerprint heal accepts it);
* ``changed``: the recorded fingerprint is altered first (id renamed, classes
  hashed, text reworded), as after a new release; many of these go on to the model.

The model always answers nothing; the broken selector is waited for 50 ms and that
wait (measured on the page the same way) is taken out. What is left is the heal's own
time: reading the page, scoring, building and verifying selectors, the HTML excerpt.
It is printed beside one plain ``page.evaluate`` round trip on the same page, since
on a loaded machine both grow together.

Before and after in one run: ``--before-python`` names the interpreter of another
installation of the package (for example ``/work/main/.venv/bin/python``); the same
measurement runs there first and both are printed side by side.

    source scripts/env.sh && nice .venv/bin/python bench/heal_speed.py \
        [--before-python PATH] [--apps django,datasette] [--repeat 1] [--json FILE]

Not part of the test suite.
"""
from __future__ import annotations

import argparse
import contextlib
import io
import json
import logging
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Any, Dict, List, Optional

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE / "healing"))

import healing_apps as apps  # noqa: E402

CORPUS = HERE / "healing" / "corpus"
MISSING = "#heal-speed-missing"
# The broken selector is waited for 50 ms, and that wait (measured on the page the
# same way, median of 7) is subtracted. Shorter is not fair to every version: a
# locator may wait for its healed selector within the same time once more.
FIND_TIMEOUT_MS = 50.0
RECORD_TIMEOUT_MS = 5000.0
SMALL, LARGE = 20_000, 45_000  # characters: below SMALL "small", SMALL..LARGE "~30k", above "large"
ACTION_TEXT = {
    "click": "hacer click en el elemento",
    "fill": "escribir texto en el campo",
    "select": "seleccionar una opción",
    "read": "obtener/extraer información del elemento",
}

# A page that tries to make the heal slow: many elements, huge attributes, broken
# Unicode; the element to heal sits among the first 1,500.
HOSTILE_JS = r"""() => {
  const big = 'x'.repeat(1 << 20), lone = '\ud83d';
  const body = document.body;
  body.innerHTML = '';
  const frag = document.createDocumentFragment();
  const b = document.createElement('button');
  b.id = 'hostile-target';
  b.setAttribute('aria-label', 'Guardar ' + lone + big.slice(0, 300000));
  b.textContent = 'Guardar cambios ✅' + lone;
  for (let i = 0; i < 10000; i++) {
    if (i === 1500) frag.appendChild(b);  // within the elements a heal reads (its candidate limit)
    const d = document.createElement(i % 3 ? 'span' : 'a');
    if (i % 3 === 0) d.setAttribute('href', '/row/' + i);
    if (i % 500 === 0) { d.setAttribute('title', big); d.setAttribute('data-note', big); }
    d.textContent = lone + ' fila ' + i + ' 🚀';
    frag.appendChild(d);
  }
  body.appendChild(frag);
  return document.documentElement.outerHTML.length;
}"""


class NothingProvider:
    """A model that answers nothing, counting its calls and time."""

    name = model = "none"

    def __init__(self) -> None:
        self.calls = 0
        self.seconds = 0.0

    def generate(self, prompt: str, temperature: float = 0.1) -> str:
        self.calls += 1
        return "NO_MATCH"


def load(name: str) -> Any:
    return json.loads((CORPUS / name).read_text(encoding="utf-8"))


def changed(fingerprint: str) -> str:
    """The recorded fingerprint as a new release might leave the element."""
    data = json.loads(fingerprint)
    if data.get("id"):
        data["id"] = "old-" + data["id"]
    if data.get("classes"):
        data["classes"] = " ".join(f"c{abs(hash(c)) % 99991:x}" for c in data["classes"].split())
    if data.get("text"):
        data["text"] = data["text"] + " (antes)"
    return json.dumps(data)


def pct(values: List[float], q: float) -> float:
    if not values:
        return float("nan")
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(q * (len(ordered) - 1))))]


class Phases:
    """Time spent in each part of a heal, by wrapping the locator's own steps.

    Works on this installation and on an older one: each part is timed where that
    version has it (the page read, the C++ decision, the selector checks, the HTML
    excerpt for the model, the busy-page probe).
    """

    def __init__(self) -> None:
        self.ms: Dict[str, float] = {}
        self.active = False

    def timed(self, name: str, fn, only=None):
        def call(*args, **kwargs):
            if not self.active or (only is not None and not only(*args, **kwargs)):
                return fn(*args, **kwargs)
            start = time.perf_counter()
            try:
                return fn(*args, **kwargs)
            finally:
                self.ms[name] = self.ms.get(name, 0.0) + (time.perf_counter() - start) * 1000.0
        return call

    def install(self) -> None:
        from tarvolab_framework.core import element_locator as module
        from tarvolab_framework.core import page_eval

        page_eval.page_responds = self.timed("probe", page_eval.page_responds)
        if hasattr(module, "bounded_evaluate"):  # the version before the one-pass read
            from tarvolab_framework.core import element_fingerprint as scripts

            module.bounded_evaluate = self.timed(
                "read page", module.bounded_evaluate,
                only=lambda target, script, *a, **k: script == scripts.CANDIDATES_SCRIPT)

    def wrap(self, locator) -> None:
        for attr, name in (("_candidates", "read page"), ("_same_element", "check selectors"),
                           ("_model_excerpt", "excerpt for the model")):
            if hasattr(locator, attr):
                setattr(locator, attr, self.timed(name, getattr(locator, attr)))
        if not hasattr(locator, "_same_element"):
            locator._fingerprint_of = self.timed("check selectors", locator._fingerprint_of)
        phases = self

        class Matcher:
            def __init__(self, inner) -> None:
                self._inner = inner

            def __getattr__(self, name):
                value = getattr(self._inner, name)
                return phases.timed("decide (C++)", value) if name == "choose" else value

        locator.matcher = Matcher(locator.matcher)


class Measure:
    def __init__(self, work: Path) -> None:
        self.work = work
        self.rows: List[Dict[str, Any]] = []
        self.record_costs: List[float] = []
        self.phases = Phases()
        self.phases.install()

    def locator(self, store: Path, provider: NothingProvider):
        from tarvolab_framework.core.element_locator import ElementLocator

        os.environ["SELF_HEALING_STORE"] = str(store)
        locator = ElementLocator()
        locator.locmender._provider = provider
        self.phases.wrap(locator)
        return locator

    @staticmethod
    def baseline(page) -> Dict[str, float]:
        from playwright.sync_api import TimeoutError as PlaywrightTimeoutError

        trips, waits = [], []
        for _ in range(7):
            start = time.perf_counter()
            page.evaluate("1")
            trips.append((time.perf_counter() - start) * 1000.0)
        for _ in range(7):
            start = time.perf_counter()
            try:
                page.locator(MISSING).first.wait_for(state="attached", timeout=FIND_TIMEOUT_MS)
            except PlaywrightTimeoutError:
                pass
            waits.append((time.perf_counter() - start) * 1000.0)
        return {"trip": statistics.median(trips), "wait": statistics.median(waits)}

    def find(self, locator, page, ref: str, action: str, timeout: float):
        locator.set_healing_context(step_text=f'I use "{ref}"', scenario_name="heal speed",
                                    feature_name="heal speed", action_context=ACTION_TEXT[action])
        start = time.perf_counter()
        result = None
        try:
            with contextlib.redirect_stdout(io.StringIO()):
                result = locator.find(page, ref, timeout=timeout)
        except Exception:  # noqa: BLE001 - no heal is an outcome here, not a failure
            result = None
        return result, (time.perf_counter() - start) * 1000.0

    def page_case(self, label: str, page, elements: Dict[str, Dict[str, str]], repeat: int) -> None:
        """Record every element of ``elements`` (name -> selector, action), then heal each."""
        from tarvolab_framework.core.healing_store import HealingStore, page_key

        chars = page.evaluate("document.documentElement.outerHTML.length")
        count = page.evaluate("document.getElementsByTagName('*').length")
        base = self.baseline(page)
        poms = Path(tempfile.mkdtemp(dir=self.work))
        os.environ["JSON_POMS_PATH"] = str(poms)
        pom_file = poms / "Speed.json"
        pom_file.write_text(json.dumps({n: e["selector"] for n, e in elements.items()}), encoding="utf-8")
        store = poms / "store.sqlite"
        provider = NothingProvider()
        recorder = self.locator(store, provider)
        plain = self.locator(Path("off"), provider)
        recorded = []
        for name, entry in elements.items():
            ref = "Speed." + name
            os.environ["SELF_HEALING_STORE"] = "off"
            _, off_ms = self.find(plain, page, ref, entry["action"], RECORD_TIMEOUT_MS)
            os.environ["SELF_HEALING_STORE"] = str(store)
            found, on_ms = self.find(recorder, page, ref, entry["action"], RECORD_TIMEOUT_MS)
            if found is not None:
                recorded.append(name)
                self.record_costs.append(on_ms - off_ms)
        pom_file.write_text(json.dumps({n: MISSING for n in elements}), encoding="utf-8")
        url = page_key(page.url)
        direct = HealingStore(store)
        originals = {n: direct.fingerprint("Speed." + n, url) for n in recorded}
        for variant in ("same", "changed"):
            times, healed, model_heals = [], 0, 0
            self.phases.ms = {}
            for _ in range(repeat):
                for name in recorded:
                    ref = "Speed." + name
                    fingerprint = originals[name]
                    if fingerprint is None:
                        continue
                    direct.save_fingerprint(ref, url, elements[name]["selector"],
                                            fingerprint if variant == "same" else changed(fingerprint))
                    direct.forget_heal(ref, url)
                    locator = self.locator(store, provider)  # a later run: nothing remembered
                    calls = provider.calls
                    self.phases.active = True
                    result, ms = self.find(locator, page, ref, elements[name]["action"], FIND_TIMEOUT_MS)
                    self.phases.active = False
                    times.append(ms - base["wait"])
                    if result is not None:
                        healed += 1
                    if provider.calls > calls:
                        model_heals += 1
            self.rows.append({"page": label, "chars": chars, "elements": count, "variant": variant,
                              "trip_ms": base["trip"], "heals": len(times), "healed": healed,
                              "model_asked": model_heals, "times": times, "phases": dict(self.phases.ms)})
        direct.close()


def run(args) -> Dict[str, Any]:
    from playwright.sync_api import sync_playwright

    pages = load("pages.json")
    truth = load("truth.json")
    os.environ["SELF_HEALING_ENABLED"] = "true"
    os.environ["AI_PROVIDER"] = "local"
    logging.getLogger("tarvolab_framework").setLevel(logging.CRITICAL)
    logging.getLogger("tarvolab_framework").propagate = False
    work = apps.BUILD / "speed"
    work.mkdir(parents=True, exist_ok=True)
    measure = Measure(Path(tempfile.mkdtemp(dir=work)))
    launch = {"headless": True}
    if os.environ.get("TARVO_CHROMIUM_EXECUTABLE"):
        launch["executable_path"] = os.environ["TARVO_CHROMIUM_EXECUTABLE"]
    with sync_playwright() as playwright:
        browser = playwright.chromium.launch(**launch)
        try:
            for app in args.apps:
                release = apps.RELEASES[app][1]
                apps.install(release)
                with apps.Server(release, apps.free_port()) as server:
                    context = browser.new_context()
                    page = context.new_page()
                    if app == "django":
                        page.goto(server.base_url + "/admin/login/")
                        page.fill("#id_username", "admin")
                        page.fill("#id_password", "bench-pass-1")
                        page.click('input[type="submit"]')
                        page.wait_for_url("**/admin/")
                    for name, info in pages.items():
                        if info["app"] != app:
                            continue
                        elements = {}
                        for ref, answer in truth.items():
                            if ref.split(".", 1)[0] == name and answer["new"] != "removed":
                                elements[ref.split(".", 1)[1]] = {"selector": answer["new"], "action": answer["action"]}
                        page.goto(server.base_url + info["path"], wait_until="load")
                        page.wait_for_function("document.readyState === 'complete'")
                        apps.log(f"{name}: {len(elements)} elements")
                        measure.page_case(name, page, elements, args.repeat)
                    context.close()
            page = browser.new_page()
            page.set_content("<body></body>")
            page.evaluate(HOSTILE_JS)
            page.evaluate("() => document.body.getBoundingClientRect().height")  # its own first layout
            apps.log("hostile page")
            measure.page_case("hostile", page, {"save": {"selector": "#hostile-target", "action": "click"}},
                              max(5, args.repeat))
            page.close()
        finally:
            browser.close()
    return {"rows": measure.rows, "record_costs": measure.record_costs}


def summary(result: Dict[str, Any]) -> Dict[str, Dict[str, float]]:
    groups: Dict[str, Dict[str, List[float]]] = {}
    for row in result["rows"]:
        chars = row["chars"]
        group = ("hostile" if row["page"] == "hostile" else
                 "large" if chars > LARGE else "~30k" if chars >= SMALL else "small")
        key = f"{group} {row['variant']}"
        g = groups.setdefault(key, {"times": [], "trips": [], "chars": [], "healed": [0], "heals": [0],
                                    "model": [0], "phases": {}})
        for phase, ms in row.get("phases", {}).items():
            g["phases"][phase] = g["phases"].get(phase, 0.0) + ms
        g["times"] += row["times"]
        g["trips"].append(row["trip_ms"])
        g["chars"].append(row["chars"])
        g["healed"][0] += row["healed"]
        g["heals"][0] += row["heals"]
        g["model"][0] += row["model_asked"]
    out = {}
    for key, g in sorted(groups.items()):
        out[key] = {"median": statistics.median(g["times"]) if g["times"] else float("nan"),
                    "p95": pct(g["times"], 0.95), "trip": statistics.median(g["trips"]),
                    "chars": statistics.median(g["chars"]), "n": len(g["times"]),
                    "healed": g["healed"][0], "model": g["model"][0],
                    "phases": {k: v / max(1, len(g["times"])) for k, v in g["phases"].items()}}
    costs = result["record_costs"]
    out["record"] = {"median": statistics.median(costs) if costs else float("nan"), "p95": pct(costs, 0.95),
                     "n": len(costs)}
    return out


def print_pages(result: Dict[str, Any], title: str) -> None:
    print(f"\n{title}: per page (heal time beyond the model, ms)")
    print(f"  {'page':<16}{'chars':>8}{'elems':>7} {'variant':<8}{'n':>4}{'healed':>7}{'model':>6}"
          f"{'median':>9}{'p95':>9}{'trip':>7}")
    for row in result["rows"]:
        t = row["times"]
        print(f"  {row['page']:<16}{row['chars']:>8}{row['elements']:>7} {row['variant']:<8}{len(t):>4}"
              f"{row['healed']:>7}{row['model_asked']:>6}{statistics.median(t) if t else float('nan'):>9.1f}"
              f"{pct(t, 0.95):>9.1f}{row['trip_ms']:>7.1f}")


def print_summary(after: Dict[str, Any], before: Optional[Dict[str, Any]]) -> None:
    a = summary(after)
    b = summary(before) if before else {}
    print("\nHeal time beyond the model (ms; 'trip' = one plain page.evaluate on the same pages)")
    head = f"  {'pages / variant':<20}{'chars':>8}{'n':>5}"
    if b:
        head += f"{'before med':>12}{'p95':>8}{'x trip':>8}{'healed':>8}"
    head += f"{'after med':>11}{'p95':>8}{'x trip':>8}{'healed':>8}{'trip':>7}"
    print(head)
    for key, s in a.items():
        if key == "record":
            continue
        line = f"  {key:<20}{s['chars']:>8.0f}{s['n']:>5}"
        if b:
            o = b.get(key)
            if o:
                line += f"{o['median']:>12.1f}{o['p95']:>8.1f}{o['median'] / o['trip']:>8.1f}{o['healed']:>8}"
            else:
                line += f"{'-':>12}{'-':>8}{'-':>8}{'-':>8}"
        line += (f"{s['median']:>11.1f}{s['p95']:>8.1f}{s['median'] / s['trip']:>8.1f}{s['healed']:>8}"
                 f"{s['trip']:>7.1f}")
        print(line)
    print("\nWhere a heal's time goes (ms per heal, mean)")
    names = ["probe", "read page", "decide (C++)", "check selectors", "excerpt for the model"]
    for key, s in a.items():
        if key == "record":
            continue
        line = f"  {key:<20}"
        for label, side in (("before", b.get(key)), ("after", s)):
            if side is None:
                continue
            parts = ", ".join(f"{n} {side['phases'].get(n, 0.0):.1f}" for n in names)
            line += f"\n      {label:<7}{parts}"
        print(line)
    r = a["record"]
    line = f"\nRecording cost per find (store on minus off, ms): median {r['median']:.1f}, p95 {r['p95']:.1f} (n={r['n']})"
    if b:
        line += f"; before: median {b['record']['median']:.1f}, p95 {b['record']['p95']:.1f}"
    print(line)
    if b:
        keys = [k for k in a if k != "record" and k in b]
        ratios = [b[k]["median"] / a[k]["median"] for k in keys if a[k]["median"] > 0]
        if ratios:
            print("Speed-up of the median heal (before / after): " +
                  ", ".join(f"{k} {b[k]['median'] / a[k]['median']:.1f}x" for k in keys if a[k]["median"] > 0))


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--apps", default="django,datasette")
    parser.add_argument("--repeat", type=int, default=1, help="heals of each element per variant")
    parser.add_argument("--before-python", help="interpreter of the installation to compare with")
    parser.add_argument("--json", help="write the measurements here")
    parser.add_argument("--quiet", action="store_true", help="no per-page table")
    args = parser.parse_args(argv)
    args.apps = [a for a in args.apps.split(",") if a]
    before = None
    if args.before_python:
        with tempfile.NamedTemporaryFile(suffix=".json", delete=False) as handle:
            out = handle.name
        command = [args.before_python, str(Path(__file__).resolve()), "--apps", ",".join(args.apps),
                   "--repeat", str(args.repeat), "--json", out, "--quiet"]
        apps.log("before: " + " ".join(command))
        subprocess.run(command, check=True, cwd=os.getcwd())
        before = json.loads(Path(out).read_text(encoding="utf-8"))
        os.unlink(out)
        apps.log("after: this installation")
    after = run(args)
    if args.json:
        Path(args.json).write_text(json.dumps(after), encoding="utf-8")
    if not args.quiet:
        if before:
            print_pages(before, "Before")
        print_pages(after, "After" if before else "Measured")
        print_summary(after, before)
    return 0


if __name__ == "__main__":
    sys.exit(main())
