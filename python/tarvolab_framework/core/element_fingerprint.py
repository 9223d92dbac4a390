"""Page scripts that describe elements: fingerprints, candidates and HTML excerpts.

A fingerprint is a JSON object with what identifies an element across releases:
``tag``, ``id``, ``name``, ``type``, ``role``, ``classes``, visible ``text``,
``label`` (its ``<label>`` or ``aria-labelledby`` text), ``aria_label``,
``placeholder``, ``title``, ``alt``, ``value`` (of buttons only), ``href`` (as
written), ``testid`` and ``testid_attr``, ``xpath`` and ``id_xpath`` (from the
nearest ancestor with an id), ``neighbours`` (the nearest texts before and after it), ``context``
(its form or section), ``x``/``y``/``width``/``height`` on the page, ``enabled``,
``visible``, ``editable``, ``clickable`` (an ``onclick`` or a tab stop) and ``only``
(the page's one ``h1``, ``header``, ``footer`` or ``main``).

Every text is cut in the page (a 1 MB attribute costs no more than a short one)
and lone surrogates are replaced, so the JSON always parses. The scripts return
JSON text, which crosses to Python as one string and to the C++ rules unchanged.
"""

from __future__ import annotations

# The shared describer, defined once per call; `F(el)` builds the object.
_DESCRIBER = r"""
const CAP = 200;
const SKIP = new Set(["SCRIPT", "STYLE", "NOSCRIPT", "TEMPLATE"]);
const TEST_ATTRS = ["data-testid", "data-test-id", "data-test", "data-qa", "data-cy", "data-test-subj"];
const fix = (s) => s.replace(/[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/g, "\uFFFD");
const clean = (s, n) => {
  if (s == null) return "";
  s = String(s);
  if (s.length > n * 4) s = s.slice(0, n * 4);
  s = s.replace(/\s+/g, " ").trim();
  if (s.length > n) s = s.slice(0, n);
  return fix(s);
};
const attr = (el, name, n) => {
  const v = el.getAttribute(name);
  return v == null ? "" : clean(v, n || CAP);
};
const textOf = (el, n) => {
  if (el.childElementCount === 0 && !SKIP.has(el.tagName)) return clean(el.textContent, n);  // most elements
  let out = "", node, seen = 0;
  const w = document.createTreeWalker(el, NodeFilter.SHOW_TEXT);
  while ((node = w.nextNode()) && out.length < n && seen < 60) {
    seen++;
    const p = node.parentElement;
    if (p && SKIP.has(p.tagName)) continue;
    out += " " + node.data.slice(0, n);
  }
  return clean(out, n);
};
const steps = new Map();
const stepOf = (el) => {
  let s = steps.get(el);
  if (s !== undefined) return s;
  const p = el.parentElement;
  if (!p) { s = el.tagName.toLowerCase(); steps.set(el, s); return s; }
  const counts = new Map(), seen = new Map();
  for (const c of p.children) counts.set(c.tagName, (counts.get(c.tagName) || 0) + 1);
  for (const c of p.children) {
    const k = (seen.get(c.tagName) || 0) + 1;
    seen.set(c.tagName, k);
    const t = c.tagName.toLowerCase();
    steps.set(c, counts.get(c.tagName) > 1 ? t + "[" + k + "]" : t);
  }
  return steps.get(el);
};
const paths = new Map();
const xpathOf = (el) => {
  const chain = [];
  let e = el, base = "";
  while (e) {
    const known = paths.get(e);
    if (known !== undefined) { base = known; break; }
    chain.push(e);
    e = e.parentElement;
  }
  for (let i = chain.length - 1; i >= 0; i--) {
    base = base + "/" + stepOf(chain[i]);
    paths.set(chain[i], base);
  }
  return base;
};
const idPaths = new Map();
const idXpathOf = (el) => {
  // From the nearest ancestor with a usable id: that ancestor's own path, then
  // the steps down. Memoised, so describing a whole page stays linear.
  const chain = [];
  let e = el.parentElement, base = "";
  while (e) {
    const known = idPaths.get(e);
    if (known !== undefined) { base = known; break; }
    const id = e.getAttribute("id");
    if (id && id.length <= 80 && !/["\s]/.test(id)) { base = '//*[@id="' + fix(id) + '"]'; idPaths.set(e, base); break; }
    chain.push(e);
    e = e.parentElement;
  }
  for (let i = chain.length - 1; i >= 0; i--) {
    base = base ? base + "/" + stepOf(chain[i]) : "";
    idPaths.set(chain[i], base);
  }
  return base ? base + "/" + stepOf(el) : "";
};
const labelOf = (el) => {
  try {
    if (el.labels && el.labels.length) return clean(Array.from(el.labels).slice(0, 3).map((l) => textOf(l, 80)).join(" "), 120);
  } catch (e) {}
  const ids = el.getAttribute("aria-labelledby");
  if (ids) {
    return clean(ids.slice(0, 200).split(/\s+/).slice(0, 5).map((i) => {
      const t = document.getElementById(i);
      return t ? textOf(t, 80) : "";
    }).join(" "), 120);
  }
  return "";
};
// The nearest heading before the element in reading order (h1-h6, summary,
// legend, caption): the section it belongs to. The page-wide script fills
// `headings` in one pass; a single element walks back a bounded way.
const HEADINGS = new Set(["H1", "H2", "H3", "H4", "H5", "H6", "SUMMARY", "LEGEND", "CAPTION"]);
const headings = new Map();
const headingOf = (el) => {
  const known = headings.get(el);
  if (known !== undefined) return known;
  const w = document.createTreeWalker(document.body || el, NodeFilter.SHOW_ELEMENT);
  w.currentNode = el;
  let n, steps = 0;
  while (steps++ < 400 && (n = w.previousNode())) if (HEADINGS.has(n.tagName)) return textOf(n, 80);
  return "";
};
const contexts = new Map();
const CONTEXT = "form, fieldset, section, article, dialog, [role=dialog], [role=form], nav, header, footer, aside, main";
const contextOf = (el) => clean(containerOf(el) + " " + headingOf(el), 180);
const containerOf = (el) => {
  const c = el.parentElement ? el.parentElement.closest(CONTEXT) : null;
  if (!c) return "";
  let s = contexts.get(c);
  if (s !== undefined) return s;
  const bits = [c.tagName.toLowerCase(), attr(c, "id", 60), attr(c, "name", 60), attr(c, "aria-label", 60)];
  s = clean(bits.filter(Boolean).join(" "), 100);
  contexts.set(c, s);
  return s;
};
// The nearest texts before and after the element in reading order (a label,
// the previous field's caption, the next button), outside the element itself.
const nearText = (el, forward) => {
  const w = document.createTreeWalker(document.body || el, NodeFilter.SHOW_TEXT);
  let last = el;
  if (forward) while (last.lastChild) last = last.lastChild;  // past the element's own texts
  w.currentNode = last;
  let node, steps = 0;
  while (steps++ < 200 && (node = forward ? w.nextNode() : w.previousNode())) {
    if (el.contains(node)) continue;
    const p = node.parentElement;
    if (p && SKIP.has(p.tagName)) continue;
    const t = clean(node.data, 60);
    if (t) return t;
  }
  return "";
};
const neighboursOf = (el) => clean(nearText(el, false) + " " + nearText(el, true), 160);
// Empty texts and the usual flag values are left out: a page's description
// crosses to Python and C++ as one JSON text, half as long without them.
const DEFAULTS = { enabled: true, visible: true, editable: false, clickable: false, only: false };
// Landmarks a page has once: its main heading, header, footer, main part.
const LANDMARKS = new Set(["h1", "header", "footer", "main"]);
const compact = (o) => {
  for (const k of Object.keys(o)) if (o[k] === "" || DEFAULTS[k] === o[k]) delete o[k];
  return o;
};
const BUTTON_TYPES = new Set(["button", "submit", "reset"]);
// Inputs whose value names them (a button's caption, a row checkbox's id), unlike
// a text field's value, which is test data.
const VALUE_TYPES = new Set(["button", "submit", "reset", "checkbox", "radio"]);
// Where a submit button leads: its formaction, else its form's action (a logout
// link that became a form's button keeps its target).
const submitTarget = (el, tag, type) => {
  const submits = (tag === "button" && (type === "" || type === "submit")) ||
    (tag === "input" && (type === "submit" || type === "image"));
  if (!submits || !el.form) return "";
  return attr(el, "formaction", 300) || attr(el.form, "action", 300);
};
const F = (el) => {
  const tag = el.tagName.toLowerCase();
  const type = (el.getAttribute("type") || "").slice(0, 40).toLowerCase();
  let testid = "", testidAttr = "";
  for (const a of TEST_ATTRS) {
    const v = el.getAttribute(a);
    if (v) { testid = clean(v, CAP); testidAttr = a; break; }
  }
  const r = el.getBoundingClientRect();
  let visible = r.width > 0 && r.height > 0;
  if (visible && el.checkVisibility) visible = el.checkVisibility({ visibilityProperty: true });
  let enabled = true;
  try { enabled = !el.matches(":disabled"); } catch (e) {}
  if (el.getAttribute("aria-disabled") === "true") enabled = false;
  const tabindex = el.getAttribute("tabindex");
  return compact({
    tag, id: attr(el, "id"), name: attr(el, "name"), type, role: attr(el, "role", 40),
    classes: typeof el.className === "string" ? clean(el.className, CAP) : attr(el, "class"),
    text: (tag === "input" || tag === "textarea") ? "" : textOf(el, CAP),
    label: labelOf(el), aria_label: attr(el, "aria-label"), placeholder: attr(el, "placeholder"),
    title: attr(el, "title"), alt: attr(el, "alt"),
    value: (tag === "input" && VALUE_TYPES.has(type)) ? attr(el, "value") : "",
    href: attr(el, "href", 300) || submitTarget(el, tag, type), testid, testid_attr: testidAttr,
    xpath: xpathOf(el), id_xpath: idXpathOf(el), neighbours: neighboursOf(el), context: contextOf(el),
    x: Math.round(r.left + window.scrollX), y: Math.round(r.top + window.scrollY),
    width: Math.round(r.width), height: Math.round(r.height),
    enabled, visible, editable: !!el.isContentEditable,
    clickable: el.hasAttribute("onclick") || typeof el.onclick === "function" ||
      (tabindex !== null && Number(tabindex) >= 0),
    only: LANDMARKS.has(tag) && document.getElementsByTagName(tag).length === 1,
  });
};
"""

