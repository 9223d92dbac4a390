"""Offline locator healer: reads the healing prompt and picks the element itself.

The prompt carries the page-object element name, the desired action, the step, the
selector that failed, the page's body HTML and, on a retry, the selectors already
rejected. The healer parses the HTML, scores every element against the words of the
element name (and, more weakly, of the failed selector) through its id, name, test id,
ARIA label, placeholder, associated label, visible text and a few other attributes,
favours elements of the kind the action needs, and answers one selector that is unique
in the parsed page, or "NO_MATCH". The same prompt always gives the same answer.
"""

from __future__ import annotations

import re
import unicodedata
from html.parser import HTMLParser

from .base import check_generate_args

NO_MATCH = "NO_MATCH"

# Minimum scores an element needs to be proposed: how well its attributes and text match
# the wanted words, and that plus the fit of its kind with the action.
CONTENT_THRESHOLD = 1.0
TOTAL_THRESHOLD = 1.0

# Candidates tried, best first, before giving up on rejected ones.
_MAX_CANDIDATES = 50

# ---------------------------------------------------------------------------
# Prompt reading

_CONTEXT_FIELDS = {
    "element": "- **Nombre del elemento en el POM:** ",
    "action": "- **Acción deseada:** ",
    "step": "- **Paso actual:** ",
}
_SALESFORCE_FIELD = "- **¿Es Salesforce?**: "
_FAILED_HEAD = "## SELECTOR QUE FALLÓ\n\n```\n"
_FAILED_TAIL = "\n```\n\n## INSTRUCCIONES CRÍTICAS"
_HTML_HEAD = "## HTML ACTUAL DE LA PÁGINA\n\n```html\n"
_HTML_TAIL = "\n```\n\n## RESPUESTA"
_REJECTED_HEAD = "## ⚠️ SELECTORES YA INTENTADOS"
_REJECTED_LINE = re.compile(r"^\s*\d+\. `(.*)` → ❌", re.MULTILINE)


def _field(text, label):
    start = text.find(label)
    if start < 0:
        return ""
    start += len(label)
    end = text.find("\n", start)
    return text[start:] if end < 0 else text[start:end]


def parse_prompt(prompt):
    """The parts of a healing prompt the healer uses, as a dict (missing parts are "")."""
    html_start = prompt.find(_HTML_HEAD)
    # Context values sit before the HTML; reading them there keeps page text out.
    head = prompt if html_start < 0 else prompt[:html_start]
    info = {key: _field(head, label).strip() for key, label in _CONTEXT_FIELDS.items()}

    failed = ""
    start = head.find(_FAILED_HEAD)
    if start >= 0:
        start += len(_FAILED_HEAD)
        end = head.find(_FAILED_TAIL, start)
        failed = head[start:end] if end >= 0 else _field(head, _FAILED_HEAD)
    info["failed_selector"] = failed.strip()

    html = None
    if html_start >= 0:
        body_start = html_start + len(_HTML_HEAD)
        end = prompt.rfind(_HTML_TAIL)
        html = prompt[body_start:end] if end >= body_start else prompt[body_start:]
    info["html"] = html

    rejected = []
    position = prompt.find(_REJECTED_HEAD)
    if position >= 0:
        for match in _REJECTED_LINE.finditer(prompt, position):
            selector = match.group(1).strip()
            if selector and selector not in rejected:
                rejected.append(selector)
    info["rejected"] = rejected
    info["salesforce"] = _field(head, _SALESFORCE_FIELD).strip().startswith("Sí")
    return info


# ---------------------------------------------------------------------------
# Words

