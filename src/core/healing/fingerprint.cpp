#include "core/healing/fingerprint.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <unordered_map>

namespace tarvo::healing {

namespace {

using nlohmann::json;

// ------------------------------------------------------------------ parsing

std::string text_field(const json& o, const char* key) {
  auto it = o.find(key);
  if (it == o.end() || !it->is_string()) return {};
  return it->get<std::string>();
}

double number_field(const json& o, const char* key) {
  auto it = o.find(key);
  if (it == o.end() || !it->is_number()) return 0;
  double v = it->get<double>();
  return std::isfinite(v) ? v : 0;
}

bool flag_field(const json& o, const char* key, bool fallback) {
  auto it = o.find(key);
  if (it == o.end() || !it->is_boolean()) return fallback;
  return it->get<bool>();
}

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// What every parsed fingerprint gets after its fields are read.
void finish(Fingerprint& f) {
  // An input button shows its value as its text; compared as a text it keeps the
  // weight a <button>'s text has.
  if (f.tag == "input" && f.text.empty() && (f.type == "submit" || f.type == "button" || f.type == "reset"))
    f.text = f.value;
}

Fingerprint from_json(const json& o) {
  Fingerprint f;
  if (!o.is_object()) return f;
  f.tag = ascii_lower(text_field(o, "tag"));
  f.id = text_field(o, "id");
  f.name = text_field(o, "name");
  f.type = ascii_lower(text_field(o, "type"));
  f.role = ascii_lower(text_field(o, "role"));
  f.classes = text_field(o, "classes");
  f.text = text_field(o, "text");
  f.label = text_field(o, "label");
  f.aria_label = text_field(o, "aria_label");
  f.placeholder = text_field(o, "placeholder");
  f.title = text_field(o, "title");
  f.alt = text_field(o, "alt");
  f.value = text_field(o, "value");
  f.href = text_field(o, "href");
  f.testid = text_field(o, "testid");
  f.testid_attr = text_field(o, "testid_attr");
  f.xpath = text_field(o, "xpath");
  f.id_xpath = text_field(o, "id_xpath");
  f.neighbours = text_field(o, "neighbours");
  f.context = text_field(o, "context");
  f.landmark = text_field(o, "landmark");
  f.x = number_field(o, "x");
  f.y = number_field(o, "y");
  f.width = number_field(o, "width");
  f.height = number_field(o, "height");
  f.enabled = flag_field(o, "enabled", true);
  f.visible = flag_field(o, "visible", true);
  f.editable = flag_field(o, "editable", false);
  f.clickable_hint = flag_field(o, "clickable", false);
  f.partial = flag_field(o, "light", false);
  f.only = flag_field(o, "only", false);
  finish(f);
  return f;
}

// Reads an array of fingerprints straight into the structs, without building
// the JSON tree first (a page's candidates are hundreds of objects, read on
// every heal). Gives what from_json gives for each element of the array.
class FingerprintListReader : public nlohmann::json_sax<json> {
 public:
  std::vector<Fingerprint> out;
  bool array_seen = false;

  bool null() override { return scalar(Value::Other); }
  bool boolean(bool v) override {
    flag_ = v;
    return scalar(Value::Flag);
  }
  bool number_integer(number_integer_t v) override {
    number_ = static_cast<double>(v);
    return scalar(Value::Number);
  }
  bool number_unsigned(number_unsigned_t v) override {
    number_ = static_cast<double>(v);
    return scalar(Value::Number);
  }
  bool number_float(number_float_t v, const string_t&) override {
    number_ = v;
    return scalar(Value::Number);
  }
  bool string(string_t& v) override {
    text_ = &v;
    return scalar(Value::Text);
  }
  bool binary(binary_t&) override { return scalar(Value::Other); }
  bool start_object(std::size_t) override {
    if (depth_ == 1) out.emplace_back();  // an element of the array
    if (depth_ == 2) set_field(Value::Other);  // an object as a value: the field's default
    ++depth_;
    return true;
  }
  bool key(string_t& k) override {
    if (depth_ == 2) field_ = field_of(k);
    return true;
  }
  bool end_object() override {
    if (--depth_ == 1) finish(out.back());
    return true;
  }
  bool start_array(std::size_t) override {
    if (depth_ == 0) array_seen = true;
    if (depth_ == 1) out.emplace_back();  // not an object: an empty fingerprint
    if (depth_ == 2) set_field(Value::Other);
    ++depth_;
    return true;
  }
  bool end_array() override {
    --depth_;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  enum class Value { Text, Number, Flag, Other };
  enum Field {
    kNone, kTag, kId, kName, kType, kRole, kClasses, kText, kLabel, kAriaLabel, kPlaceholder, kTitle, kAlt,
    kValue, kHref, kTestid, kTestidAttr, kXpath, kIdXpath, kNeighbours, kContext, kX, kY, kWidth, kHeight,
    kEnabled, kVisible, kEditable, kClickable, kLight, kOnly, kLandmark
  };

  static Field field_of(const std::string& k) {
    static const std::unordered_map<std::string, Field> fields{
        {"tag", kTag}, {"id", kId}, {"name", kName}, {"type", kType}, {"role", kRole}, {"classes", kClasses},
        {"text", kText}, {"label", kLabel}, {"aria_label", kAriaLabel}, {"placeholder", kPlaceholder},
        {"title", kTitle}, {"alt", kAlt}, {"value", kValue}, {"href", kHref}, {"testid", kTestid},
        {"testid_attr", kTestidAttr}, {"xpath", kXpath}, {"id_xpath", kIdXpath}, {"neighbours", kNeighbours},
        {"context", kContext}, {"x", kX}, {"y", kY}, {"width", kWidth}, {"height", kHeight},
        {"enabled", kEnabled}, {"visible", kVisible}, {"editable", kEditable}, {"clickable", kClickable},
        {"light", kLight}, {"only", kOnly}, {"landmark", kLandmark}};
    auto it = fields.find(k);
    return it == fields.end() ? kNone : it->second;
  }

  bool scalar(Value kind) {
    if (depth_ == 1) out.emplace_back();  // a bare value in the array: an empty fingerprint
    if (depth_ == 2) set_field(kind);
    return true;
  }

  // The value of the current key; a value of another type gives the field's
  // default, as a missing one does (the last of repeated keys counts).
  void set_field(Value kind) {
    if (out.empty()) return;
    Fingerprint& f = out.back();
    auto text = [&](std::string& target, bool lower) {
      target = kind == Value::Text ? (lower ? ascii_lower(*text_) : std::move(*text_)) : std::string();
    };
    auto number = [&](double& target) {
      target = kind == Value::Number && std::isfinite(number_) ? number_ : 0;
    };
    auto flag = [&](bool& target, bool fallback) { target = kind == Value::Flag ? flag_ : fallback; };
    switch (field_) {
      case kNone: break;
      case kTag: text(f.tag, true); break;
      case kId: text(f.id, false); break;
      case kName: text(f.name, false); break;
      case kType: text(f.type, true); break;
      case kRole: text(f.role, true); break;
      case kClasses: text(f.classes, false); break;
      case kText: text(f.text, false); break;
      case kLabel: text(f.label, false); break;
      case kAriaLabel: text(f.aria_label, false); break;
      case kPlaceholder: text(f.placeholder, false); break;
      case kTitle: text(f.title, false); break;
      case kAlt: text(f.alt, false); break;
      case kValue: text(f.value, false); break;
      case kHref: text(f.href, false); break;
      case kTestid: text(f.testid, false); break;
      case kTestidAttr: text(f.testid_attr, false); break;
      case kXpath: text(f.xpath, false); break;
      case kIdXpath: text(f.id_xpath, false); break;
      case kNeighbours: text(f.neighbours, false); break;
      case kContext: text(f.context, false); break;
      case kX: number(f.x); break;
      case kY: number(f.y); break;
      case kWidth: number(f.width); break;
      case kHeight: number(f.height); break;
      case kEnabled: flag(f.enabled, true); break;
      case kVisible: flag(f.visible, true); break;
      case kEditable: flag(f.editable, false); break;
      case kClickable: flag(f.clickable_hint, false); break;
      case kLight: flag(f.partial, false); break;
      case kOnly: flag(f.only, false); break;
      case kLandmark: text(f.landmark, false); break;
    }
    field_ = kNone;
  }

  int depth_ = 0;
  Field field_ = kNone;
  std::string* text_ = nullptr;
  double number_ = 0;
  bool flag_ = false;
};

// ------------------------------------------------------------ text measures

bool word_byte(unsigned char c) { return std::isalnum(c) || c >= 0x80; }

std::vector<std::string> tokens(std::string_view s) {
  std::vector<std::string> out;
  std::string cur;
  for (unsigned char c : s) {
    if (word_byte(c)) {
      cur.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c));
    } else if (!cur.empty()) {
      out.push_back(std::move(cur));
      cur.clear();
    }
  }
  if (!cur.empty()) out.push_back(std::move(cur));
  return out;
}

// Sørensen–Dice coefficient of two multisets given as sorted vectors.
template <typename T>
double dice_sorted(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.empty() && b.empty()) return 1;
  if (a.empty() || b.empty()) return 0;
  std::size_t i = 0, j = 0, common = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i] < b[j]) {
      ++i;
    } else if (b[j] < a[i]) {
      ++j;
    } else {
      ++common, ++i, ++j;
    }
  }
  return 2.0 * static_cast<double>(common) / static_cast<double>(a.size() + b.size());
}

