"""Page scripts that describe elements: fingerprints, candidates and HTML excerpts.

A fingerprint is a JSON object with what identifies an element across releases:
``tag``, ``id``, ``name``, ``type``, ``role``, ``classes``, visible ``text``,
``label`` (its ``<label>`` or ``aria-labelledby`` text), ``aria_label``,
``placeholder``, ``title``, ``alt``, ``value`` (of buttons only), ``href`` (as
written), ``testid`` and ``testid_attr``, ``xpath`` and ``id_xpath`` (from the
nearest ancestor with an id), ``neighbours`` (the nearest texts before and after it), ``context``
(its form or section), ``x``/``y``/``width``/``height`` on the page, ``enabled``,
``visible``, ``editable``, ``clickable`` (an ``onclick`` or a tab stop), ``only``
(the page's one ``h1``, ``header``, ``footer`` or ``main``) and ``landmark`` (the page
region it sits in: its nearest ``nav``, ``aside``, ``header``, ``footer`` or ``main``
with that region's id or aria-label, ``body`` outside them).

Every text is cut in the page (a 1 MB attribute costs no more than a short one)
and lone surrogates are replaced, so the JSON always parses. The scripts return
JSON text, which crosses to Python as one string and to the C++ rules unchanged.
"""

from __future__ import annotations

# Element paths: XPath steps in the element's document, led through open shadow
# roots and same-origin frames (see ``xpathOf``).
_PATHS = r"""
const steps = new Map();
// The parent whose children a step counts: an element, or the shadow root an
// element sits in at its top.
const parentOf = (el) => el.parentElement || (el.parentNode && el.parentNode.nodeType === 11 ? el.parentNode : null);
const stepOf = (el) => {
  let s = steps.get(el);
  if (s !== undefined) return s;
  const p = parentOf(el);
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
// Where a tree hangs: "" for the page's document, the host's path and
// "/#shadow-root" for an open shadow root, the frame element's path and
// "/#document" for a same-origin frame's document.
const treeBase = (top) => {
  const p = top.parentNode;
  if (p && p.nodeType === 11 && p.host) return xpathOf(p.host) + "/#shadow-root";
  if (p && p.nodeType === 9) {
    let frame = null;
    try { frame = p.defaultView && p.defaultView.frameElement; } catch (e) {}
    if (frame) return xpathOf(frame) + "/#document";
  }
  return "";
};
const paths = new Map();
// The element's XPath in its document; inside a shadow root or a frame, the
// path of the host (or frame element) leads, so one text names any element.
const xpathOf = (el) => {
  const chain = [];
  let e = el, base = null;
  while (e) {
    const known = paths.get(e);
    if (known !== undefined) { base = known; break; }
    chain.push(e);
    e = e.parentElement;
  }
  if (base === null) base = treeBase(chain[chain.length - 1]);
  for (let i = chain.length - 1; i >= 0; i--) {
    base = base + "/" + stepOf(chain[i]);
    paths.set(chain[i], base);
  }
  return base;
};
"""