_SYNONYM_GROUPS = [
    "login signin logon entrar ingresar acceder iniciar",
    "logout signout logoff salir",
    "close cerrar",
    "user username usuario userid",
    "password pass passwd pwd contrasena clave",
    "email mail correo",
    "search buscar busqueda find query",
    "submit enviar send",
    "save guardar",
    "cancel cancelar",
    "delete remove eliminar borrar",
    "next siguiente continue continuar",
    "back volver atras previous anterior",
    "accept aceptar ok confirm confirmar",
    "register signup registro registrar registrarse",
    "name nombre firstname",
    "lastname apellido apellidos surname",
    "phone telefono tel movil mobile",
    "address direccion",
    "city ciudad",
    "country pais",
    "message mensaje comment comentario",
    "add agregar anadir",
    "edit editar modify modificar",
    "cart carrito",
    "buy comprar checkout pagar pay",
    "welcome bienvenido bienvenida",
    "stage etapa fase",
    "account cuenta",
    "opportunity oportunidad",
    "contact contacto",
    "title titulo",
    "date fecha",
    "home inicio",
    "filter filtrar filtro",
    "price precio",
    "quantity cantidad",
    "description descripcion",
    "remember recordar recuerdame",
    "language idioma",
    "help ayuda",
    "profile perfil",
    "settings configuracion ajustes",
    "copy copiar",
    "detail details detalle detalles",
    "download descargar",
    "upload subir cargar",
    "print imprimir",
    "share compartir",
    "open abrir",
    "new nuevo nueva crear create",
]
_SYNONYMS = {}
for _group in _SYNONYM_GROUPS:
    _words = _group.split()
    for _word in _words:
        _SYNONYMS.setdefault(_word, set()).update(_words)

# Words of an element name that tell the kind of element, not which one.
_KIND_WORDS = {
    "button": "button", "btn": "button", "boton": "button", "bt": "button",
    "link": "link", "lnk": "link", "enlace": "link",
    "input": "input", "inp": "input", "field": "input", "campo": "input", "txt": "input",
    "textbox": "input", "textarea": "input", "caja": "input", "box": "input", "tb": "input",
    "select": "select", "sel": "select", "dropdown": "select", "combo": "select",
    "combobox": "select", "ddl": "select", "desplegable": "select", "lista": "select",
    "checkbox": "checkbox", "chk": "checkbox", "check": "checkbox",
    "radio": "radio", "rb": "radio",
}
_STOP_WORDS = {
    "el", "la", "los", "las", "de", "del", "en", "un", "una", "the", "of", "to", "an", "and",
    "or", "por", "para", "con", "my", "mi", "page", "pagina", "element", "elemento", "item",
    "locator", "selector", "xpath", "css",
}
# Words of a selector's own syntax, never a hint about the element.
_SELECTOR_NOISE = {
    "id", "class", "name", "type", "data", "testid", "test", "qa", "cy", "aria", "label",
    "placeholder", "role", "value", "title", "href", "text", "contains", "normalize", "space",
    "nth", "child", "of", "first", "last", "not", "has", "is", "div", "span", "form", "li",
    "ul", "td", "tr", "html", "body", "section", "main", "nav", "header", "footer", "string",
    "starts", "with", "and", "or", "self", "node", "following", "ancestor", "descendant",
    "parent", "sibling", "preceding", "visible", "true", "false", "old", "new",
}


def _fold(text):
    """Lower-case and drop accents (contraseña -> contrasena)."""
    decomposed = unicodedata.normalize("NFKD", text.lower())
    return "".join(ch for ch in decomposed if not unicodedata.combining(ch))


_CAMEL = re.compile(r"(?<=[a-z0-9])(?=[A-Z])|(?<=[A-Z])(?=[A-Z][a-z])")
_WORD = re.compile(r"[^\W_]+")
_SPLIT_DIGITS = re.compile(r"(?<=\D)(?=\d)|(?<=\d)(?=\D)")


def tokens(text):
    """Words of an identifier or a text: camelCase, snake_case and kebab-case split, folded."""
    if not text:
        return []
    out = []
    for chunk in _CAMEL.split(text):
        for word in _WORD.findall(_fold(chunk)):
            for piece in _SPLIT_DIGITS.split(word):
                if piece:
                    out.append(piece)
    return out