#: Fingerprint of the element a locator resolves to (``locator.evaluate``).
FINGERPRINT_SCRIPT = "(el) => {" + _DESCRIBER + "return JSON.stringify(F(el)); }"

#: Fingerprint of the element when a locator matches exactly one, else ``null``
#: (``locator.evaluate_all``: no wait, one round trip).
UNIQUE_FINGERPRINT_SCRIPT = ("(els) => { if (els.length !== 1) return null; const el = els[0];" + _DESCRIBER
                             + "return JSON.stringify(F(el)); }")

#: Fingerprints of the page's elements, as a JSON array; the argument is the
#: most elements to describe. Scripts, styles and the insides of SVG drawings
#: are skipped. Run on the ``html`` element (``locator("html").evaluate``).
CANDIDATES_SCRIPT = (
    "(root, limit) => {" + _DESCRIBER + r"""
  const out = [];
  if (!document.body) return "[]";
  const REJECT = new Set(["SCRIPT", "STYLE", "NOSCRIPT", "TEMPLATE", "HEAD", "META", "LINK", "BR", "WBR"]);
  const w = document.createTreeWalker(document.body, NodeFilter.SHOW_ELEMENT, {
    acceptNode: (n) => REJECT.has(n.tagName) ? NodeFilter.FILTER_REJECT
      : (n.parentElement && n.parentElement.namespaceURI === "http://www.w3.org/2000/svg") ? NodeFilter.FILTER_REJECT
      : NodeFilter.FILTER_ACCEPT,
  });
  let el, lastHeading = "";
  while ((el = w.nextNode()) && out.length < limit) {
    headings.set(el, lastHeading);
    try { out.push(F(el)); } catch (e) { out.push({}); }
    if (HEADINGS.has(el.tagName)) lastHeading = textOf(el, 80);
  }
  return JSON.stringify(out);
}"""
)