# The shared describer, defined once per call; `F(el)` builds the object.
_DESCRIBER = _PATHS + r"""
const CAP = 200;
const SKIP = new Set(["SCRIPT", "STYLE", "NOSCRIPT", "TEMPLATE"]);
const TEST_ATTRS = ["data-testid", "data-test-id", "data-test", "data-qa", "data-cy", "data-test-subj"];
// Lone surrogates become U+FFFD; most texts have no surrogate at all, and a plain
// test finds that faster than the replacement's pattern.
const SURROGATE = /[\uD800-\uDFFF]/;
const fix = (s) => SURROGATE.test(s) ? s.replace(/[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/g, "\uFFFD") : s;
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
// The page-wide script notes each element's texts as a range of its tree's
// text nodes (element -> [texts, first, past-the-end]): no walk per element.
const spans = new Map();
const textOf = (el, n) => {
  if (el.childElementCount === 0 && !SKIP.has(el.tagName)) return clean(el.textContent, n);  // most elements
  let out = "", node, seen = 0;
  const span = spans.get(el);
  if (span) {
    const [texts, first, end] = span;
    for (let i = first; i < end && out.length < n && seen < 60; i++) {
      seen++;
      const p = texts[i].parentElement;
      if (p && SKIP.has(p.tagName)) continue;
      out += " " + texts[i].data.slice(0, n);
    }
    return clean(out, n);
  }
  const w = (el.ownerDocument || document).createTreeWalker(el, NodeFilter.SHOW_TEXT);
  while ((node = w.nextNode()) && out.length < n && seen < 60) {
    seen++;
    const p = node.parentElement;
    if (p && SKIP.has(p.tagName)) continue;
    out += " " + node.data.slice(0, n);
  }
  return clean(out, n);
};
// The element's tree: its document's body (or document), or its shadow root.
const treeOf = (el) => {
  const r = el.getRootNode ? el.getRootNode() : document;
  return r.nodeType === 9 ? (r.body || r.documentElement || el) : r;
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
      const root = el.getRootNode ? el.getRootNode() : document;
      const t = root.getElementById ? root.getElementById(i) : null;
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
  const w = (el.ownerDocument || document).createTreeWalker(treeOf(el), NodeFilter.SHOW_ELEMENT);
  w.currentNode = el;
  let n, steps = 0;
  while (steps++ < 400 && (n = w.previousNode())) if (HEADINGS.has(n.tagName)) return textOf(n, 80);
  return "";
};
const contexts = new Map();
const CONTEXT = "form, fieldset, section, article, dialog, [role=dialog], [role=form], nav, header, footer, aside, main";
const contextOf = (el) => clean(containerOf(el) + " " + headingOf(el), 180);
const closests = new Map();  // parent -> its nearest form/section (siblings share it)
const containerOf = (el) => {
  const parent = el.parentElement;
  let c = closests.get(parent);
  if (c === undefined) {
    c = parent ? parent.closest(CONTEXT) : null;
    closests.set(parent, c);
  }
  if (!c) return "";
  let s = contexts.get(c);
  if (s !== undefined) return s;
  const bits = [c.tagName.toLowerCase(), attr(c, "id", 60), attr(c, "name", 60), attr(c, "aria-label", 60)];
  s = clean(bits.filter(Boolean).join(" "), 100);
  contexts.set(c, s);
  return s;
};
// The page region (landmark) the element sits in: its nearest nav, aside, header,
// footer or main (or the ARIA role of one), with the region's id or aria-label;
// "body" outside every region. A site menu repeats links of the content (same
// text, same target): the region tells them apart.
const LANDMARK = "nav, aside, header, footer, main, [role=navigation], [role=complementary], [role=banner], " +
  "[role=contentinfo], [role=main], [role=search]";
const landmarks = new Map();  // parent -> its region's name (siblings share it)
const landmarkOf = (el) => {
  const parent = el.parentElement;
  let s = landmarks.get(parent);
  if (s !== undefined) return s;
  const c = parent ? parent.closest(LANDMARK) : null;
  if (!c) s = "body";
  else s = clean([attr(c, "role", 30).toLowerCase() || c.tagName.toLowerCase(),
                  attr(c, "id", 60) || attr(c, "aria-label", 60)].filter(Boolean).join(" "), 100);
  landmarks.set(parent, s);
  return s;
};
// The nearest texts before and after the element in reading order (a label,
// the previous field's caption, the next button), outside the element itself.
const nearText = (el, forward) => {
  const w = (el.ownerDocument || document).createTreeWalker(treeOf(el), NodeFilter.SHOW_TEXT);
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
const neighbours = new Map();
const neighboursOf = (el) => {
  const known = neighbours.get(el);
  if (known !== undefined) return known;
  return clean(nearText(el, false) + " " + nearText(el, true), 160);
};
// Empty texts and the usual flag values are left out: a page's description
// crosses to Python and C++ as one JSON text, half as long without them.
const DEFAULTS = { enabled: true, visible: true, editable: false, clickable: false, only: false };
// Landmarks a page has once: its main heading, header, footer, main part.
const LANDMARKS = new Set(["h1", "header", "footer", "main"]);
// A light record also leaves out the position and ends with `light: true`. The
// record is built anew (a `delete` would turn each object into a slow one, and
// every element pays for that again when the page is made JSON).
const POSITION = new Set(["x", "y", "width", "height"]);
const compact = (o, light) => {
  const r = {};
  for (const k in o) {
    const v = o[k];
    if (v === "" || DEFAULTS[k] === v || (light && POSITION.has(k))) continue;
    r[k] = v;
  }
  if (light) r.light = true;
  return r;
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
// `light` leaves out what is slow to read (position, neighbours, section,
// paths, classes): enough to tell what kind of element it is and whether a
// selector naming it would be unique, marked `light: true`. `B(el)` reads the
// cheap part (its fields in record order, none left out yet), `L` and `R` finish
// it as a light or a full record: a page-wide read judges the cheap part before
// deciding which, without reading it twice.
const F = (el, light) => light ? L(el, B(el)) : R(el, B(el));
const B = (el) => {
  const tag = el.tagName.toLowerCase();
  const type = (el.getAttribute("type") || "").slice(0, 40).toLowerCase();
  let testid = "", testidAttr = "";
  for (const a of TEST_ATTRS) {
    const v = el.getAttribute(a);
    if (v) { testid = clean(v, CAP); testidAttr = a; break; }
  }
  let enabled = true;
  try { enabled = !el.matches(":disabled"); } catch (e) {}
  if (el.getAttribute("aria-disabled") === "true") enabled = false;
  const tabindex = el.getAttribute("tabindex");
  const o = {
    tag, id: attr(el, "id"), name: attr(el, "name"), type, role: attr(el, "role", 40),
    classes: "",
    text: (tag === "input" || tag === "textarea") ? "" : textOf(el, CAP),
    label: labelOf(el), aria_label: attr(el, "aria-label"), placeholder: attr(el, "placeholder"),
    title: attr(el, "title"), alt: attr(el, "alt"),
    value: (tag === "input" && VALUE_TYPES.has(type)) ? attr(el, "value") : "",
    href: attr(el, "href", 300) || submitTarget(el, tag, type), testid, testid_attr: testidAttr,
    xpath: "", id_xpath: "", neighbours: "", context: "", x: 0, y: 0, width: 0, height: 0,
    enabled, visible: true, editable: !!el.isContentEditable,
    clickable: el.hasAttribute("onclick") || typeof el.onclick === "function" ||
      (tabindex !== null && Number(tabindex) >= 0),
    only: LANDMARKS.has(tag) && el.ownerDocument.getElementsByTagName(tag).length === 1,
  };
  return o;
};
const L = (el, o) => {
  if (o.tag === "iframe" || o.tag === "frame") o.xpath = xpathOf(el);  // a frame heal names its frame
  return compact(o, true);
};
// Each document's scroll offsets, read once: nothing scrolls while a script runs.
const scrolls = new Map();
const scrollOf = (doc) => {
  let s = scrolls.get(doc);
  if (s === undefined) {
    const view = doc.defaultView || window;
    s = [view.scrollX, view.scrollY];
    scrolls.set(doc, s);
  }
  return s;
};
const R = (el, o) => {
  const r = el.getBoundingClientRect();
  const scroll = scrollOf(el.ownerDocument);
  let visible = r.width > 0 && r.height > 0;
  if (visible && el.checkVisibility) visible = el.checkVisibility({ visibilityProperty: true });
  o.classes = typeof el.className === "string" ? clean(el.className, CAP) : attr(el, "class");
  o.xpath = xpathOf(el);
  o.id_xpath = idXpathOf(el);
  o.neighbours = neighboursOf(el);
  o.context = contextOf(el);
  o.landmark = landmarkOf(el);
  o.x = Math.round(r.left + scroll[0]);
  o.y = Math.round(r.top + scroll[1]);
  o.width = Math.round(r.width);
  o.height = Math.round(r.height);
  o.visible = visible;
  return compact(o, false);
};
"""