def _content_words(words, extra_noise=()):
    result = []
    for word in words:
        if len(word) < 2 or word.isdigit() or word in _STOP_WORDS or word in _KIND_WORDS:
            continue
        if word in extra_noise or word in result:
            continue
        result.append(word)
    return result


def _word_match(wanted, found):
    """How well a found word stands for a wanted one.

    1.0 the same word, 0.9 a synonym, 0.7 when one contains the other (user / username),
    0.6 when a synonym and the found word contain one another (usuario / usuarios), else 0.
    """
    if wanted == found:
        return 1.0
    if found in _SYNONYMS.get(wanted, ()):
        return 0.9
    shorter, longer = (wanted, found) if len(wanted) <= len(found) else (found, wanted)
    if len(shorter) >= 4 and shorter in longer:
        return 0.7
    for synonym in _SYNONYMS.get(wanted, ()):
        if len(synonym) >= 4 and len(found) >= 4 and (synonym in found or found in synonym):
            return 0.6
    return 0.0


# ---------------------------------------------------------------------------
# Actions

_QUOTED = re.compile(r"'[^']*'|\"[^\"]*\"|“[^”]*”")
# Word beginnings, so that "tap" does not fire inside "etapa" nor "escrib" inside "describir".
# Clicks are tested first: "click the select box" clicks.
_ACTION_WORDS = (
    ("click", re.compile(r"\b(click|clic|presion|puls|tap|press|toc[oa]\b)")),
    ("fill", re.compile(r"\b(rellen|escrib|ingres[oa]\b|fill|typ(?:e|ing)|input|tecle|introduc)")),
    ("select", re.compile(r"\b(selec|elij|eleg|choose|escoj)")),
)


def action_kind(action, step=""):
    """"click", "fill", "select" or "any" for an action text (the step text when it is empty)."""
    text = action if action.strip() else step
    text = _QUOTED.sub(" ", text).lower()
    for kind, pattern in _ACTION_WORDS:
        if pattern.search(text):
            return kind
    return "any"


# ---------------------------------------------------------------------------
# HTML model

_VOID = {
    "area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param",
    "source", "track", "wbr",
}
_INVISIBLE_TAGS = {"script", "style", "noscript", "template", "head", "title", "meta", "link"}
_SELF_CLOSING_SIBLINGS = {"li", "option", "p", "tr", "td", "th", "dt", "dd"}
_TEXT_INPUT_TYPES = {
    "", "text", "email", "password", "search", "tel", "url", "number", "date", "datetime-local",
    "month", "week", "time",
}
_CLICK_INPUT_TYPES = {"submit", "button", "reset", "image", "checkbox", "radio", "file"}
_CLICK_ROLES = {"button", "link", "menuitem", "tab", "checkbox", "radio", "option", "switch"}
_FILL_ROLES = {"textbox", "searchbox"}
_SELECT_ROLES = {"combobox", "listbox"}
_TEST_ID_ATTRS = ("data-testid", "data-test-id", "data-test", "data-qa", "data-cy")
_HIDDEN_STYLE = re.compile(r"display\s*:\s*none|visibility\s*:\s*hidden")
_MAX_DEPTH = 1000
_HEADINGS = {"h1", "h2", "h3", "h4", "h5", "h6"}


class Node:
    __slots__ = (
        "tag", "attrs", "parent", "children", "content", "order", "hidden",
        "text", "visible_text", "own_text", "kind", "size",
    )

    def __init__(self, tag, attrs, parent, order):
        self.tag = tag
        self.attrs = attrs
        self.parent = parent
        self.children = []
        self.content = []  # strings and child nodes, in document order
        self.order = order
        self.hidden = False
        self.text = ""
        self.visible_text = ""
        self.own_text = ""  # visible text outside nested controls and labels
        self.kind = ""
        self.size = 0  # number of descendant elements

    def attr(self, name):
        return self.attrs.get(name, "")