constexpr std::size_t kCompareCap = 256;  // longer texts are compared on their start

std::vector<std::uint16_t> bigrams(std::string_view s) {
  std::string low = ascii_lower(s.substr(0, kCompareCap));
  std::vector<std::uint16_t> out;
  if (low.size() < 2) {
    if (!low.empty()) out.push_back(static_cast<unsigned char>(low[0]));
    return out;
  }
  out.reserve(low.size() - 1);
  for (std::size_t i = 0; i + 1 < low.size(); ++i)
    out.push_back(static_cast<std::uint16_t>(static_cast<unsigned char>(low[i]) << 8 |
                                             static_cast<unsigned char>(low[i + 1])));
  std::sort(out.begin(), out.end());
  return out;
}

bool same_text(std::string_view a, std::string_view b) { return ascii_lower(a) == ascii_lower(b); }

// Words of an identifier: "saveProfile-btn" -> save, profile, btn.
std::vector<std::string> identifier_words(std::string_view s) {
  std::string spaced;
  char prev = 0;
  for (char c : s.substr(0, kCompareCap)) {
    if (c >= 'A' && c <= 'Z' && prev >= 'a' && prev <= 'z') spaced.push_back(' ');
    spaced.push_back(c);
    prev = c;
  }
  auto t = tokens(spaced);
  std::sort(t.begin(), t.end());
  return t;
}

// Identifiers and URLs: the better of character bigrams and words, so that
// "go" -> "go-search" and "save-profile" -> "profile-save-btn" keep credit.
std::vector<std::string> digit_runs(std::string_view s) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s.substr(0, kCompareCap)) {
    if (c >= '0' && c <= '9') {
      cur.push_back(c);
    } else if (!cur.empty()) {
      out.push_back(std::move(cur));
      cur.clear();
    }
  }
  if (!cur.empty()) out.push_back(std::move(cur));
  return out;
}

// Two identifiers of one family that name different members: they share a word
// and each has a word (not a number) the other lacks. "books-5-isbn" /
// "books-5-title", "id_first_name" / "id_last_name", "new-email" / "old-email"
// name two fields of the same form, not one field renamed; a renamed element is
// found by its other attributes instead.
bool different_members(std::string_view a, std::string_view b) {
  auto words = [](std::string_view s) {
    std::set<std::string> out;
    for (auto& w : identifier_words(s))
      if (!std::all_of(w.begin(), w.end(), [](char c) { return c >= '0' && c <= '9'; })) out.insert(w);
    return out;
  };
  auto wa = words(a), wb = words(b);
  bool shared = false, only_a = false, only_b = false;
  for (const auto& w : wa) (wb.count(w) ? shared : only_a) = true;
  for (const auto& w : wb)
    if (!wa.count(w)) only_b = true;
  return shared && only_a && only_b;
}

// A link's path: what comes before its query and fragment.
std::string_view link_path(std::string_view href) { return href.substr(0, href.find_first_of("?#")); }

double string_similarity(std::string_view a, std::string_view b) {
  if (same_text(a, b)) return 1;
  if (different_members(a, b)) return 0;
  double sim = std::max(dice_sorted(bigrams(a), bigrams(b)), dice_sorted(identifier_words(a), identifier_words(b)));
  // "password1" / "password2", "row-7" / "row-8": other numbers, another thing.
  auto na = digit_runs(a), nb = digit_runs(b);
  if (!na.empty() && !nb.empty() && na != nb) sim *= 0.5;
  return sim;
}

// Links: as identifiers; a link with other query parameters ("?_facet=genre"
// against "?_sort=genre") does something else, and gets no credit.
double href_similarity(std::string_view a, std::string_view b) {
  double sim = string_similarity(a, b);
  auto keys = [](std::string_view h) {
    std::set<std::string> out;
    auto q = h.find('?');
    if (q == std::string_view::npos) return out;
    std::string_view rest = h.substr(q + 1);
    rest = rest.substr(0, rest.find('#'));
    while (!rest.empty()) {
      auto amp = rest.find('&');
      std::string_view part = rest.substr(0, amp);
      out.insert(std::string(part.substr(0, part.find('='))));
      if (amp == std::string_view::npos) break;
      rest = rest.substr(amp + 1);
    }
    return out;
  };
  auto ka = keys(a), kb = keys(b);
  if (!ka.empty() && !kb.empty()) {
    bool shared = false;
    for (const auto& k : ka) shared = shared || kb.count(k);
    if (!shared) sim = 0;
  }
  return sim;
}