#: Fingerprint of the element a locator resolves to (``locator.evaluate``).
FINGERPRINT_SCRIPT = "(el) => {" + _DESCRIBER + "return JSON.stringify(F(el)); }"

#: Fingerprint of the element when a locator matches exactly one, else ``null``
#: (``locator.evaluate_all``: no wait, one round trip).
UNIQUE_FINGERPRINT_SCRIPT = ("(els) => { if (els.length !== 1) return null; const el = els[0];" + _DESCRIBER
                             + "return JSON.stringify(F(el)); }")

#: Fingerprints of the page's elements, as a JSON array, read in one pass. The
#: argument is ``[limit, kind, action, tag]``: the most elements to describe and,
#: when ``kind`` is not empty, what the lost element was (``clickable``,
#: ``fillable``, ``selectable``, ``container``, ``other``; its ``tag``) and what
#: the step does (``click``, ``fill``, ``select``, ``read``, ``any``). Elements
#: that cannot stand for it then come as light records (see ``F``). Scripts,
#: styles and the insides of SVG drawings are skipped; open shadow roots and
#: same-origin frames are searched after the page. Run on the page
#: (``page_eval.bounded_evaluate(page, ...)``).
CANDIDATES_SCRIPT = (
    "(arg) => {" + _DESCRIBER + r"""
  const [limit, want, action, wantTag] = Array.isArray(arg) ? arg : [arg, "", "", ""];
  const out = [];
  if (!document.body) return "[]";
  const REJECT = new Set(["SCRIPT", "STYLE", "NOSCRIPT", "TEMPLATE", "HEAD", "META", "LINK", "BR", "WBR"]);
  const SVG = "http://www.w3.org/2000/svg";
  // The element kinds of the C++ matcher (kind_of), for the light records.
  const ROOTS = new Set(["html", "body", "head"]);
  const CONTAINERS = new Set(["form", "main", "nav", "header", "footer", "aside", "section", "article", "fieldset",
    "table", "tbody", "thead", "tfoot", "ul", "ol", "dl", "iframe", "dialog"]);
  const CLICK_ROLES = new Set(["button", "link", "checkbox", "radio", "switch", "tab", "menuitem",
    "menuitemcheckbox", "menuitemradio", "option", "treeitem"]);
  const FILL_ROLES = new Set(["textbox", "searchbox", "spinbutton"]);
  const SELECT_ROLES = new Set(["listbox", "combobox"]);
  const BUTTON_INPUTS = new Set(["button", "submit", "reset", "image", "checkbox", "radio", "file", "color"]);
  const kindOf = (o) => {
    const tag = o.tag, type = (o.type || "").toLowerCase(), role = (o.role || "").toLowerCase();
    if (ROOTS.has(tag)) return "root";
    if (tag === "select") return "selectable";
    if (tag === "textarea") return "fillable";
    if (tag === "input") return BUTTON_INPUTS.has(type) ? "clickable" : type === "hidden" ? "other" : "fillable";
    if (tag === "button" || tag === "summary" || tag === "option" || (tag === "a" && o.href)) return "clickable";
    if (role) {
      if (CLICK_ROLES.has(role)) return "clickable";
      if (FILL_ROLES.has(role)) return "fillable";
      if (SELECT_ROLES.has(role)) return "selectable";
    }
    if (o.editable) return "fillable";
    if (CONTAINERS.has(tag)) return "container";
    if (o.clickable || tag === "a") return "clickable";
    return "other";
  };
  const control = want === "clickable" || want === "fillable" || want === "selectable";
  // Whether the element may stand for the lost one by its kind alone; the
  // matcher decides, and asks again without light records if it disagrees.
  const mayFit = (o) => {
    if (!want) return true;
    const k = kindOf(o);
    if (k === "root") return false;
    if (action === "click" && k === "container") return false;
    if (action === "fill" && k !== "fillable") return false;
    if (action === "select" && k !== "selectable") return false;
    if (control && k !== want) return false;
    if (want === "container" && o.tag !== wantTag) return false;
    if (want === "other" && k === "container") return false;
    return true;
  };
  const MAX_NODES = 200000;  // nodes walked in all: a huge page costs a bounded time
  let walked = 0;
  const trees = [document.body];
  for (let ti = 0; ti < trees.length && out.length < limit && walked < MAX_NODES; ti++) {
    const tree = trees[ti];
    const doc = tree.ownerDocument || document;
    // One walk over the tree's elements and texts: each element's first and
    // past-the-end text, so its neighbour texts need no walk of their own.
    const texts = [], goods = [], order = [], starts = [], ends = new Map(), open = [];
    let rejected = null;
    const w = doc.createTreeWalker(tree, NodeFilter.SHOW_ELEMENT | NodeFilter.SHOW_TEXT);
    let n;
    while ((n = w.nextNode()) && walked++ < MAX_NODES) {
      while (open.length && open[open.length - 1] !== n.parentNode) {
        const done = open.pop();
        ends.set(done, texts.length);
        if (done === rejected) rejected = null;
      }
      if (n.nodeType === 3) { texts.push(n); continue; }
      open.push(n);
      if (rejected) continue;
      const parent = n.parentElement;
      if (REJECT.has(n.tagName) || (parent && parent.namespaceURI === SVG)) { rejected = n; continue; }
      if (order.length + out.length < limit) { order.push(n); starts.push(texts.length); }
      if (n.shadowRoot) trees.push(n.shadowRoot);
      if (n.tagName === "IFRAME" || n.tagName === "FRAME") {
        try {
          const d = n.contentDocument;
          if (d && d.body) trees.push(d.body);
        } catch (e) {}
      }
    }
    while (open.length) ends.set(open.pop(), texts.length);
    for (let i = 0; i < order.length; i++) spans.set(order[i], [texts, starts[i], ends.get(order[i])]);
    const good = (i) => {
      let g = goods[i];
      if (g === undefined) {
        const p = texts[i].parentElement;
        g = (p && SKIP.has(p.tagName)) ? "" : clean(texts[i].data, 60);
        goods[i] = g;
      }
      return g;
    };
    const before = (s) => {
      for (let i = s - 1, k = 0; i >= 0 && k < 200; i--, k++) { const g = good(i); if (g) return g; }
      return "";
    };
    const after = (e) => {
      for (let i = e, k = 0; i < texts.length && k < 200; i++, k++) { const g = good(i); if (g) return g; }
      return "";
    };
    let lastHeading = "";
    for (let i = 0; i < order.length; i++) {
      const el = order[i];
      headings.set(el, lastHeading);
      try {
        const o = B(el);
        if (mayFit(o)) {
          neighbours.set(el, clean(before(starts[i]) + " " + after(ends.get(el)), 160));
          out.push(R(el, o));
        } else {
          out.push(L(el, o));
        }
      } catch (e) { out.push({}); }
      if (HEADINGS.has(el.tagName)) lastHeading = textOf(el, 80);
    }
  }
  return JSON.stringify(out);
}"""
)