class _TreeBuilder(HTMLParser):
    """Builds the element tree of a body fragment, closing tags the way browsers mostly do."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.root = Node("body", {}, None, -1)
        self.nodes = []
        self.stack = [self.root]

    def handle_starttag(self, tag, attrs):
        if tag in ("html", "body"):
            return
        top = self.stack[-1]
        if tag in _SELF_CLOSING_SIBLINGS and top.tag == tag and len(self.stack) > 1:
            self.stack.pop()
            top = self.stack[-1]
        values = {}
        for name, value in attrs:
            values.setdefault(name, value if value is not None else "")
        node = Node(tag, values, top, len(self.nodes))
        style = values.get("style", "").lower()
        node.hidden = (
            top.hidden
            or tag in _INVISIBLE_TAGS
            or "hidden" in values
            or values.get("aria-hidden", "").lower() == "true"
            or (tag == "input" and values.get("type", "").lower() == "hidden")
            or bool(_HIDDEN_STYLE.search(style))
        )
        top.children.append(node)
        top.content.append(node)
        self.nodes.append(node)
        if tag not in _VOID and len(self.stack) < _MAX_DEPTH:
            self.stack.append(node)

    def handle_startendtag(self, tag, attrs):
        before = len(self.stack)
        self.handle_starttag(tag, attrs)
        if len(self.stack) > before:
            self.stack.pop()

    def handle_endtag(self, tag):
        for index in range(len(self.stack) - 1, 0, -1):
            if self.stack[index].tag == tag:
                del self.stack[index:]
                return

    def handle_data(self, data):
        self.stack[-1].content.append(data)


def _collapse(text):
    """XPath normalize-space(): runs of space, tab, CR and LF become one space, ends trimmed."""
    return re.sub(r"[ \t\r\n]+", " ", text).strip(" \t\r\n")


class Page:
    """Parsed body HTML with the indexes the selector builder needs."""

    def __init__(self, html):
        builder = _TreeBuilder()
        # html.parser gives up with an exception on a malformed "<![" section; such text
        # is shown as text by browsers anyway.
        try:
            builder.feed(html.replace("<![", "&lt;!["))
            builder.close()
        except Exception:  # noqa: BLE001 - keep whatever was parsed before the bad markup
            pass
        self.nodes = builder.nodes
        # Children follow their parent in document order, so a reverse pass sees them first.
        for node in reversed(self.nodes):
            node.kind = element_kind(node)
            text, visible, own = [], [], []
            for item in node.content:
                if isinstance(item, str):
                    text.append(item)
                    if not node.hidden:
                        visible.append(item)
                        own.append(item)
                else:
                    text.append(item.text)
                    visible.append(item.visible_text)
                    # A form's text is its buttons' and labels' text; it does not name the form.
                    own.append(item.own_text if not item.kind and item.tag != "label" else " ")
                    node.size += 1 + item.size
            node.text = "".join(text)
            node.visible_text = "" if node.hidden else "".join(visible)
            node.own_text = "" if node.hidden else "".join(own)

        self.by_id = {}
        self.counts = {}
        for node in self.nodes:
            ident = node.attrs.get("id")
            if ident:
                self.by_id.setdefault(ident, node)
            for name, value in node.attrs.items():
                self._count(("attr", name, value))
                self._count(("tagattr", node.tag, name, value))
            self._count(("text", node.tag, _collapse(node.text)))

        self.labels = {}
        for node in self.nodes:
            target = node.attrs.get("for")
            if node.tag == "label" and target:
                self.labels.setdefault(target, []).append(node.visible_text)

    def _count(self, key):
        self.counts[key] = self.counts.get(key, 0) + 1

    def count(self, *key):
        return self.counts.get(key, 0)

    def label_text(self, node):
        parts = list(self.labels.get(node.attrs.get("id", ""), ()))
        for ref in node.attrs.get("aria-labelledby", "").split():
            target = self.by_id.get(ref)
            if target is not None:
                parts.append(target.visible_text)
        ancestor = node.parent
        depth = 0
        while ancestor is not None and depth < _MAX_DEPTH:
            if ancestor.tag == "label":
                parts.append(ancestor.visible_text)
                break
            ancestor = ancestor.parent
            depth += 1
        return " ".join(parts)


def element_kind(node):
    """"click", "fill", "select" or "" for what the element lets a user do."""
    tag = node.tag
    role = node.attr("role").lower()
    if tag == "input":
        kind = node.attr("type").lower()
        if kind in _TEXT_INPUT_TYPES:
            return "fill"
        if kind in _CLICK_INPUT_TYPES:
            return "click"
        return ""
    editable = "contenteditable" in node.attrs and node.attr("contenteditable").lower() in ("", "true")
    if tag == "textarea" or role in _FILL_ROLES or editable:
        return "fill"
    if tag == "select" or role in _SELECT_ROLES:
        return "select"
    if tag in ("button", "a", "summary") or role in _CLICK_ROLES or "onclick" in node.attrs:
        return "click"
    return ""


_KIND_FIT = {
    # action kind -> {element kind: bonus}; anything else gets the "other" value
    "click": {"click": 1.0, "select": -0.5, "fill": -1.5, "other": -1.0},
    "fill": {"fill": 1.0, "other": 0.0},
    "select": {"select": 1.0, "click": 0.0, "fill": -0.5, "other": -1.0},
    "any": {"fill": 0.2, "click": 0.2, "select": 0.2, "other": 0.0},
}


def _hint_fits(hint, node, kind):
    if hint == "button":
        return node.tag == "button" or node.attr("role") == "button" or (
            node.tag == "input" and node.attr("type").lower() in ("submit", "button", "reset", "image")
        )
    if hint == "link":
        return node.tag == "a" or node.attr("role") == "link"
    if hint == "input":
        return kind == "fill"
    if hint == "select":
        return kind == "select"
    if hint in ("checkbox", "radio"):
        return node.attr("type").lower() == hint or node.attr("role") == hint
    return False


# ---------------------------------------------------------------------------
# Scoring


def _sources(page, node):
    """(weight, words) for each place that can name the element."""
    attrs = node.attrs
    found = []

    def add(weight, value):
        words = tokens(value)
        if words:
            found.append((weight, words))

    add(3.0, attrs.get("id", ""))
    for name in _TEST_ID_ATTRS:
        add(3.0, attrs.get(name, ""))
    add(3.0, attrs.get("name", ""))
    add(2.5, attrs.get("aria-label", ""))
    add(2.5, page.label_text(node))
    add(2.0, attrs.get("placeholder", ""))
    add(1.5, attrs.get("title", ""))
    add(1.0, attrs.get("alt", ""))
    if node.tag == "input":
        kind = attrs.get("type", "").lower()
        if kind in ("submit", "button", "reset"):
            add(2.5, attrs.get("value", ""))
        if kind:
            add(1.5, kind)
    if node.tag == "a":
        add(1.0, attrs.get("href", ""))
    add(0.6, attrs.get("class", ""))
    if node.tag in _HEADINGS:
        found.append((1.0, ["heading", "title", "titulo", "encabezado"]))
    words = tokens(node.own_text)
    if words:
        # Long texts belong to containers; their words say little about the element itself.
        scale = 1.0 if len(words) <= 4 else 4.0 / len(words)
        found.append((2.5 * scale, words))
    return found


def _precision(wanted, sources):
    """Weighted share of the naming sources' words that the wanted words account for.

    Only sources that match at all count. Separates "Guardar" from "Guardar y nuevo" when
    both match the word save.
    """
    total = weights = 0.0
    for weight, words in sources:
        if weight < 1.5:
            continue
        relevant = [found for found in words if found not in _STOP_WORDS and found not in ("y", "and")]
        matched = sum(1 for found in relevant if any(_word_match(word, found) for word in wanted))
        if matched:
            total += weight * matched / len(relevant)
            weights += weight
    return total / weights if weights else 0.0


def _match_score(wanted, sources):
    """Mean over the wanted words of the best weighted match among the sources."""
    if not wanted:
        return 0.0
    total = 0.0
    for word in wanted:
        best = 0.0
        for weight, words in sources:
            if weight <= best:
                continue
            quality = max(_word_match(word, found) for found in words)
            best = max(best, weight * quality)
        total += best
    return total / len(wanted)


def score_elements(page, name_words, hint_words, kind_hints, action):
    """[(score, content score, node)] for every visible element that clears the thresholds."""
    results = []
    for node in page.nodes:
        if node.hidden:
            continue
        sources = _sources(page, node)
        if not sources:
            continue
        if name_words:
            content = _match_score(name_words, sources) + 0.4 * _match_score(hint_words, sources)
        else:
            content = _match_score(hint_words, sources)
        if content < CONTENT_THRESHOLD:
            continue
        kind = node.kind
        if action == "fill" and kind != "fill":
            continue  # text can only be typed into a field
        score = content + 0.3 * _precision(name_words or hint_words, sources)
        score += _KIND_FIT[action].get(kind or "other", _KIND_FIT[action]["other"])
        if any(_hint_fits(hint, node, kind) for hint in kind_hints):
            score += 0.5
        if score >= TOTAL_THRESHOLD:
            results.append((score, content, node))
    results.sort(key=lambda item: (-round(item[0], 6), item[2].size, item[2].order))
    return results


# ---------------------------------------------------------------------------
# Selectors

_CSS_IDENT = re.compile(r"^-?[A-Za-z_][A-Za-z0-9_-]*$")
# Tag names usable as such in CSS and XPath (not "force:record", which reads as a namespace).
_PLAIN_TAG = re.compile(r"^[a-z][a-z0-9-]*$")
# What the self-healing manager accepts as a CSS answer (XPath always passes).
_ACCEPTED_CSS = re.compile(r"^[a-zA-Z#.\[\]@\-_:=\"'\s\w()>~+*^$|,]+$")
_REFUSED_WORDS = ("http", "www.", "no se encontr", "no_match", "no match", "error", "sorry")
_GENERATED_ID = re.compile(r"\d{3,}|^(ember|react|mui|radix|headlessui|ng-|j_id|ext-gen)")
# Lightning numbers the ids of its inputs (input-45, combobox-7) afresh on every render.
_GENERATED_ID_SALESFORCE = re.compile(_GENERATED_ID.pattern + r"|-\d+$")


def _accepted_css(selector):
    lowered = selector.lower()
    return not any(word in lowered for word in _REFUSED_WORDS) and bool(_ACCEPTED_CSS.match(selector))


def xpath_literal(value):
    if "'" not in value:
        return f"'{value}'"
    if '"' not in value:
        return f'"{value}"'
    pieces = value.split("'")
    return "concat(" + ", \"'\", ".join(f"'{piece}'" for piece in pieces) + ")"


def _css_value_ok(value):
    return value and '"' not in value and "\\" not in value and "\n" not in value and "\r" not in value


def _absolute_path(node):
    steps = []
    current = node
    while current is not None and current.parent is not None and len(steps) < _MAX_DEPTH:
        parent = current.parent
        if _PLAIN_TAG.match(current.tag):
            same = [child for child in parent.children if child.tag == current.tag]
            step = current.tag
        else:
            same = parent.children
            step = "*"
        if len(same) > 1:
            step += f"[{same.index(current) + 1}]"
        steps.append(step)
        # Browsers put table rows written straight under <table> into an implicit <tbody>.
        if current.tag == "tr" and parent.tag == "table":
            steps.append("tbody")
        current = parent
    # Playwright reads a selector as XPath when it starts with "//"; "/html" alone would be CSS.
    return "//html/body/" + "/".join(reversed(steps))


def selectors_for(page, node, salesforce=False):
    """Selectors that match only `node` in the parsed page, most robust first."""
    found = []
    generated = _GENERATED_ID_SALESFORCE if salesforce else _GENERATED_ID

    def add(selector):
        # The manager strips backticks and keeps only the first line of an answer.
        if selector and selector not in found and not any(ch in selector for ch in "`\n\r"):
            found.append(selector)

    plain_tag = bool(_PLAIN_TAG.match(node.tag))

    def attribute(name, value, qualified):
        """CSS [name="value"] when the manager accepts it, else the XPath equivalent."""
        if qualified and not plain_tag:
            return
        count = page.count("tagattr", node.tag, name, value) if qualified else page.count("attr", name, value)
        if count != 1:
            return
        css = f'{node.tag if qualified else ""}[{name}="{value}"]'
        if _css_value_ok(value) and _accepted_css(css):
            add(css)
        else:
            add(f"//{node.tag if qualified else '*'}[@{name}={xpath_literal(value)}]")

    ident = node.attrs.get("id", "")
    if ident and page.count("attr", "id", ident) == 1 and not generated.search(ident):
        css = f"#{ident}"
        if _CSS_IDENT.match(ident) and _accepted_css(css):
            add(css)
        else:
            attribute("id", ident, False)
    for name in _TEST_ID_ATTRS:
        value = node.attrs.get(name, "")
        if value:
            attribute(name, value, False)
    for name in ("name", "aria-label", "placeholder"):
        value = node.attrs.get(name, "")
        if value:
            attribute(name, value, True)
    text = _collapse(node.text)
    if plain_tag and text and len(text) <= 80 and page.count("text", node.tag, text) == 1:
        add(f"//{node.tag}[normalize-space()={xpath_literal(text)}]")
    if node.tag == "input" and node.attr("type").lower() in ("submit", "button", "reset"):
        value = node.attrs.get("value", "")
        if value:
            attribute("value", value, True)
    if ident and page.count("attr", "id", ident) == 1 and not found:
        # A generated-looking id is still better than a position.
        attribute("id", ident, False)
    add(_absolute_path(node))
    return found


# ---------------------------------------------------------------------------
# The healer


def heal(prompt):
    """Selector for the element the prompt asks for, or "NO_MATCH"."""
    info = parse_prompt(prompt)
    if not info["html"]:
        return NO_MATCH
    element_words = tokens(info["element"])
    name_words = _content_words(element_words)
    kind_hints = sorted({_KIND_WORDS[word] for word in element_words if word in _KIND_WORDS})
    action = action_kind(info["action"], info["step"])

    hint_words = _content_words(tokens(info["failed_selector"]), _SELECTOR_NOISE)
    if action != "fill":
        # Quoted words of a click or check step usually are the element's own text.
        for quoted in _QUOTED.findall(info["step"]):
            hint_words += _content_words(tokens(quoted))
    hint_words = [word for word in dict.fromkeys(hint_words) if word not in name_words]
    if not name_words and not hint_words:
        return NO_MATCH

    page = Page(info["html"])
    rejected = {selector.strip() for selector in info["rejected"]}
    failed = info["failed_selector"].strip()
    for _, _, node in score_elements(page, name_words, hint_words, kind_hints, action)[:_MAX_CANDIDATES]:
        options = selectors_for(page, node, info["salesforce"])
        if any(option in rejected for option in options):
            # Already tried on the live page and refused there; another spelling would be too.
            continue
        for option in options:
            if option != failed:
                return option
    return NO_MATCH


class LocalProvider:
    """Provider that needs no network or key: answers healing prompts by reading their HTML."""

    name = "local"

    def __init__(self, model=None):
        self.model = model or "heuristic"

    def __repr__(self):
        return f"<LocalProvider model={self.model!r}>"

    def generate(self, prompt, temperature=0.1):
        check_generate_args(prompt, temperature)
        return heal(prompt)