// Tags that stand in for each other across releases get half credit: a link that
// became a button, a heading that became a summary, a cell that became a header.
double tag_similarity(const std::string& a, const std::string& b) {
  if (a == b) return 1;
  static const std::vector<std::set<std::string>> groups{
      {"a", "button"},
      {"h1", "h2", "h3", "h4", "h5", "h6", "summary", "legend", "caption"},
      {"td", "th"},
      {"ul", "ol", "nav", "menu"},
      {"span", "div", "p", "label", "strong", "em", "b", "small"},
      {"input", "textarea"},
  };
  for (const auto& g : groups)
    if (g.count(a) && g.count(b)) return 0.5;
  return 0;
}

std::vector<std::string> sorted_tokens(std::string_view s) {
  auto t = tokens(s.substr(0, kCompareCap));
  std::sort(t.begin(), t.end());
  return t;
}

// Visible texts: mean of word-level and character-level Dice, so a reworded
// label keeps some credit and one changed word out of two loses half.
double text_similarity(std::string_view a, std::string_view b) {
  if (same_text(a, b)) return 1;
  auto ta = sorted_tokens(a), tb = sorted_tokens(b);
  double sim = 0.5 * dice_sorted(ta, tb) + 0.5 * dice_sorted(bigrams(a), bigrams(b));
  // Numbers name things ("Factura 7", "Pedido 1042"): other numbers, another thing.
  auto numbers = [](const std::vector<std::string>& t) {
    std::vector<std::string> out;
    for (const auto& w : t)
      if (!w.empty() && std::all_of(w.begin(), w.end(), [](char c) { return c >= '0' && c <= '9'; }))
        out.push_back(w);
    return out;
  };
  auto na = numbers(ta), nb = numbers(tb);
  if (!na.empty() && !nb.empty() && na != nb) sim *= 0.5;
  return sim;
}

double word_similarity(std::string_view a, std::string_view b) {
  if (same_text(a, b)) return 1;
  return dice_sorted(sorted_tokens(a), sorted_tokens(b));
}

std::vector<std::string> split_ws(std::string_view s) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
      if (!cur.empty()) out.push_back(std::move(cur));
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) out.push_back(std::move(cur));
  return out;
}

double class_similarity(std::string_view a, std::string_view b) {
  std::set<std::string> sa, sb;
  for (auto& t : split_ws(a)) sa.insert(t);
  for (auto& t : split_ws(b)) sb.insert(t);
  if (sa.empty() && sb.empty()) return 1;
  std::size_t common = 0;
  for (auto& t : sa) common += sb.count(t);
  std::size_t uni = sa.size() + sb.size() - common;
  return uni ? static_cast<double>(common) / static_cast<double>(uni) : 0;
}

// Paths compared step by step ("div[2]", "form", "button"), as multisets, so a
// wrapper added on the way costs one step rather than the whole path.
double path_similarity(std::string_view a, std::string_view b) {
  if (a == b) return 1;
  auto steps = [](std::string_view p) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : p) {
      if (c == '/') {
        if (!cur.empty()) out.push_back(std::move(cur));
        cur.clear();
      } else {
        cur.push_back(c);
      }
    }
    if (!cur.empty()) out.push_back(std::move(cur));
    std::sort(out.begin(), out.end());
    return out;
  };
  return dice_sorted(steps(a), steps(b));
}

double position_similarity(const Fingerprint& a, const Fingerprint& b) {
  double ax = a.x + a.width / 2, ay = a.y + a.height / 2;
  double bx = b.x + b.width / 2, by = b.y + b.height / 2;
  // sqrt rather than hypot: glibc 2.35's hypot symbol would raise the wheel's manylinux floor.
  double d = std::sqrt((ax - bx) * (ax - bx) + (ay - by) * (ay - by));
  return std::max(0.0, 1.0 - d / 400.0);
}

double size_similarity(const Fingerprint& a, const Fingerprint& b) {
  double aa = a.width * a.height, ba = b.width * b.height;
  if (aa <= 0 || ba <= 0) return 0;
  return std::min(aa, ba) / std::max(aa, ba);
}

}  // namespace

std::optional<Fingerprint> parse_fingerprint(std::string_view text) {
  json o = json::parse(text.begin(), text.end(), nullptr, false);
  if (o.is_discarded() || !o.is_object()) return std::nullopt;
  Fingerprint f = from_json(o);
  if (f.tag.empty()) return std::nullopt;
  return f;
}

std::optional<std::vector<Fingerprint>> parse_fingerprints(std::string_view text) {
  FingerprintListReader reader;
  if (!json::sax_parse(text.begin(), text.end(), &reader) || !reader.array_seen) return std::nullopt;
  return std::move(reader.out);
}

// ------------------------------------------------------------------- kinds

ElementKind kind_of(const Fingerprint& f) {
  static const std::set<std::string> roots{"html", "body", "head"};
  static const std::set<std::string> containers{"form",  "main",  "nav",   "header", "footer", "aside",
                                                "section", "article", "fieldset", "table", "tbody", "thead",
                                                "tfoot", "ul",    "ol",    "dl",     "iframe", "dialog"};
  static const std::set<std::string> clickable_roles{"button", "link",     "checkbox",         "radio",
                                                     "switch", "tab",      "menuitem",         "menuitemcheckbox",
                                                     "menuitemradio", "option", "treeitem"};
  static const std::set<std::string> fillable_roles{"textbox", "searchbox", "spinbutton"};
  static const std::set<std::string> selectable_roles{"listbox", "combobox"};
  static const std::set<std::string> button_types{"button", "submit", "reset", "image", "checkbox",
                                                  "radio",  "file",   "color"};
  if (roots.count(f.tag)) return ElementKind::Root;
  if (f.tag == "select") return ElementKind::Selectable;
  if (f.tag == "textarea") return ElementKind::Fillable;
  if (f.tag == "input") {
    if (button_types.count(f.type)) return ElementKind::Clickable;
    if (f.type == "hidden") return ElementKind::Other;
    return ElementKind::Fillable;
  }
  if (f.tag == "button" || f.tag == "summary" || f.tag == "option" || (f.tag == "a" && !f.href.empty()))
    return ElementKind::Clickable;
  if (!f.role.empty()) {
    if (clickable_roles.count(f.role)) return ElementKind::Clickable;
    if (fillable_roles.count(f.role)) return ElementKind::Fillable;
    if (selectable_roles.count(f.role)) return ElementKind::Selectable;
  }
  if (f.editable) return ElementKind::Fillable;
  if (containers.count(f.tag)) return ElementKind::Container;
  if (f.clickable_hint || f.tag == "a") return ElementKind::Clickable;
  return ElementKind::Other;
}

const char* kind_name(ElementKind k) {
  switch (k) {
    case ElementKind::Clickable: return "clickable";
    case ElementKind::Fillable: return "fillable";
    case ElementKind::Selectable: return "selectable";
    case ElementKind::Container: return "container";
    case ElementKind::Root: return "root";
    case ElementKind::Other: return "other";
  }
  return "other";
}

const char* action_name(ActionKind a) {
  switch (a) {
    case ActionKind::Click: return "click";
    case ActionKind::Fill: return "fill";
    case ActionKind::Select: return "select";
    case ActionKind::Read: return "read";
    case ActionKind::Any: return "any";
  }
  return "any";
}