#: Whether a locator matches exactly the element at a path (``locator.evaluate_all``
#: with the path from a fingerprint): 1 when it does, -1 when it matches one other
#: element, else how many it matches (0 or more than 1).
SAME_ELEMENT_SCRIPT = ("(els, wanted) => {" + _PATHS
                       + "if (els.length !== 1) return els.length; return xpathOf(els[0]) === wanted ? 1 : -1; }")

#: The HTML around given elements (paths of fingerprints), for the model: each element's
#: nearest form/section (or its grandparent), cleaned of scripts and styles,
#: within the given length in total. The argument is ``[paths, budget]``; run on
#: the page.
EXCERPT_SCRIPT = r"""(args) => {
  const [xpaths, budget] = args;
  // A path of a fingerprint: XPath steps, through "#shadow-root" and "#document".
  const walkSteps = (root, p) => {
    let node = root;
    for (const step of p.split("/")) {
      if (!step) continue;
      const m = /^([^\[\]]+)(?:\[(\d+)\])?$/.exec(step);
      if (!m) return null;
      const k = m[2] ? Number(m[2]) : 1;
      let seen = 0, found = null;
      for (const c of node.children) if (c.tagName.toLowerCase() === m[1] && ++seen === k) { found = c; break; }
      if (!found) return null;
      node = found;
    }
    return node === root ? null : node;
  };
  const nodeAt = (path) => {
    const parts = path.split(/\/(#shadow-root|#document)(?=\/|$)/);
    let root = document, el = null;
    for (let i = 0; i < parts.length; i += 2) {
      if (i > 0) {
        try { root = parts[i - 1] === "#shadow-root" ? el.shadowRoot : el.contentDocument; } catch (e) { root = null; }
        if (!root) return null;
      }
      el = walkSteps(root, parts[i]);
      if (!el) return null;
    }
    return el;
  };
  const parts = [], seen = new Set();
  const per = Math.max(400, Math.floor(budget / Math.max(1, xpaths.length)));
  for (const xp of xpaths) {
    let el = null;
    try { el = nodeAt(xp); } catch (e) {}
    if (!el) continue;
    let block = el.closest("form, fieldset, section, article, dialog, li, tr") ||
      (el.parentElement && el.parentElement.parentElement) || el.parentElement || el;
    const doc = el.ownerDocument;
    if (block === doc.body || block === doc.documentElement) block = el.parentElement || el;
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
