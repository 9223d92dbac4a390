"""Benchmark: what element fingerprints cost, and a fingerprint heal beyond the model.

Measured side by side in one process with headless Chromium, on a generated page of
about 30,000 characters of HTML (a form, a table of rows with buttons, lists of links):

1. Recording. ``ElementLocator.find`` with the healing store on (each unique find
   also records the element's fingerprint: one page script, one SQLite write when it
   changed) against the same finds with the store off (the plain find). Rounds
   alternate so that drift of the shared machine affects both alike. Printed: time
   per find of each, the difference (the cost of recording) and the ratio.
2. Healing. The page is reloaded with the target's id renamed and its classes
   hashed; the time of the heal itself (candidates read in one page script, scored
   in C++, selector built and checked on the page) is measured without the locator's
   wait for the old selector and with no model configured.

Run from the repository root after ``source scripts/env.sh``:

    .venv/bin/python bench/fingerprint_cost.py [--finds 200] [--rounds 4] [--heals 20]

Not part of the test suite.
"""
import argparse
import os
import statistics
import sys
import tempfile
import time


def page_html(release: int) -> str:
    rows = []
    for i in range(95):
        rows.append(
            f"<tr><td>Pedido {1000 + i}</td><td>Cliente número {i}</td><td>{i * 3}.50 €</td>"
            f"<td><button class='btn row-edit' data-row='{i}'>Editar</button>"
            f"<button class='btn row-del' data-row='{i}'>Borrar</button></td></tr>")
    links = "".join(f"<li><a href='/docs/{i}.html' class='nav-link'>Sección {i} de la guía</a></li>"
                    for i in range(120))
    save_id = "save-order" if release == 1 else "order-save-btn"
    save_class = "btn btn-primary" if release == 1 else "x9a1f c03be"
    form = (
        "<form id='order'><fieldset><legend>Datos del pedido</legend>"
        "<label for='customer'>Cliente</label><input id='customer' name='customer'>"
        "<label for='notes'>Notas</label><textarea id='notes' name='notes'></textarea>"
        "<label for='country'>País</label><select id='country' name='country'>"
        + "".join(f"<option>País {i}</option>" for i in range(30)) +
        "</select>"
        f"<button type='button' id='{save_id}' class='{save_class}'>Guardar pedido</button>"
        "<button type='button' id='cancel-order' class='btn'>Cancelar</button>"
        "</fieldset></form>")
    body = (f"<header><h1>Pedidos</h1><nav><ul>{links}</ul></nav></header>"
            f"<main>{form}<table id='orders'><tbody>{''.join(rows)}</tbody></table></main>"
            "<footer><p id='status'>Listo</p></footer>")
    return f"<!DOCTYPE html><html><head><meta charset='utf-8'><title>Pedidos</title></head><body>{body}</body></html>"


TARGETS = ["#customer", "#notes", "#country", "#cancel-order", "#status", "#orders", "text=Sección 7 de la guía"]


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--finds", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=4)
    parser.add_argument("--heals", type=int, default=20)
    args = parser.parse_args()

    chromium = os.environ.get("TARVO_CHROMIUM_EXECUTABLE")
    if not chromium:
        print("TARVO_CHROMIUM_EXECUTABLE is not set (source scripts/env.sh)")
        return 2
    from playwright.sync_api import sync_playwright

    from tarvolab_framework.core import element_locator as el

    scratch = tempfile.mkdtemp(prefix="fingerprint-bench-")
    os.environ["SELF_HEALING_ENABLED"] = "false"  # no model anywhere in this bench
    os.environ["LOCATOR_TIMEOUT"] = "2000"
    os.environ["SELF_HEALING_STORE"] = os.path.join(scratch, "healing.sqlite")
    recording = el.ElementLocator()
    os.environ["SELF_HEALING_STORE"] = "off"
    plain = el.ElementLocator()

    html1, html2 = page_html(1), page_html(2)
    print(f"page: {len(html1)} characters of HTML")
    with sync_playwright() as driver:
        browser = driver.chromium.launch(executable_path=chromium, headless=True)
        try:
            page = browser.new_page()
            page.set_content(html1)
            timings = {"plain": [], "recording": []}
            for locator in (plain, recording):  # warm-up
                for target in TARGETS:
                    locator.find(page, target)
            for _ in range(args.rounds):
                for name, locator in (("plain", plain), ("recording", recording)):
                    start = time.perf_counter()
                    for i in range(args.finds):
                        locator.find(page, TARGETS[i % len(TARGETS)])
                    timings[name].append((time.perf_counter() - start) / args.finds * 1000)
            p, r = statistics.median(timings["plain"]), statistics.median(timings["recording"])
            print(f"find, store off (plain):      {p:7.3f} ms per find")
            print(f"find, recording fingerprints: {r:7.3f} ms per find")
            print(f"recording cost:               {r - p:7.3f} ms per find (ratio {r / p:.2f})")

            # Heal: record the save button on release 1, then heal it on release 2.
            recording.locmender.enabled = True  # heal paths on; no model: the fingerprint decides
            recording._healing_requested = True
            page.set_content(html1)
            recording.find(page, "#save-order")
            heal_times, results = [], set()
            for _ in range(args.heals):
                page.set_content(html2)
                recording._run_heals.clear()
                start = time.perf_counter()
                healed, source, score, accepted = recording._heal(page, "#save-order", "#save-order",
                                                                  "#save-order", "click")
                heal_times.append((time.perf_counter() - start) * 1000)
                results.add((healed, source, accepted))
            print(f"heal on the changed page (fingerprint, no model): {statistics.median(heal_times):7.2f} ms "
                  f"median, {max(heal_times):.2f} ms max over {args.heals}; result {sorted(results)}")

            # Where the heal's time goes: the page script, the C++ decision, the check.

            stored = recording._stored_fingerprint("#save-order", el.page_key(page.url))
            parts = {"read candidates (page script + transfer)": [], "score and decide (C++)": [],
                     "check the built selector on the page": []}
            for _ in range(args.heals):
                t0 = time.perf_counter()
                candidates = recording._candidates(page, stored, "click")
                t1 = time.perf_counter()
                choice = recording.matcher.choose(stored, candidates, "click", "")
                t2 = time.perf_counter()
                recording._same_element(page, choice["selectors"][0], choice["top_paths"][0])
                t3 = time.perf_counter()
                for name, value in zip(parts, (t1 - t0, t2 - t1, t3 - t2)):
                    parts[name].append(value * 1000)
            print(f"  {len(candidates)} characters of candidate JSON")
            for name, values in parts.items():
                print(f"  {name}: {statistics.median(values):7.2f} ms median")
        finally:
            browser.close()
    recording.store.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