ActionKind action_kind(std::string_view operation, std::string_view action_context) {
  std::string op = ascii_lower(operation);
  if (op == "click" || op == "check" || op == "uncheck" || op == "tap") return ActionKind::Click;
  if (op == "fill" || op == "type") return ActionKind::Fill;
  if (op == "select_option" || op == "select") return ActionKind::Select;
  if (op == "get_text" || op == "is_visible" || op == "read") return ActionKind::Read;
  if (op == "hover") return ActionKind::Any;
  // A plain find: the step's action description says what comes next.
  std::string ctx = ascii_lower(action_context);
  auto has = [&](std::string_view w) { return ctx.find(w) != std::string::npos; };
  if (has("hacer click") || has("click")) return ActionKind::Click;
  if (has("escribir texto") || has("fill")) return ActionKind::Fill;
  if (has("seleccionar una opci")) return ActionKind::Select;
  return ActionKind::Any;
}

// ------------------------------------------------------- opposite actions

namespace {

// Each row: words of one action, then (after the empty marker) its opposite.
struct OppositePair {
  std::vector<std::string> a, b;
};

const std::vector<OppositePair>& opposite_table() {
  static const std::vector<OppositePair> table{
      {{"add", "create", "new", "añadir", "agregar", "anadir", "crear", "nuevo", "nueva"},
       {"remove", "delete", "del", "eliminar", "borrar", "quitar", "suprimir"}},
      {{"enable", "activate", "activar", "habilitar", "on"}, {"disable", "deactivate", "desactivar",
                                                              "deshabilitar", "inhabilitar", "off"}},
      {{"show", "mostrar", "ver", "expand", "expandir", "desplegar"},
       {"hide", "ocultar", "esconder", "collapse", "contraer", "plegar"}},
      {{"open", "abrir"}, {"close", "cerrar"}},
      {{"login", "signin", "logon", "entrar", "ingresar", "iniciar"},
       {"logout", "signout", "logoff", "salir", "cerrar"}},
      {{"accept", "approve", "confirm", "aceptar", "aprobar", "confirmar", "yes", "si", "sí"},
       {"reject", "decline", "deny", "rechazar", "denegar", "no"}},
      {{"next", "siguiente", "forward", "adelante"}, {"previous", "prev", "back", "anterior", "atras", "atrás"}},
      {{"increase", "increment", "plus", "more", "aumentar", "incrementar", "mas", "más"},
       {"decrease", "decrement", "minus", "less", "disminuir", "reducir", "menos"}},
      {{"up", "upvote", "subir", "arriba"}, {"down", "downvote", "bajar", "abajo"}},
      {{"start", "play", "resume", "iniciar", "reproducir", "reanudar"}, {"stop", "pause", "detener", "pausar"}},
      {{"import", "importar", "upload", "subir"}, {"export", "exportar", "download", "descargar"}},
      {{"first", "primero", "primera"}, {"last", "ultimo", "último", "ultima", "última"}},
      {{"grant", "allow", "permitir", "conceder"}, {"revoke", "forbid", "revocar", "prohibir"}},
      {{"include", "incluir"}, {"exclude", "excluir"}},
      {{"asc", "ascending", "ascendente"}, {"desc", "descending", "descendente"}},
      {{"min", "minimize", "minimizar"}, {"max", "maximize", "maximizar"}},
  };
  return table;
}

// "log in" / "sign out" written as two words count as the one-word forms.
std::set<std::string> action_words(std::string_view text) {
  auto t = tokens(text.substr(0, kCompareCap));
  std::set<std::string> out(t.begin(), t.end());
  for (std::size_t i = 0; i + 1 < t.size(); ++i) {
    if ((t[i] == "log" || t[i] == "sign") && (t[i + 1] == "in" || t[i + 1] == "on" || t[i + 1] == "out" ||
                                              t[i + 1] == "off"))
      out.insert(t[i] + t[i + 1]);
  }
  // Alone, "on"/"off"/"in"/"out" are too common to decide anything.
  return out;
}

// "follow"/"unfollow", "subscribe"/"unsubscribe", "activar"/"desactivar".
bool negated_prefix(const std::set<std::string>& a, const std::set<std::string>& b) {
  static const std::array<const char*, 4> prefixes{"un", "dis", "des", "de"};
  for (const auto& w : a) {
    if (w.size() < 3) continue;
    for (const char* p : prefixes) {
      std::string neg = std::string(p) + w;
      if (b.count(neg) && !a.count(neg) && !b.count(w)) return true;
    }
  }
  return false;
}

}  // namespace

namespace {

// For each word of the opposite table, the rows it appears in and on which side
// (1: the action, 2: its opposite); a text's few words are looked up here
// instead of the table's words in the text (this runs for every candidate).
const std::unordered_map<std::string, std::vector<std::pair<std::size_t, std::uint8_t>>>& opposite_index() {
  static const auto index = [] {
    std::unordered_map<std::string, std::vector<std::pair<std::size_t, std::uint8_t>>> out;
    const auto& table = opposite_table();
    for (std::size_t row = 0; row < table.size(); ++row) {
      for (const auto& w : table[row].a) out[w].push_back({row, 1});
      for (const auto& w : table[row].b) out[w].push_back({row, 2});
    }
    return out;
  }();
  return index;
}

// Per row of the opposite table: 1 when the words name its action, 2 its
// opposite, 3 both.
std::vector<std::uint8_t> opposite_sides(const std::set<std::string>& words) {
  std::vector<std::uint8_t> sides(opposite_table().size(), 0);
  const auto& index = opposite_index();
  for (const auto& w : words) {
    auto it = index.find(w);
    if (it == index.end()) continue;
    for (const auto& [row, side] : it->second) sides[row] |= side;
  }
  return sides;
}

}  // namespace

bool opposite_actions(std::string_view a, std::string_view b) {
  auto wa = action_words(a), wb = action_words(b);
  if (wa.empty() || wb.empty()) return false;
  auto sa = opposite_sides(wa), sb = opposite_sides(wb);
  for (std::size_t row = 0; row < sa.size(); ++row) {
    bool a1 = sa[row] & 1, a2 = sa[row] & 2, b1 = sb[row] & 1, b2 = sb[row] & 2;
    if ((a1 && !a2 && b2 && !b1) || (a2 && !a1 && b1 && !b2)) return true;
  }
  return negated_prefix(wa, wb) || negated_prefix(wb, wa);
}

namespace {

// The words an element is named by, for the opposite-action rule.
std::string naming_text(const Fingerprint& f) {
  std::string s = f.text + " " + f.aria_label + " " + f.title + " " + f.alt;
  if (f.tag == "input") s += " " + f.value;
  // Identifiers are written "remove-email", "btnAddEmail": both forms split into words.
  for (const std::string* id : {&f.id, &f.name, &f.testid}) {
    std::string split;
    for (char c : *id) {
      if (c >= 'A' && c <= 'Z') split.push_back(' ');
      split.push_back(c);
    }
    s += " " + split;
  }
  return s;
}

}  // namespace