#: The HTML around given elements (XPaths), for the model: each element's
#: nearest form/section (or its grandparent), cleaned of scripts and styles,
#: within the given length in total.
EXCERPT_SCRIPT = r"""(root, args) => {
  const [xpaths, budget] = args;
  const parts = [], seen = new Set();
  const per = Math.max(400, Math.floor(budget / Math.max(1, xpaths.length)));
  for (const xp of xpaths) {
    let el = null;
    try { el = document.evaluate(xp, document, null, XPathResult.FIRST_ORDERED_NODE_TYPE, null).singleNodeValue; } catch (e) {}
    if (!el) continue;
    let block = el.closest("form, fieldset, section, article, dialog, li, tr") ||
      (el.parentElement && el.parentElement.parentElement) || el.parentElement || el;
    if (block === document.body || block === document.documentElement) block = el.parentElement || el;
    if (seen.has(block)) continue;
    seen.add(block);
    const clone = block.cloneNode(true);
    clone.querySelectorAll("script, style, noscript, svg, link[rel=stylesheet]").forEach((n) => n.remove());
    clone.querySelectorAll("*").forEach((n) => {
      for (const a of Array.from(n.attributes)) if (a.value.length > 300) n.setAttribute(a.name, a.value.slice(0, 300));
    });
    let html = clone.outerHTML;
    if (html.length > per) html = html.slice(0, per);
    parts.push(html);
  }
  const text = parts.join("\n<!-- ... -->\n");
  return text.replace(/[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/g, "\uFFFD");
}"""