namespace {

// Verbs that name what a control does; two identifiers with verbs and none in
// common name two different actions ("add_id_author" / "change_id_author").
bool different_verbs(const Fingerprint& a, const Fingerprint& b) {
  static const std::set<std::string> verbs{
      "add",     "create",  "new",      "change",   "edit",    "update",   "modify", "delete",  "remove",
      "view",    "show",    "hide",     "open",     "close",   "save",     "cancel", "submit",  "search",
      "login",   "logout",  "select",   "upload",   "download", "export",  "import", "print",   "copy",
      "move",    "reset",   "clear",    "next",     "prev",    "previous", "back",   "confirm", "approve",
      "reject",  "enable",  "disable",  "follow",   "unfollow", "like",    "share",  "send",    "filter",
      "sort",    "añadir",  "agregar",  "crear",    "editar",  "cambiar",  "modificar", "eliminar",
      "borrar",  "quitar",  "ver",      "mostrar",  "ocultar", "abrir",    "cerrar", "guardar", "cancelar",
      "enviar",  "buscar",  "confirmar", "descargar", "subir", "exportar", "importar", "imprimir"};
  auto of = [&](const Fingerprint& f) {
    std::set<std::string> out;
    for (const std::string* id : {&f.id, &f.name, &f.testid}) {
      std::string spaced;
      char prev = 0;
      for (char c : *id) {
        if (c >= 'A' && c <= 'Z' && prev >= 'a' && prev <= 'z') spaced.push_back(' ');
        spaced.push_back(c);
        prev = c;
      }
      for (auto& w : tokens(spaced))
        if (verbs.count(w)) out.insert(w);
    }
    return out;
  };
  auto va = of(a), vb = of(b);
  if (va.empty() || vb.empty()) return false;
  for (const auto& v : va)
    if (vb.count(v)) return false;
  return true;
}

}  // namespace

namespace {

// The page's own controls, whatever their styling.
bool native_control(const Fingerprint& f) {
  return f.tag == "input" || f.tag == "select" || f.tag == "textarea" || f.tag == "button" ||
         (f.tag == "a" && !f.href.empty());
}

}  // namespace

std::string fit_problem(const Fingerprint& stored, const Fingerprint& candidate, ActionKind action) {
  ElementKind want = kind_of(stored);
  ElementKind got = kind_of(candidate);
  if (got == ElementKind::Root) return "elemento raíz <" + candidate.tag + ">";
  bool control = want == ElementKind::Clickable || want == ElementKind::Fillable || want == ElementKind::Selectable;
  if (!candidate.enabled && action != ActionKind::Read &&
      (action == ActionKind::Click || action == ActionKind::Fill || action == ActionKind::Select ||
       (control && stored.enabled)))
    return "control deshabilitado";
  switch (action) {
    case ActionKind::Click:
      if (got == ElementKind::Container) return std::string("contenedor <") + candidate.tag + "> para un click";
      break;
    case ActionKind::Fill:
      if (got != ElementKind::Fillable) return std::string("<") + candidate.tag + "> no admite texto";
      break;
    case ActionKind::Select:
      if (got != ElementKind::Selectable) return std::string("<") + candidate.tag + "> no tiene opciones";
      break;
    default:
      break;
  }
  // The element keeps its kind across releases: a button stays something to click.
  if (control && got != want)
    return std::string("tipo distinto (") + kind_name(got) + " en lugar de " + kind_name(want) + ")";
  // Nor does a text become a control: a label is not the input it labels, a
  // header cell not the sort link inside it (a heading that became a summary
  // is the same heading).
  if (!control && native_control(candidate) && tag_similarity(stored.tag, candidate.tag) == 0)
    return "control <" + candidate.tag + "> en lugar de <" + stored.tag + ">";
  if (want == ElementKind::Container && candidate.tag != stored.tag)
    return "contenedor <" + candidate.tag + "> en lugar de <" + stored.tag + ">";
  if (want == ElementKind::Other && got == ElementKind::Container)
    return "contenedor <" + candidate.tag + "> en lugar de <" + stored.tag + ">";
  if (opposite_actions(naming_text(stored), naming_text(candidate))) return "acción opuesta";
  if (different_verbs(stored, candidate)) return "acción distinta";
  // The same kind of control next to it is not it when its own naming says
  // otherwise: a link to another page of the same family ("/auth/user/add/" and
  // "/auth/group/add/"), a form field of another name ("books-5-isbn" and
  // "books-5-title"; the name is what the form sends).
  if (!stored.href.empty() && !candidate.href.empty() && different_members(link_path(stored.href), link_path(candidate.href)))
    return "otro destino";
  if (!stored.name.empty() && !candidate.name.empty() && different_members(stored.name, candidate.name))
    return "otro campo";
  return {};
}

bool may_need_full(const Fingerprint& stored, const std::vector<Fingerprint>& candidates, ActionKind action) {
  for (const auto& c : candidates)
    if (c.partial && !c.tag.empty() && fit_problem(stored, c, action).empty()) return true;
  return false;
}

// ---------------------------------------------------------------- scoring
Similarity similarity(const Fingerprint& s, const Fingerprint& c);

std::string answer_problem(const std::optional<Fingerprint>& stored, const Fingerprint& candidate, ActionKind action,
                           std::string_view element_name, const MatchRules& rules, double* score) {
  if (score) *score = -1;
  std::string problem = fit_problem(stored ? *stored : candidate, candidate, action);
  if (!problem.empty()) return problem;
  // "remove_email_button" is not healed to "Add e-mail"; names are written
  // with underscores or in camelCase.
  std::string name;
  for (char c : element_name) {
    if (c >= 'A' && c <= 'Z') name.push_back(' ');
    name.push_back(c == '_' ? ' ' : c);
  }
  if (opposite_actions(name, naming_text(candidate))) return "acción opuesta al nombre del elemento";
  if (!stored) return {};
  Similarity sim = similarity(*stored, candidate);
  if (score) *score = sim.score;
  if (std::string other = another_element(*stored, candidate); !other.empty()) return other;
  // The same field of another row (an answer choosing between rows) is that
  // other row's, unless its own texts around it are the stored ones.
  if (sibling_row(*stored, candidate) && !same_text(stored->neighbours, candidate.neighbours))
    return "el mismo campo de otra fila";
  if (same_landmark(*stored, candidate)) return {};
  // The same gate as a fingerprint heal, identity floor included: an element
  // named otherwise is another element.
  if (!similar_enough(sim, rules))
    return sim.score < rules.threshold ? "puntuación insuficiente"
                                       : "ni el texto ni los atributos que nombran el elemento coinciden";
  return {};
}
//
// Weights, in the manner of the Similo family of locators: the attributes that
// name an element (id, test id, name, visible text, labels) weigh most, the
// structure around it (tag, classes, neighbours, XPath, place on the page)
// less, since a new release moves things around more often than it renames
// them. An attribute counts only when the stored fingerprint has it; the score
// is the weighted mean over those, so it stays in [0, 1].
//
//   identity:  text 3.0 (an input button's value is its text), id 2.0,
//              data-testid 2.0, name 2.0, label 2.0, aria-label 2.0,
//              placeholder 1.5, alt 1.5, href 1.5 (a submit button's is its
//              form's action), value of a checkbox or radio 1.5, title 1.0
//   structure: tag 1.0 (half for a stand-in: a/button, h3/summary, td/th...),
//              neighbour texts 1.0, type 0.5, role 0.5, classes 0.5,
//              form/section and heading 0.5, XPath 0.5, XPath from nearest id
//              0.25, position 0.25, size 0.25
//
// Texts compare by words and character pairs, identifiers by the better of
// character pairs and words; either loses half when the two carry different
// numbers, and a link with other query parameters gets nothing for its href.

Similarity similarity(const Fingerprint& s, const Fingerprint& c) {
  double total = 0, weight = 0, id_total = 0, id_weight = 0;
  auto add = [&](double w, double sim, bool identity) {
    total += w * sim;
    weight += w;
    if (identity) {
      id_total += w * sim;
      id_weight += w;
    }
  };
  if (!s.id.empty()) add(2.0, c.id.empty() ? 0 : string_similarity(s.id, c.id), !looks_generated(s.id));
  if (!s.testid.empty()) add(2.0, c.testid.empty() ? 0 : string_similarity(s.testid, c.testid), true);
  if (!s.text.empty()) add(3.0, c.text.empty() ? 0 : text_similarity(s.text, c.text), true);
  if (!s.name.empty()) add(2.0, c.name.empty() ? 0 : string_similarity(s.name, c.name), true);
  if (!s.label.empty()) add(2.0, c.label.empty() ? 0 : text_similarity(s.label, c.label), true);
  if (!s.aria_label.empty())
    add(2.0, c.aria_label.empty() ? 0 : text_similarity(s.aria_label, c.aria_label), true);
  if (!s.placeholder.empty())
    add(1.5, c.placeholder.empty() ? 0 : text_similarity(s.placeholder, c.placeholder), true);
  if (!s.alt.empty()) add(1.5, c.alt.empty() ? 0 : text_similarity(s.alt, c.alt), true);
  if (!s.href.empty()) add(1.5, c.href.empty() ? 0 : href_similarity(s.href, c.href), true);
  if (!s.title.empty()) add(1.0, c.title.empty() ? 0 : text_similarity(s.title, c.title), true);
  // Checkboxes and radio buttons are told apart by their value (a row's id).
  if (!s.value.empty() && s.tag == "input" && (s.type == "checkbox" || s.type == "radio"))
    add(1.5, c.value.empty() ? 0 : string_similarity(s.value, c.value), true);

  if (!s.tag.empty()) add(1.0, tag_similarity(s.tag, c.tag), false);
  if (!s.neighbours.empty()) add(1.0, c.neighbours.empty() ? 0 : word_similarity(s.neighbours, c.neighbours), false);
  if (!s.type.empty()) add(0.5, s.type == c.type ? 1 : 0, false);
  if (!s.role.empty()) add(0.5, s.role == c.role ? 1 : 0, false);
  if (!s.classes.empty()) add(0.5, class_similarity(s.classes, c.classes), false);
  if (!s.context.empty()) add(0.5, c.context.empty() ? 0 : word_similarity(s.context, c.context), false);
  if (!s.xpath.empty()) add(0.5, path_similarity(s.xpath, c.xpath), false);
  if (!s.id_xpath.empty()) add(0.25, path_similarity(s.id_xpath, c.id_xpath), false);
  if (s.width > 0 && s.height > 0) {
    add(0.25, (c.width > 0 && c.height > 0) ? position_similarity(s, c) : 0, false);
    add(0.25, size_similarity(s, c), false);
  }

  Similarity out;
  out.score = weight > 0 ? total / weight : 0;
  out.has_identity = id_weight > 0;
  out.identity_weight = id_weight;
  out.identity = id_weight > 0 ? id_total / id_weight : 0;
  return out;
}

namespace {

// The same words with other numbers: "books-11-published" / "books-10-published",
// "row-3" / "row-4". Repeated rows number their fields by the row's index.
bool only_numbers_differ(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty() || a == b) return false;
  auto strip = [](std::string_view s) {
    std::string out;  // each run of digits becomes one '#': "row-9" and "row-10" alike
    for (char c : s) {
      bool digit = c >= '0' && c <= '9';
      if (!digit) out.push_back(c);
      else if (out.empty() || out.back() != '#') out.push_back('#');
    }
    return out;
  };
  return strip(a) == strip(b) && !digit_runs(a).empty();
}

}  // namespace

namespace {

bool check_or_radio(const Fingerprint& f) {
  return f.tag == "input" && (f.type == "checkbox" || f.type == "radio");
}

// A row's checkbox or radio button carries the row's key as its value
// ("_selected_action" = "2"): another number, another row.
bool other_row_value(const Fingerprint& stored, const Fingerprint& current) {
  return check_or_radio(stored) && check_or_radio(current) && stored.type == current.type &&
         only_numbers_differ(stored.value, current.value);
}

bool navigation_region(std::string_view landmark) {
  auto first = landmark.substr(0, landmark.find(' '));
  return first == "nav" || first == "aside" || first == "navigation" || first == "complementary";
}

// The id the element's path from its nearest id starts at ("//*[@id="x"]/a" -> "x").
std::string_view id_anchor(std::string_view id_xpath) {
  static constexpr std::string_view open = "//*[@id=\"";
  if (id_xpath.substr(0, open.size()) != open) return {};
  auto close = id_xpath.find("\"]", open.size());
  return close == std::string_view::npos ? std::string_view{} : id_xpath.substr(open.size(), close - open.size());
}

// Whether the navigation region of `nav_side` may be the part of the page
// `other` sat in, only tagged otherwise: a region with no name of its own (a
// release that wraps a list of links in a plain <nav>), or one whose id is the
// id `other`'s path starts at (<div id="filter"> that became <nav id="filter">).
bool same_part_retagged(const Fingerprint& nav_side, const Fingerprint& other) {
  auto space = nav_side.landmark.find(' ');
  if (space == std::string::npos) return true;
  return std::string_view(nav_side.landmark).substr(space + 1) == id_anchor(other.id_xpath);
}

}  // namespace

bool sibling_row(const Fingerprint& stored, const Fingerprint& current) {
  if (stored.tag != current.tag) return false;
  return only_numbers_differ(stored.id, current.id) || only_numbers_differ(stored.name, current.name) ||
         only_numbers_differ(stored.testid, current.testid) || other_row_value(stored, current);
}

std::string another_element(const Fingerprint& stored, const Fingerprint& candidate) {
  if (other_row_value(stored, candidate)) return "casilla de otra fila (otro valor)";
  if (stored.landmark.empty() || candidate.landmark.empty() || stored.landmark == candidate.landmark) return {};
  bool stored_nav = navigation_region(stored.landmark), candidate_nav = navigation_region(candidate.landmark);
  if (!stored_nav && !candidate_nav) return {};
  if ((candidate_nav && same_part_retagged(candidate, stored)) || (stored_nav && same_part_retagged(stored, candidate)))
    return {};
  return "en otra región de la página (" + candidate.landmark + ")";
  return {};
}

bool similar_enough(const Similarity& sim, const MatchRules& rules) {
  if (sim.has_identity && sim.identity < rules.identity_floor) return false;
  if (sim.score >= rules.threshold) return true;
  // Text 3.0 plus at least a link target (1.5) or an id or name (2.0), all unchanged.
  return sim.identity >= 0.999 && sim.identity_weight >= 4.5 && sim.score >= rules.named_threshold;
}

namespace {

// The heading's place under the nearest element with an id, when every step
// down from there is the only one of its tag ("//*[@id="content"]/h1"), and
// that id does not look generated.
bool unique_slot(const std::string& id_xpath) {
  static const std::string anchor = "//*[@id=\"";
  if (id_xpath.rfind(anchor, 0) != 0) return false;
  auto close = id_xpath.find("\"]", anchor.size());
  if (close == std::string::npos) return false;
  if (looks_generated(std::string_view(id_xpath).substr(anchor.size(), close - anchor.size()))) return false;
  return id_xpath.find('[', close) == std::string::npos;
}

}  // namespace

bool same_landmark(const Fingerprint& stored, const Fingerprint& candidate) {
  if (stored.tag != candidate.tag) return false;
  if (stored.only && candidate.only) return true;
  // A heading alone at its level right under the same named container, before
  // and after, is that container's heading, whatever it says now.
  static const std::set<std::string> headings{"h1", "h2", "h3", "h4", "h5", "h6"};
  return headings.count(stored.tag) && !stored.id_xpath.empty() && stored.id_xpath == candidate.id_xpath &&
         unique_slot(stored.id_xpath);
}

std::optional<double> stale_score(const Fingerprint& stored, const Fingerprint& current, const MatchRules& rules) {
  if (same_landmark(stored, current)) return std::nullopt;
  if (!stored.id.empty() && stored.id == current.id && !looks_generated(stored.id)) return std::nullopt;
  if (!stored.testid.empty() && stored.testid == current.testid) return std::nullopt;
  double score = similarity(stored, current).score;
  // A positional selector that now lands on the same field of another row.
  if (score < rules.threshold || sibling_row(stored, current)) return score;
  return std::nullopt;
}

namespace {

// One element inside the other (a button and the span with its text).
bool nested(const Fingerprint& a, const Fingerprint& b) {
  if (a.xpath.empty() || b.xpath.empty()) return false;
  const std::string& shorter = a.xpath.size() < b.xpath.size() ? a.xpath : b.xpath;
  const std::string& longer = a.xpath.size() < b.xpath.size() ? b.xpath : a.xpath;
  return longer.size() > shorter.size() && longer.compare(0, shorter.size(), shorter) == 0 &&
         longer[shorter.size()] == '/';
}

}  // namespace

HealChoice choose_candidate(const Fingerprint& stored, const std::vector<Fingerprint>& candidates, ActionKind action,
                            const MatchRules& rules) {
  HealChoice choice;
  struct Scored {
    std::size_t index;
    Similarity sim;
  };
  std::vector<Scored> scored;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const Fingerprint& c = candidates[i];
    if (c.tag.empty() || c.partial || !fit_problem(stored, c, action).empty()) continue;
    if (!another_element(stored, c).empty()) continue;
    scored.push_back({i, similarity(stored, c)});
  }
  std::stable_sort(scored.begin(), scored.end(),
                   [](const Scored& a, const Scored& b) { return a.sim.score > b.sim.score; });
  for (std::size_t k = 0; k < scored.size() && k < 5; ++k)
    choice.top.push_back({scored[k].index, scored[k].sim.score});
  if (scored.empty()) {
    choice.reason = "ningún elemento de la página encaja con la acción";
    return choice;
  }
  const Scored& best = scored.front();
  const Fingerprint& b = candidates[best.index];
  choice.best = best.sim.score;
  // The runner-up is the best other candidate, leaving out an element wrapped
  // around (or inside) the best one when only the best has the stored tag, and
  // the same field of other rows when the best still has the stored id or name
  // ("books-3-title" is there: "books-2-title" is another row's).
  bool exact = (!stored.id.empty() && b.id == stored.id) || (!stored.name.empty() && b.name == stored.name);
  auto contender = [&](std::size_t k) {
    const Fingerprint& c = candidates[scored[k].index];
    if (nested(b, c) && b.tag == stored.tag && c.tag != stored.tag) return false;
    if (exact && sibling_row(stored, c)) return false;
    return true;
  };
  for (std::size_t k = 1; k < scored.size(); ++k) {
    if (!contender(k)) continue;
    choice.second = scored[k].sim.score;
    break;
  }
  // The page's one h1 (footer...) is the one h1 of before: only one candidate can be.
  for (const auto& s : scored) {
    if (same_landmark(stored, candidates[s.index])) {
      choice.index = s.index;
      choice.best = s.sim.score;
      choice.second = 0;
      choice.top.insert(choice.top.begin(), {s.index, s.sim.score});
      return choice;
    }
  }
  if (!similar_enough(best.sim, rules) && !(best.sim.has_identity && best.sim.identity < rules.identity_floor)) {
    choice.reason = "puntuación insuficiente";
  } else if (best.sim.has_identity && best.sim.identity < rules.identity_floor) {
    choice.reason = best.sim.score < rules.threshold ? "puntuación insuficiente"
                                                     : "ni el texto ni los atributos que nombran el elemento coinciden";
  } else if (choice.best - choice.second < rules.margin) {
    // Look-alikes of a repeated structure (the "All" link of every filter) are
    // told apart by their own section's texts: the one contender still in the
    // stored section, or between the stored neighbours, is the element.
    std::vector<std::size_t> close;
    for (std::size_t k = 0; k < scored.size(); ++k)
      if (scored[k].sim.score > choice.best - rules.margin && (k == 0 || contender(k)) &&
          similar_enough(scored[k].sim, rules))
        close.push_back(k);
    auto only_one = [&](std::string Fingerprint::*field) -> std::optional<std::size_t> {
      if ((stored.*field).empty()) return std::nullopt;
      std::optional<std::size_t> found;
      for (std::size_t k : close) {
        if (!same_text(stored.*field, candidates[scored[k].index].*field)) continue;
        if (found) return std::nullopt;
        found = k;
      }
      return found;
    };
    auto pick = only_one(&Fingerprint::context);
    if (!pick) pick = only_one(&Fingerprint::neighbours);
    // The same field of other rows, each with texts around it other than the
    // stored ones: any of them as an answer would be refused (answer_problem),
    // so the close call is no question for a model.
    bool only_other_rows = std::all_of(close.begin(), close.end(), [&](std::size_t k) {
      const Fingerprint& c = candidates[scored[k].index];
      return sibling_row(stored, c) && !same_text(stored.neighbours, c.neighbours);
    });
    if (pick && close.size() > 1) {
      choice.index = scored[*pick].index;
      choice.best = scored[*pick].sim.score;
    } else if (!close.empty() && only_other_rows) {
      choice.reason = "solo el mismo campo de otras filas";
    } else {
      choice.reason = "ambiguo: otro elemento puntúa casi igual";
      choice.ambiguous = true;
    }
  } else {
    choice.index = best.index;
  }
  return choice;
}

// ---------------------------------------------------------------- selectors

bool looks_generated(std::string_view id) {
  if (id.empty()) return true;
  if (id.find(':') != std::string_view::npos) return true;  // React's ":r1:"
  std::size_t run = 0, digits = 0;
  for (char c : id) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      ++digits;
      if (++run >= 4) return true;
    } else {
      run = 0;
    }
  }
  static const std::array<const char*, 6> prefixes{"ember", "ext-gen", "yui_", "gwt-uid", "mui-", "radix-"};
  for (const char* p : prefixes)
    if (id.rfind(p, 0) == 0 && digits > 0) return true;
  return false;
}

namespace {

bool plain_ident(std::string_view s) {
  if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0])) || s[0] == '-') return false;
  for (char c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_')) return false;
  return true;
}

// Usable inside a quoted selector value: short, one line.
bool quotable(std::string_view s) {
  if (s.empty() || s.size() > 80) return false;
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7f) return false;
  return true;
}

std::string css_quoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string implicit_role(const Fingerprint& f) {
  if (!f.role.empty()) return f.role;
  if (f.tag == "button") return "button";
  if (f.tag == "a" && !f.href.empty()) return "link";
  if (f.tag == "textarea") return "textbox";
  if (f.tag == "select") return "combobox";
  if (f.tag == "input") {
    if (f.type == "submit" || f.type == "button" || f.type == "reset" || f.type == "image") return "button";
    if (f.type == "checkbox") return "checkbox";
    if (f.type == "radio") return "radio";
    if (f.type == "search") return "searchbox";
    if (f.type.empty() || f.type == "text" || f.type == "email" || f.type == "tel" || f.type == "url")
      return "textbox";
  }
  return {};
}

std::string accessible_name(const Fingerprint& f) {
  if (!f.aria_label.empty()) return f.aria_label;
  if (!f.label.empty()) return f.label;
  if (f.tag == "input" && (f.type == "submit" || f.type == "button" || f.type == "reset")) return f.value;
  if (f.tag == "button" || f.tag == "a" || !f.role.empty()) {
    if (!f.text.empty()) return f.text;
  }
  if (!f.title.empty()) return f.title;
  if (!f.alt.empty()) return f.alt;
  return {};
}

}  // namespace

std::vector<std::string> build_selectors(const std::vector<Fingerprint>& all, std::size_t index) {
  std::vector<std::string> out;
  if (index >= all.size()) return out;
  const Fingerprint& f = all[index];
  auto count_if = [&](auto pred) {
    std::size_t n = 0;
    for (const auto& c : all)
      if (!c.tag.empty() && pred(c)) ++n;
    return n;
  };
  bool unique_attribute = false;
  auto push = [&](std::string s, bool unique) {
    if (!unique) return;
    unique_attribute = true;
    if (std::find(out.begin(), out.end(), s) == out.end()) out.push_back(std::move(s));
  };

  if (!f.id.empty() && !looks_generated(f.id) && quotable(f.id))
    push(plain_ident(f.id) ? "#" + f.id : "[id=" + css_quoted(f.id) + "]",
         count_if([&](const Fingerprint& c) { return c.id == f.id; }) == 1);
  if (!f.testid.empty() && quotable(f.testid)) {
    std::string attr = f.testid_attr.empty() ? "data-testid" : f.testid_attr;
    push("[" + attr + "=" + css_quoted(f.testid) + "]",
         count_if([&](const Fingerprint& c) { return c.testid == f.testid && c.testid_attr == f.testid_attr; }) == 1);
  }
  if (!f.name.empty() && quotable(f.name))
    push(f.tag + "[name=" + css_quoted(f.name) + "]",
         count_if([&](const Fingerprint& c) { return c.tag == f.tag && c.name == f.name; }) == 1);
  std::string role = implicit_role(f), acc = accessible_name(f);
  if (!role.empty() && quotable(acc))
    push("internal:role=" + role + "[name=" + css_quoted(acc) + "s]", count_if([&](const Fingerprint& c) {
           return implicit_role(c) == role && accessible_name(c) == acc;
         }) == 1);
  for (const auto& named : {std::pair<const char*, const std::string*>{"aria-label", &f.aria_label},
                             {"placeholder", &f.placeholder},
                             {"title", &f.title},
                             {"alt", &f.alt}}) {
    const std::string* value = named.second;
    if (!quotable(*value)) continue;
    std::string a = named.first;
    push(f.tag + "[" + a + "=" + css_quoted(*value) + "]", count_if([&](const Fingerprint& c) {
           const std::string& v = a == "aria-label" ? c.aria_label
                                  : a == "placeholder" ? c.placeholder
                                  : a == "title"       ? c.title
                                                       : c.alt;
           return c.tag == f.tag && v == *value;
         }) == 1);
  }
  if (f.tag == "input" && (f.type == "checkbox" || f.type == "radio") && quotable(f.name) && quotable(f.value))
    push("input[name=" + css_quoted(f.name) + "][value=" + css_quoted(f.value) + "]",
         count_if([&](const Fingerprint& c) { return c.tag == "input" && c.name == f.name && c.value == f.value; }) ==
             1);
  if (f.tag == "a" && quotable(f.href))
    push("a[href=" + css_quoted(f.href) + "]",
         count_if([&](const Fingerprint& c) { return c.tag == "a" && c.href == f.href; }) == 1);
  if (quotable(f.text))
    push(f.tag + ":text-is(" + css_quoted(f.text) + ")",
         count_if([&](const Fingerprint& c) { return c.tag == f.tag && c.text == f.text; }) == 1);
  // The page's one h1 (footer...) by its tag; else a class only it has with its tag
  // (classes that look generated are no names).
  if (f.only) push(f.tag, count_if([&](const Fingerprint& c) { return c.tag == f.tag; }) == 1);
  for (const auto& cls : split_ws(f.classes)) {
    if (!plain_ident(cls) || looks_generated(cls)) continue;
    push(f.tag + "." + cls, count_if([&](const Fingerprint& c) {
           if (c.tag != f.tag) return false;
           for (const auto& other : split_ws(c.classes))
             if (other == cls) return true;
           return false;
         }) == 1);
  }
  // Paths only when nothing names the element uniquely: they break on the next
  // layout change.
  if (!unique_attribute) {
    if (!f.id_xpath.empty() && f.id_xpath != f.xpath) out.push_back("xpath=" + f.id_xpath);
    if (!f.xpath.empty()) out.push_back("xpath=" + f.xpath);
  } else if (!f.id_xpath.empty() && f.id_xpath != f.xpath) {
    // Last, should none of the above find it on the live page (a text split by a
    // child element): the path from the nearest id, never the absolute one.
    out.push_back("xpath=" + f.id_xpath);
  }
  return out;
}

}  // namespace tarvo::healing
