// Fingerprint healing: scoring, the accept/abstain decision (threshold,
// identity floor, margin), the action/kind rules and selector building.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "core/healing/fingerprint.hpp"

using namespace tarvo::healing;

namespace {

Fingerprint button(std::string id, std::string text, std::string xpath, double x = 100, double y = 200) {
  Fingerprint f;
  f.tag = "button";
  f.type = "button";
  f.id = std::move(id);
  f.text = std::move(text);
  f.classes = "btn btn-primary";
  f.xpath = std::move(xpath);
  f.neighbours = "Nombre visible";
  f.context = "Ajustes de la cuenta";
  f.x = x;
  f.y = y;
  f.width = 120;
  f.height = 32;
  return f;
}

Fingerprint element(std::string tag, std::string text, std::string xpath) {
  Fingerprint f;
  f.tag = std::move(tag);
  f.text = std::move(text);
  f.xpath = std::move(xpath);
  f.width = 300;
  f.height = 200;
  return f;
}

const MatchRules kRules{};

}  // namespace

TEST(FingerprintParse, ReadsTheJsonOfThePageScript) {
  auto f = parse_fingerprint(R"({"tag":"INPUT","id":"user","type":"Email","enabled":false,"x":3.5,
                                 "width":10,"height":"bad","label":"Correo ✉"})");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->tag, "input");
  EXPECT_EQ(f->type, "email");
  EXPECT_FALSE(f->enabled);
  EXPECT_DOUBLE_EQ(f->x, 3.5);
  EXPECT_DOUBLE_EQ(f->height, 0);  // a wrong kind of value counts as absent
  EXPECT_EQ(f->label, "Correo ✉");
  EXPECT_FALSE(parse_fingerprint("{\"id\":\"x\"}"));  // no tag
  EXPECT_FALSE(parse_fingerprint("not json"));
  EXPECT_FALSE(parse_fingerprint("[1,2]"));
  auto list = parse_fingerprints(R"([{"tag":"a"}, 7, {"tag":"b"}])");
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 3u);
  EXPECT_EQ((*list)[1].tag, "");
  EXPECT_FALSE(parse_fingerprints("{}"));
}

TEST(FingerprintScore, SameElementScoresOneAndARenamedIdStaysHigh) {
  auto stored = button("save-settings", "Guardar ajustes", "/html/body/form/button[1]");
  EXPECT_DOUBLE_EQ(similarity(stored, stored).score, 1.0);
  auto renamed = stored;
  renamed.id = "save-settings-btn";
  auto s = similarity(stored, renamed);
  EXPECT_GT(s.score, 0.9);
  EXPECT_LT(s.score, 1.0);
  // Only the attributes the stored element had count: a new attribute costs nothing.
  auto extra = stored;
  extra.title = "Guarda todo";
  EXPECT_DOUBLE_EQ(similarity(stored, extra).score, 1.0);
}

TEST(FingerprintScore, NamingAttributesWeighMoreThanStructure) {
  auto stored = button("save", "Guardar", "/html/body/div/button[1]");
  // Same text and id, moved to another part of the page.
  auto moved = button("save", "Guardar", "/html/body/main/section/div[3]/button[2]", 600, 900);
  moved.neighbours = "Otra cosa";
  moved.classes = "x1 y2";
  // Same place and look, different name and text.
  auto other = button("cancel", "Cancelar", "/html/body/div/button[1]");
  EXPECT_GT(similarity(stored, moved).score, similarity(stored, other).score);
  EXPECT_LT(similarity(stored, other).identity, 0.5);
}

TEST(FingerprintDecision, AcceptsAClearBestAndAbstainsOtherwise) {
  auto stored = button("save-settings", "Guardar ajustes", "/html/body/form/button[1]");
  auto healed = stored;
  healed.id = "save-settings-btn";
  auto cancel = button("cancel", "Cancelar", "/html/body/form/button[2]", 240);
  auto heading = element("h1", "Ajustes de la cuenta", "/html/body/h1");

  auto c = choose_candidate(stored, {heading, cancel, healed}, ActionKind::Click, kRules);
  ASSERT_TRUE(c.index);
  EXPECT_EQ(*c.index, 2u);
  EXPECT_TRUE(c.reason.empty());
  EXPECT_GE(c.best - c.second, kRules.margin);

  // The element is gone: what is left does not reach the threshold.
  c = choose_candidate(stored, {heading, cancel}, ActionKind::Click, kRules);
  EXPECT_FALSE(c.index);
  EXPECT_LT(c.best, kRules.threshold);

  // Two equally good look-alikes: ambiguous, no heal.
  auto twin = healed;
  twin.id = "save-settings-bottom";
  twin.xpath = "/html/body/form/button[3]";
  c = choose_candidate(stored, {healed, twin}, ActionKind::Click, kRules);
  EXPECT_FALSE(c.index);
  EXPECT_NE(c.reason.find("ambiguo"), std::string::npos);

  // A higher threshold turns a good heal into an abstention.
  MatchRules strict = kRules;
  strict.threshold = 0.99;
  c = choose_candidate(stored, {healed, cancel}, ActionKind::Click, strict);
  EXPECT_FALSE(c.index);
  EXPECT_EQ(c.reason, "puntuación insuficiente");
}

TEST(FingerprintDecision, StructureAloneIsNotEnoughWhenTheNameChanged) {
  // Same place, classes and neighbours, but nothing that names the element agrees.
  auto stored = button("export-csv", "Exportar CSV", "/html/body/form/button[1]");
  auto other = stored;
  other.id = "zz-print";
  other.text = "Imprimir";
  auto c = choose_candidate(stored, {other}, ActionKind::Click, kRules);
  EXPECT_FALSE(c.index);
}

TEST(FingerprintDecision, TheWrapperAroundTheBestDoesNotMakeItAmbiguous) {
  Fingerprint stored = element("p", "Guardado 1", "/html/body/div/p");
  stored.id = "status";
  auto moved = stored;
  moved.id = "status-line";
  auto wrapper = element("div", "Guardado 1", "/html/body/div");
  auto c = choose_candidate(stored, {wrapper, moved}, ActionKind::Read, kRules);
  ASSERT_TRUE(c.index) << c.reason << " " << c.best << " " << c.second;
  EXPECT_EQ(*c.index, 1u);
}

TEST(FingerprintRules, ActionAndKind) {
  auto stored = button("login", "Entrar", "/html/body/form/button");
  Fingerprint form = element("form", "Usuario Clave Entrar", "/html/body/form");
  Fingerprint body = element("body", "Entrar", "/html/body");
  auto disabled = stored;
  disabled.enabled = false;
  Fingerprint input;
  input.tag = "input";
  input.type = "text";
  Fingerprint link;
  link.tag = "a";
  link.href = "/login";
  Fingerprint select;
  select.tag = "select";

  EXPECT_NE(fit_problem(stored, form, ActionKind::Click), "");
  EXPECT_NE(fit_problem(stored, body, ActionKind::Any), "");
  EXPECT_NE(fit_problem(stored, disabled, ActionKind::Click), "");
  EXPECT_NE(fit_problem(stored, disabled, ActionKind::Any), "");  // an enabled button became a disabled one
  EXPECT_EQ(fit_problem(stored, disabled, ActionKind::Read), "");
  EXPECT_EQ(fit_problem(stored, link, ActionKind::Click), "");    // a button that became a link still clicks
  EXPECT_NE(fit_problem(stored, input, ActionKind::Click), "");   // a text box is not a button
  EXPECT_NE(fit_problem(input, stored, ActionKind::Fill), "");
  EXPECT_EQ(fit_problem(input, input, ActionKind::Fill), "");
  EXPECT_NE(fit_problem(input, select, ActionKind::Fill), "");
  EXPECT_EQ(fit_problem(select, select, ActionKind::Select), "");
  EXPECT_NE(fit_problem(select, input, ActionKind::Select), "");

  Fingerprint remove = button("remove-email", "Remove e-mail", "/x");
  Fingerprint add = button("add-email", "Add e-mail", "/x");
  EXPECT_EQ(fit_problem(remove, add, ActionKind::Click), "acción opuesta");

  EXPECT_EQ(action_kind("click", ""), ActionKind::Click);
  EXPECT_EQ(action_kind("fill", ""), ActionKind::Fill);
  EXPECT_EQ(action_kind("select_option", ""), ActionKind::Select);
  EXPECT_EQ(action_kind("get_text", "hacer click en el elemento"), ActionKind::Read);
  EXPECT_EQ(action_kind("find", "hacer click en el elemento"), ActionKind::Click);
  EXPECT_EQ(action_kind("find", "escribir texto en el campo"), ActionKind::Fill);
  EXPECT_EQ(action_kind("find", "seleccionar una opción"), ActionKind::Select);
  EXPECT_EQ(action_kind("find", ""), ActionKind::Any);
}

TEST(FingerprintRules, OppositeActions) {
  EXPECT_TRUE(opposite_actions("Add e-mail", "Remove e-mail"));
  EXPECT_TRUE(opposite_actions("Cerrar sesión", "Iniciar sesión"));
  EXPECT_TRUE(opposite_actions("Log in", "Log out"));
  EXPECT_TRUE(opposite_actions("Follow", "Unfollow"));
  EXPECT_TRUE(opposite_actions("Activar cuenta", "Desactivar cuenta"));
  EXPECT_TRUE(opposite_actions("Mostrar detalles", "Ocultar detalles"));
  EXPECT_FALSE(opposite_actions("Save", "Save changes"));
  EXPECT_FALSE(opposite_actions("Add e-mail", "Add phone"));
  EXPECT_FALSE(opposite_actions("Sign in", "Sign in now"));
  EXPECT_FALSE(opposite_actions("", "Remove"));
  // Words that name both actions decide nothing.
  EXPECT_FALSE(opposite_actions("Add or remove", "Remove"));
}

TEST(FingerprintSelectors, MostRobustFirstAndNoPathWhenAnAttributeIsUnique) {
  Fingerprint a = button("save-btn", "Guardar", "/html/body/form/button[1]");
  a.name = "save";
  a.testid = "save";
  a.testid_attr = "data-testid";
  Fingerprint b = button("cancel", "Cancelar", "/html/body/form/button[2]");
  auto sel = build_selectors({a, b}, 0);
  ASSERT_GE(sel.size(), 4u);
  EXPECT_EQ(sel[0], "#save-btn");
  EXPECT_EQ(sel[1], "[data-testid=\"save\"]");
  EXPECT_EQ(sel[2], "button[name=\"save\"]");
  EXPECT_EQ(sel[3], "internal:role=button[name=\"Guardar\"s]");
  for (const auto& s : sel) {
    EXPECT_EQ(s.find("xpath="), std::string::npos) << s;
    EXPECT_EQ(s.find("nth="), std::string::npos) << s;
  }

  // A generated id and a text shared with another element: only the path is left.
  Fingerprint c = element("span", "Ver", "/html/body/ul/li[1]/span");
  c.id = ":r1:";
  c.id_xpath = "//*[@id=\"list\"]/li[1]/span";
  Fingerprint d = element("span", "Ver", "/html/body/ul/li[2]/span");
  sel = build_selectors({c, d}, 0);
  ASSERT_EQ(sel.size(), 2u);
  EXPECT_EQ(sel[0], "xpath=//*[@id=\"list\"]/li[1]/span");
  EXPECT_EQ(sel[1], "xpath=/html/body/ul/li[1]/span");

  // Odd ids and quotes are written so that the selector still parses.
  Fingerprint e = button("1st \"go\"", "Ir", "/x");
  sel = build_selectors({e}, 0);
  EXPECT_EQ(sel[0], "[id=\"1st \\\"go\\\"\"]");
  EXPECT_TRUE(build_selectors({e}, 5).empty());
}

TEST(FingerprintSelectors, GeneratedIds) {
  EXPECT_TRUE(looks_generated(":r1:"));
  EXPECT_TRUE(looks_generated("ember1234"));
  EXPECT_TRUE(looks_generated("ember12"));
  EXPECT_TRUE(looks_generated("field-20240611"));
  EXPECT_FALSE(looks_generated("save-settings"));
  EXPECT_FALSE(looks_generated("h2"));
}

TEST(FingerprintRules, AnswersFromTheStoreOrTheModelPassTheSameGate) {
  auto stored = button("save-settings", "Guardar ajustes", "/html/body/form/button[1]");
  auto healed = stored;
  healed.id = "save-settings-btn";
  auto cancel = button("cancel", "Cancelar", "/html/body/form/button[2]", 240);
  Fingerprint form = element("form", "Guardar ajustes", "/html/body/form");
  double score = 0;
  EXPECT_EQ(answer_problem(stored, healed, ActionKind::Click, "save_button", kRules, &score), "");
  EXPECT_GT(score, 0.9);
  EXPECT_EQ(answer_problem(stored, cancel, ActionKind::Click, "save_button", kRules, &score),
            "acción distinta");  // save-settings / cancel
  auto other = cancel;
  other.id = "zz";
  EXPECT_EQ(answer_problem(stored, other, ActionKind::Click, "save_button", kRules, &score),
            "puntuación insuficiente");
  EXPECT_LT(score, 0.7);
  EXPECT_NE(answer_problem(stored, form, ActionKind::Click, "save_button", kRules, &score), "");
  // Without a fingerprint: the action rules and the element's name still hold.
  EXPECT_EQ(answer_problem(std::nullopt, cancel, ActionKind::Click, "cancel_button", kRules, &score), "");
  EXPECT_DOUBLE_EQ(score, -1);
  EXPECT_NE(answer_problem(std::nullopt, form, ActionKind::Click, "save_button", kRules, &score), "");
  Fingerprint add = button("add-email", "Add e-mail", "/x");
  EXPECT_EQ(answer_problem(std::nullopt, add, ActionKind::Click, "removeEmailButton", kRules, &score),
            "acción opuesta al nombre del elemento");
  EXPECT_EQ(answer_problem(std::nullopt, add, ActionKind::Click, "remove_email_button", kRules, &score),
            "acción opuesta al nombre del elemento");
}

TEST(FingerprintDecision, AnotherRowIsNotTheRemovedRow) {
  // "Editar factura 7" was removed; the row of invoice 8 looks the same but for its number.
  auto stored = button("", "Editar factura 7", "/html/body/ul/li[1]/button");
  stored.neighbours = "Factura 7";
  auto other = button("", "Editar factura 8", "/html/body/ul/li[2]/button", 100, 240);
  other.neighbours = "Factura 8";
  auto c = choose_candidate(stored, {other}, ActionKind::Click, kRules);
  EXPECT_FALSE(c.index) << c.best;
}

TEST(FingerprintScore, IdentifiersCompareByWordsToo) {
  auto stored = button("go", "Buscar ahora", "/html/body/form/button");
  auto renamed = stored;
  renamed.id = "go-search";
  renamed.classes = "h1x2";
  renamed.xpath = "/html/body/form/div/button";
  auto c = choose_candidate(stored, {renamed}, ActionKind::Click, kRules);
  ASSERT_TRUE(c.index) << c.best << " " << c.reason;
  auto camel = stored;
  camel.id = "saveProfile";
  auto dashed = stored;
  dashed.id = "save-profile";
  EXPECT_DOUBLE_EQ(similarity(camel, dashed).score, 1.0);
}

TEST(FingerprintRules, StaleLocators) {
  auto stored = button("", "Editar factura 7", "/html/body/ul/li[1]/button");
  auto row = element("input", "", "/html/body/ul/li[1]/input");
  row.type = "checkbox";
  auto score = stale_score(stored, row, kRules);
  ASSERT_TRUE(score);
  EXPECT_LT(*score, kRules.threshold);
  EXPECT_FALSE(stale_score(stored, stored, kRules));
  // Same id: the same element, even with a new text and look.
  auto a = button("status", "Guardado 1", "/html/body/p");
  auto b = button("status", "Nada que guardar", "/html/body/div/p");
  b.tag = "p";
  EXPECT_FALSE(stale_score(a, b, kRules));
}

TEST(FingerprintRules, NumbersVerbsQueriesAndStandInTags) {
  // The confirmation field was removed; the first password field is not it.
  Fingerprint pw2 = element("input", "", "/html/body/form/input[2]");
  pw2.type = "password";
  pw2.id = "id_new_password2";
  pw2.name = "new_password2";
  pw2.label = "New password confirmation:";
  Fingerprint pw1 = pw2;
  pw1.id = "id_new_password1";
  pw1.name = "new_password1";
  pw1.label = "New password:";
  pw1.xpath = "/html/body/form/input[1]";
  EXPECT_FALSE(choose_candidate(pw2, {pw1}, ActionKind::Fill, kRules).index);
  // "add" and "change" are two actions.
  Fingerprint add = element("a", "", "/x/a[1]");
  add.id = "add_id_author";
  add.href = "/admin/library/author/add/";
  Fingerprint change = add;
  change.id = "change_id_author";
  EXPECT_EQ(fit_problem(add, change, ActionKind::Click), "acción distinta");
  EXPECT_EQ(fit_problem(add, add, ActionKind::Click), "");
  // A facet link is not the sort link of the same column.
  Fingerprint facet = element("a", "genre", "/html/body/p/a[1]");
  facet.href = "/library/books?_facet=genre";
  facet.neighbours = "Suggested facets: author_id";
  Fingerprint sort = facet;
  sort.href = "/library/books?_sort=genre";
  sort.xpath = "/html/body/table/thead/tr/th[3]/a";
  sort.neighbours = "title published";
  EXPECT_LT(similarity(facet, sort).score, kRules.threshold);
  // A logout link that became a form's submit button still heals.
  Fingerprint link = element("a", "Log out", "/html/body/div/div[2]/a[3]");
  link.href = "/admin/logout/";
  Fingerprint button = element("button", "LOG OUT", "/html/body/div/div[2]/form/button");
  button.type = "submit";
  button.href = "/admin/logout/";
  auto c = choose_candidate(link, {button}, ActionKind::Click, kRules);
  EXPECT_TRUE(c.index) << c.best << " " << c.reason;
  // Row checkboxes differ by their value.
  Fingerprint box58 = element("input", "", "/t/tr[3]/td/input");
  box58.type = "checkbox";
  box58.name = "_selected_action";
  box58.value = "58";
  Fingerprint box57 = box58;
  box57.value = "57";
  box57.xpath = "/t/tr[2]/td/input";
  Fingerprint moved58 = box58;
  moved58.classes = "zz";
  auto pick = choose_candidate(box58, {box57, moved58}, ActionKind::Click, kRules);
  ASSERT_TRUE(pick.index) << pick.reason << " " << pick.best << " " << pick.second;
  EXPECT_EQ(*pick.index, 1u);
}

// Light records (what the page sends for elements that cannot stand for the
// lost one): never scored, and a light record that would fit asks for the
// candidates in full.
TEST(FingerprintLightRecords, NeverScoredAndAFittingOneAsksForAFullRead) {
  auto parsed = parse_fingerprints(
      R"([{"tag":"div","text":"Guardar","light":true},{"tag":"button","text":"Guardar","xpath":"/html/body/button"}])");
  ASSERT_TRUE(parsed);
  EXPECT_TRUE((*parsed)[0].partial);
  EXPECT_FALSE((*parsed)[1].partial);

  Fingerprint stored = button("save", "Guardar", "/html/body/button");
  std::vector<Fingerprint> candidates{button("save", "Guardar", "/html/body/button")};
  Fingerprint light = button("save-2", "Guardar", "");
  light.partial = true;
  light.type = "";
  light.tag = "div";  // a div cannot stand for a button under a click
  candidates.push_back(light);
  EXPECT_FALSE(may_need_full(stored, candidates, ActionKind::Click));
  auto choice = choose_candidate(stored, candidates, ActionKind::Click, kRules);
  ASSERT_TRUE(choice.index);
  EXPECT_EQ(*choice.index, 0u);
  ASSERT_EQ(choice.top.size(), 1u);  // the light record is not among the scored

  // A light button would fit a click on a button: the prefilter let it through light.
  Fingerprint light_button = button("save-3", "Guardar", "");
  light_button.partial = true;
  candidates.push_back(light_button);
  EXPECT_TRUE(may_need_full(stored, candidates, ActionKind::Click));
  // Scored or not, it never wins while light.
  choice = choose_candidate(stored, candidates, ActionKind::Click, kRules);
  for (const auto& r : choice.top) EXPECT_FALSE(candidates[r.index].partial);

  // Light records still count for the uniqueness of a built selector.
  std::vector<Fingerprint> page{button("", "Guardar", "/html/body/button[1]")};
  Fingerprint twin = button("", "Guardar", "");
  twin.partial = true;
  page.push_back(twin);
  for (const auto& s : build_selectors(page, 0)) EXPECT_EQ(s.find("Guardar"), std::string::npos) << s;
}

TEST(FingerprintRules, ActionNames) {
  EXPECT_STREQ(action_name(action_kind("click", "")), "click");
  EXPECT_STREQ(action_name(action_kind("fill", "")), "fill");
  EXPECT_STREQ(action_name(action_kind("select_option", "")), "select");
  EXPECT_STREQ(action_name(action_kind("get_text", "")), "read");
  EXPECT_STREQ(action_name(action_kind("find", "")), "any");
}

// The page's candidates are read without a JSON tree; each must come out as the
// single-fingerprint reader (which builds one) reads the same object.
TEST(FingerprintParse, CandidateListsReadAsSingleFingerprints) {
  const std::vector<std::string> objects{
      R"({"tag":"BUTTON","type":"Submit","role":"Button","id":"go","text":"Ir ✅","x":1.5,"y":-2,"width":30,"height":10})",
      R"({"tag":"input","type":"submit","value":"Entrar","enabled":false,"visible":false,"editable":true,"clickable":true})",
      R"({"tag":"a","href":"/x?a=1","text":"uno","text":"dos","light":true})",
      R"({"tag":"div","text":5,"id":null,"name":["n"],"title":{"a":{"b":[1,2]}},"x":"3","enabled":"no","classes":"a b"})",
      R"({"tag":"span","neighbours":"antes después","context":"form f Pedido 7","xpath":"/html/body/span","id_xpath":"//*[@id=\"m\"]/span"})",
      R"({"tag":"td","x":1e308,"y":12345678901234567890,"testid":"fila","testid_attr":"data-qa","label":"L","aria_label":"A","placeholder":"P","alt":"Al"})",
      R"({"tag":"li","x":1,"x":"uno","enabled":false,"enabled":true})",
      R"({"tag":"h1","only":true,"text":"Libros"})",
  };
  std::string array = "[";
  for (const auto& o : objects) array += o + ",";
  array += R"(7,"texto",null,[1,2],{}])";
  auto list = parse_fingerprints(array);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), objects.size() + 5);
  auto same = [](const Fingerprint& a, const Fingerprint& b) {
    return std::tie(a.tag, a.id, a.name, a.type, a.role, a.classes, a.text, a.label, a.aria_label, a.placeholder,
                    a.title, a.alt, a.value, a.href, a.testid, a.testid_attr, a.xpath, a.id_xpath, a.neighbours,
                    a.context, a.x, a.y, a.width, a.height, a.enabled, a.visible, a.editable, a.clickable_hint,
                    a.partial, a.only) ==
           std::tie(b.tag, b.id, b.name, b.type, b.role, b.classes, b.text, b.label, b.aria_label, b.placeholder,
                    b.title, b.alt, b.value, b.href, b.testid, b.testid_attr, b.xpath, b.id_xpath, b.neighbours,
                    b.context, b.x, b.y, b.width, b.height, b.enabled, b.visible, b.editable, b.clickable_hint,
                    b.partial, b.only);
  };
  for (std::size_t i = 0; i < objects.size(); ++i) {
    auto single = parse_fingerprint(objects[i]);
    ASSERT_TRUE(single) << objects[i];
    EXPECT_TRUE(same((*list)[i], *single)) << objects[i];
  }
  EXPECT_EQ((*list)[0].tag, "button");
  EXPECT_EQ((*list)[1].text, "Entrar");  // an input button's value is its text
  EXPECT_EQ((*list)[2].text, "dos");     // the last of repeated keys
  EXPECT_EQ((*list)[6].x, 0);            // ... even when it has another type
  for (std::size_t i = objects.size(); i < list->size(); ++i) EXPECT_TRUE((*list)[i].tag.empty());

  EXPECT_FALSE(parse_fingerprints(R"({"tag":"a"})"));
  EXPECT_FALSE(parse_fingerprints("[{\"tag\":\"a\"}"));
  EXPECT_FALSE(parse_fingerprints("[\"\xff\"]"));  // not UTF-8
  EXPECT_FALSE(parse_fingerprints(""));
  EXPECT_TRUE(parse_fingerprints("[]"));
}

TEST(FingerprintRules, FieldsOfOneFamilyAreNotEachOther) {
  // The ISBN of the sixth inline row was removed; the same row's title is not it.
  Fingerprint isbn = element("input", "", "/html/body/form/table/tbody/tr[6]/td[3]/input");
  isbn.type = "text";
  isbn.id = "id_books-5-isbn";
  isbn.name = "books-5-isbn";
  isbn.neighbours = "El nombre del viento";
  Fingerprint title = isbn;
  title.id = "id_books-5-title";
  title.name = "books-5-title";
  title.xpath = "/html/body/form/table/tbody/tr[6]/td[2]/input";
  EXPECT_FALSE(choose_candidate(isbn, {title}, ActionKind::Fill, kRules).index);
  // The row's delete box is not its "in stock" box.
  Fingerprint del = element("input", "", "/t/tr[8]/td[7]/input");
  del.type = "checkbox";
  del.id = "id_books-7-DELETE";
  del.name = "books-7-DELETE";
  Fingerprint stock = del;
  stock.id = "id_books-7-in_stock";
  stock.name = "books-7-in_stock";
  stock.xpath = "/t/tr[8]/td[6]/input";
  EXPECT_FALSE(choose_candidate(del, {stock}, ActionKind::Click, kRules).index);
  Fingerprint first = element("input", "", "/f/input[1]");
  first.id = "id_first_name";
  Fingerprint last = first;
  last.id = "id_last_name";
  EXPECT_LT(similarity(first, last).score, kRules.threshold);
  // An identifier that only grew a word is the same name.
  Fingerprint grown = first;
  grown.id = "id_first_name_input";
  EXPECT_GT(similarity(first, grown).score, 0.8);
}

TEST(FingerprintRules, AReadTextDoesNotBecomeAControl) {
  // A header cell is not the sort link inside it; a label is not its input.
  Fingerprint th = element("th", "id", "/html/body/table/thead/tr/th[1]");
  th.classes = "col-id";
  Fingerprint sort = element("a", "id", "/html/body/table/thead/tr/th[1]/a");
  sort.href = "?_sort_desc=id";
  EXPECT_NE(fit_problem(th, sort, ActionKind::Read), "");
  EXPECT_NE(fit_problem(th, sort, ActionKind::Any), "");
  Fingerprint label = element("label", "Title:", "/f/div/label");
  Fingerprint input = element("input", "", "/f/div/input");
  input.type = "text";
  input.label = "Title:";
  EXPECT_NE(fit_problem(label, input, ActionKind::Read), "");
  // A heading that became a summary, a cell that became a header: the same text.
  Fingerprint h3 = element("h3", "By staff status", "/d/h3[1]");
  Fingerprint summary = element("summary", "By staff status", "/d/details[1]/summary");
  EXPECT_EQ(fit_problem(h3, summary, ActionKind::Read), "");
  Fingerprint td = element("td", "7", "/t/tr/td[1]");
  Fingerprint th7 = element("th", "7", "/t/tr/th[1]");
  EXPECT_EQ(fit_problem(td, th7, ActionKind::Read), "");
}

TEST(FingerprintRules, TheSameFieldOfAnotherRowIsStale) {
  // //tbody/tr[12]/td[5]/input after a reorder finds row 10's date: same look, other row.
  Fingerprint row11 = element("input", "", "/html/body/form/table/tbody/tr[12]/td[5]/input");
  row11.type = "text";
  row11.id = "id_books-11-published";
  row11.name = "books-11-published";
  row11.classes = "vDateField";
  Fingerprint row10 = row11;
  row10.id = "id_books-10-published";
  row10.name = "books-10-published";
  EXPECT_TRUE(sibling_row(row11, row10));
  Fingerprint row9 = row11;
  row9.id = "id_books-9-published";
  row9.name = "books-9-published";
  EXPECT_TRUE(sibling_row(row11, row9));  // numbers of other lengths too
  EXPECT_TRUE(stale_score(row11, row10, kRules));
  EXPECT_FALSE(stale_score(row11, row11, kRules));
  Fingerprint other_field = row11;
  other_field.id = "id_books-11-isbn";
  other_field.name = "books-11-isbn";
  EXPECT_FALSE(sibling_row(row11, other_field));
  Fingerprint unnumbered = element("input", "", "/x");
  unnumbered.id = "search";
  EXPECT_FALSE(sibling_row(unnumbered, unnumbered));
}

TEST(FingerprintDecision, OnlyCloseCallsBetweenPlausibleCandidatesAreAmbiguous) {
  auto stored = button("save-settings", "Guardar ajustes", "/html/body/form/button[1]");
  auto healed = stored;
  healed.id = "save-settings-btn";
  auto twin = healed;
  twin.id = "save-settings-bottom";
  twin.xpath = "/html/body/form/button[3]";
  auto c = choose_candidate(stored, {healed, twin}, ActionKind::Click, kRules);
  EXPECT_FALSE(c.index);
  EXPECT_TRUE(c.ambiguous);
  // Nothing plausible (the element was removed): an abstention, not a question for a model.
  auto cancel = button("cancel", "Cancelar", "/html/body/form/button[2]", 240);
  c = choose_candidate(stored, {cancel}, ActionKind::Click, kRules);
  EXPECT_FALSE(c.index);
  EXPECT_FALSE(c.ambiguous);
  c = choose_candidate(stored, {healed}, ActionKind::Click, kRules);
  EXPECT_TRUE(c.index);
  EXPECT_FALSE(c.ambiguous);
}

TEST(FingerprintRules, AModelAnswerNeedsTheIdentityFloorToo) {
  // Same place and look, but the element's own naming does not match.
  Fingerprint stored = element("input", "", "/f/div[3]/input");
  stored.type = "password";
  stored.id = "id_new_password2";
  stored.name = "new_password2";
  stored.label = "New password confirmation:";
  stored.classes = "vTextField";
  stored.neighbours = "Enter the same password as before, for verification.";
  stored.context = "Password change";
  Fingerprint other = stored;
  other.id = "id_new_password1";
  other.name = "new_password1";
  other.label = "New password:";
  other.xpath = "/f/div[2]/input";
  double score = 0;
  EXPECT_NE(answer_problem(stored, other, ActionKind::Fill, "new_password2", kRules, &score), "");
}

TEST(FingerprintDecision, ThePagesOneMainHeadingStaysItWhateverItsText) {
  Fingerprint h1 = element("h1", "Are you sure?", "/html/body/div/div[3]/h1");
  h1.only = true;
  Fingerprint now = element("h1", "Delete", "/html/body/div/main/div/h1");
  now.only = true;
  Fingerprint h2 = element("h2", "Summary", "/html/body/div/main/div/h2");
  auto c = choose_candidate(h1, {h2, now}, ActionKind::Read, kRules);
  ASSERT_TRUE(c.index) << c.reason;
  EXPECT_EQ(*c.index, 1u);
  double score = 0;
  EXPECT_EQ(answer_problem(h1, now, ActionKind::Read, "heading", kRules, &score), "");  // reused from the store
  EXPECT_FALSE(stale_score(h1, now, kRules));
  // Not when either page had more than one h1: then its text must still name it.
  Fingerprint one_of_two = now;
  one_of_two.only = false;
  EXPECT_FALSE(choose_candidate(h1, {h2, one_of_two}, ActionKind::Read, kRules).index);
  Fingerprint was_one_of_two = h1;
  was_one_of_two.only = false;
  EXPECT_FALSE(choose_candidate(was_one_of_two, {h2, now}, ActionKind::Read, kRules).index);
  // Found by its tag.
  auto sel = build_selectors({h2, now}, 1);
  ASSERT_FALSE(sel.empty());
  EXPECT_EQ(sel.back(), "h1");
}

TEST(FingerprintDecision, AnElementNamedAsBeforeMayMoveAndChangeItsTag) {
  // A logout link became the submit button of a form in another part of the page:
  // its text and target are unchanged, little else is.
  Fingerprint link = element("a", "Log out", "/html/body/div/div[1]/div[2]/a[3]");
  link.href = "/admin/logout/";
  link.neighbours = "Welcome, admin. View site / Change password /";
  link.context = "Django administration";
  link.x = 900;
  link.y = 20;
  link.width = 60;
  link.height = 16;
  Fingerprint button = element("button", "Log out", "/html/body/div/header/div[2]/form/button");
  button.type = "submit";
  button.href = "/admin/logout/";
  button.classes = "";
  button.neighbours = "Toggle theme";
  button.x = 1100;
  button.y = 40;
  button.width = 70;
  button.height = 30;
  auto sim = similarity(link, button);
  EXPECT_LT(sim.score, kRules.threshold);
  EXPECT_TRUE(similar_enough(sim, kRules)) << sim.score;
  auto c = choose_candidate(link, {button}, ActionKind::Click, kRules);
  EXPECT_TRUE(c.index) << c.reason << " " << c.best;
  // The same text alone is not enough: the "Add" of another model is another link.
  Fingerprint add_user = element("a", "Add", "/t/tr[2]/td[1]/a");
  add_user.href = "/admin/auth/user/add/";
  add_user.classes = "addlink";
  Fingerprint add_group = add_user;
  add_group.href = "/admin/auth/group/add/";
  add_group.xpath = "/t/tr[1]/td[1]/a";
  EXPECT_EQ(fit_problem(add_user, add_group, ActionKind::Click), "otro destino");
  EXPECT_FALSE(choose_candidate(add_user, {add_group}, ActionKind::Click, kRules).index);
  // Another query on the same page is not another destination.
  Fingerprint year = element("a", "1992", "/n/ul/li[3]/a");
  year.href = "?published__year=1992";
  Fingerprint year2 = year;
  year2.href = "/books/?published__year=1992";
  EXPECT_EQ(fit_problem(year, year2, ActionKind::Click), "");
  // A field of another name is another field.
  Fingerprint isbn = element("input", "", "/f/input[1]");
  isbn.name = "books-5-isbn";
  Fingerprint title = isbn;
  title.name = "books-5-title";
  EXPECT_EQ(fit_problem(isbn, title, ActionKind::Fill), "otro campo");
}

TEST(FingerprintSelectors, AClassOnlyTheElementHasBeforeAnyPath) {
  Fingerprint th = element("th", "id", "/t/thead/tr/th[1]");
  th.classes = "col-id type-pk css-1x9zq";
  Fingerprint other = element("th", "title", "/t/thead/tr/th[2]");
  other.classes = "col-title type-pk";
  auto sel = build_selectors({th, other}, 0);
  ASSERT_FALSE(sel.empty());
  EXPECT_EQ(sel[0], "th:text-is(\"id\")");
  EXPECT_NE(std::find(sel.begin(), sel.end(), "th.col-id"), sel.end());
  EXPECT_EQ(std::find(sel.begin(), sel.end(), "th.type-pk"), sel.end());  // shared
  for (const auto& s : sel) EXPECT_EQ(s.find("xpath="), std::string::npos) << s;
  // With a path from the nearest id, that path comes last; the absolute one never.
  th.id_xpath = "//*[@id=\"rows\"]/thead/tr/th[1]";
  sel = build_selectors({th, other}, 0);
  EXPECT_EQ(sel.back(), "xpath=//*[@id=\"rows\"]/thead/tr/th[1]");
  EXPECT_EQ(std::find(sel.begin(), sel.end(), "xpath=/t/thead/tr/th[1]"), sel.end());
}

TEST(FingerprintDecision, RepeatedLookAlikesAreToldApartByTheirOwnSection) {
  // Every filter has an "All" link to "?"; the one under "By active" is the element.
  auto all_link = [](std::string heading, std::string xpath) {
    Fingerprint f = element("a", "All", std::move(xpath));
    f.href = "?";
    f.context = "Filter " + heading;
    f.neighbours = heading + " Yes No";
    return f;
  };
  Fingerprint stored = all_link("By active", "/d/div/ul[3]/li[1]/a");
  Fingerprint staff = all_link("By staff status", "/d/nav/details[1]/ul/li[1]/a");
  Fingerprint superuser = all_link("By superuser status", "/d/nav/details[2]/ul/li[1]/a");
  Fingerprint active = all_link("By active", "/d/nav/details[3]/ul/li[1]/a");
  auto c = choose_candidate(stored, {staff, superuser, active}, ActionKind::Click, kRules);
  ASSERT_TRUE(c.index) << c.reason;
  EXPECT_EQ(*c.index, 2u);
  // With its section gone, the others stay look-alikes: no heal.
  c = choose_candidate(stored, {staff, superuser}, ActionKind::Click, kRules);
  EXPECT_FALSE(c.index);
}

TEST(FingerprintDecision, OtherRowsAreNoRivalsOfTheRowThatKeptItsName) {
  // The id of the fourth row's title was renamed; its name is unchanged, and the
  // titles of the other rows differ from it only in the row number.
  auto title = [](int row) {
    Fingerprint f = element("input", "", "/f/table/tbody/tr[" + std::to_string(row + 1) + "]/td[2]/input");
    f.type = "text";
    f.id = "id_books-" + std::to_string(row) + "-title";
    f.name = "books-" + std::to_string(row) + "-title";
    f.classes = "vTextField";
    f.context = "Books";
    return f;
  };
  Fingerprint stored = title(3);
  Fingerprint renamed = stored;
  renamed.id = "id_books-3-name";
  auto c = choose_candidate(stored, {title(2), renamed, title(4)}, ActionKind::Fill, kRules);
  ASSERT_TRUE(c.index) << c.reason << " " << c.best << " " << c.second;
  EXPECT_EQ(*c.index, 1u);
  // The row removed: another row's title is not it.
  EXPECT_FALSE(choose_candidate(stored, {title(2), title(4)}, ActionKind::Fill, kRules).index);
}

TEST(FingerprintDecision, TheOnlyHeadingUnderANamedContainerStaysIt) {
  Fingerprint h1 = element("h1", "Are you sure?", "/html/body/div/div[3]/h1");
  h1.id_xpath = "//*[@id=\"content\"]/h1";
  Fingerprint now = element("h1", "Confirm deletion", "/html/body/div/div[3]/h1");
  now.id_xpath = "//*[@id=\"content\"]/h1";
  Fingerprint site = element("h1", "Administration", "/html/body/div/div[1]/h1");
  site.id_xpath = "//*[@id=\"header\"]/h1";
  auto c = choose_candidate(h1, {site, now}, ActionKind::Read, kRules);
  ASSERT_TRUE(c.index) << c.reason;
  EXPECT_EQ(*c.index, 1u);
  // Not one of several headings there, not under a generated id, not when it is gone.
  Fingerprint second = now;
  second.id_xpath = "//*[@id=\"content\"]/h1[2]";
  Fingerprint first = h1;
  first.id_xpath = "//*[@id=\"content\"]/h1[2]";
  EXPECT_FALSE(choose_candidate(first, {site, second}, ActionKind::Read, kRules).index);
  Fingerprint generated = h1;
  generated.id_xpath = "//*[@id=\":r12:\"]/h1";
  Fingerprint generated_now = now;
  generated_now.id_xpath = generated.id_xpath;
  EXPECT_FALSE(same_landmark(generated, generated_now));
  EXPECT_FALSE(choose_candidate(h1, {site}, ActionKind::Read, kRules).index);
}

// ---------------------------------------------------------------- rows and page regions

namespace {

Fingerprint row_checkbox(std::string value, std::string xpath, std::string neighbours) {
  Fingerprint f = element("input", "", std::move(xpath));
  f.type = "checkbox";
  f.name = "_selected_action";
  f.value = std::move(value);
  f.classes = "action-select";
  f.neighbours = std::move(neighbours);
  f.context = "form changelist-form Select author to change";
  f.landmark = "body";
  f.width = 13;
  f.height = 13;
  return f;
}

Fingerprint nav_link(std::string text, std::string href, std::string xpath, std::string landmark) {
  Fingerprint f = element("a", std::move(text), std::move(xpath));
  f.href = std::move(href);
  f.landmark = std::move(landmark);
  f.width = 60;
  f.height = 16;
  return f;
}

}  // namespace

TEST(FingerprintParse, ReadsThePageRegion) {
  auto f = parse_fingerprint(R"({"tag":"a","landmark":"nav nav-sidebar"})");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->landmark, "nav nav-sidebar");
  auto list = parse_fingerprints(R"([{"tag":"a","landmark":"body"},{"tag":"a"}])");
  ASSERT_TRUE(list);
  EXPECT_EQ((*list)[0].landmark, "body");
  EXPECT_EQ((*list)[1].landmark, "");  // a record of an older build: region unknown
}

TEST(FingerprintDecision, ARowCheckboxIsToldApartByItsValue) {
  // The checkbox of row 2 was removed; row 1's has the same name, class and
  // place in its row: only its value (the row's key) differs.
  auto stored = row_checkbox("2", "/html/body/form/table/tbody/tr[2]/td[1]/input", "May 14, 1895 Jorge Luis Borges");
  auto row1 = row_checkbox("1", "/html/body/form/table/tbody/tr[2]/td[1]/input", "April 13, 1875 Ada Lovelace");
  auto c = choose_candidate(stored, {row1}, ActionKind::Click, kRules);
  EXPECT_FALSE(c.index) << c.best;
  EXPECT_FALSE(c.ambiguous);  // nothing for a model to choose either
  EXPECT_NE(another_element(stored, row1), "");
  double score = 0;
  EXPECT_NE(answer_problem(stored, row1, ActionKind::Click, "select_borges", kRules, &score), "");
  // A positional selector that now finds row 1's checkbox is stale.
  EXPECT_TRUE(sibling_row(stored, row1));
  EXPECT_TRUE(stale_score(stored, row1, kRules));
  // Values that are not row keys do not make rows: "on" / "off", "yes" / "no".
  auto on = row_checkbox("on", stored.xpath, stored.neighbours);
  auto off = on;
  off.value = "off";
  EXPECT_EQ(another_element(on, off), "");
  EXPECT_FALSE(sibling_row(on, off));
  // A radio button is not another row's checkbox, and a renamed class keeps the row.
  auto radio = row1;
  radio.type = "radio";
  EXPECT_EQ(another_element(stored, radio), "");
  auto same_row = stored;
  same_row.classes = "css-1x2y";
  c = choose_candidate(stored, {row1, same_row}, ActionKind::Click, kRules);
  ASSERT_TRUE(c.index);
  EXPECT_EQ(*c.index, 1u);
}

TEST(FingerprintDecision, ALinkInANavigationRegionIsNotTheRemovedOneOfTheContent) {
  // The breadcrumb "Library" was removed; the sidebar menu has a link with the
  // same text and target.
  auto crumb = nav_link("Library", "/admin/library/", "/html/body/div/div[2]/a[2]", "body");
  crumb.context = "Django administration";
  crumb.neighbours = "› › Authors";
  auto menu = nav_link("Library", "/admin/library/", "/html/body/div/div[3]/nav/div[2]/table/caption/a",
                       "nav nav-sidebar");
  menu.context = "nav nav-sidebar Library";
  menu.neighbours = "Add Authors";
  auto c = choose_candidate(crumb, {menu}, ActionKind::Click, kRules);
  EXPECT_FALSE(c.index) << c.best;
  EXPECT_NE(another_element(crumb, menu), "");
  double score = 0;
  EXPECT_NE(answer_problem(crumb, menu, ActionKind::Click, "breadcrumb_library", kRules, &score), "");
  // The other way round too: a removed menu link is not the content's link.
  EXPECT_NE(another_element(menu, crumb), "");
  // The same link with a new wrapper in the same region, or in another region
  // that is no navigation (a header link that moved into the main part), heals.
  auto wrapped = crumb;
  wrapped.xpath = "/html/body/div/div[2]/span/a[1]";
  c = choose_candidate(crumb, {menu, wrapped}, ActionKind::Click, kRules);
  ASSERT_TRUE(c.index);
  EXPECT_EQ(*c.index, 1u);
  auto header = crumb;
  header.landmark = "header header";
  auto main_part = crumb;
  main_part.landmark = "main";
  EXPECT_EQ(another_element(header, main_part), "");
  // Fingerprints recorded without the region (older stores) are compared as before.
  auto unknown = menu;
  unknown.landmark.clear();
  EXPECT_EQ(another_element(crumb, unknown), "");
  // A release that tags a part of the page as a region keeps its elements: a
  // plain <nav> around the year links, the filter <div id="changelist-filter">
  // that became <nav id="changelist-filter">.
  auto year = nav_link("1992", "?published__year=1992", "/html/body/div/ul/li[3]/a", "body");
  year.id_xpath = "//*[@id=\"changelist\"]/div[1]/div[2]/ul/li[3]/a";
  auto year_in_nav = year;
  year_in_nav.landmark = "nav";
  EXPECT_EQ(another_element(year, year_in_nav), "");
  auto filter = nav_link("All", "?", "/html/body/div/div[3]/ul[1]/li[1]/a", "body");
  filter.id_xpath = "//*[@id=\"changelist-filter\"]/ul[1]/li[1]/a";
  auto filter_in_nav = filter;
  filter_in_nav.landmark = "nav changelist-filter";
  filter_in_nav.id_xpath = "//*[@id=\"changelist-filter\"]/details[1]/ul/li[1]/a";
  EXPECT_EQ(another_element(filter, filter_in_nav), "");
  EXPECT_EQ(another_element(filter_in_nav, filter), "");
  // ... but not when the element's path started at another id (the breadcrumb's).
  crumb.id_xpath = "//*[@id=\"container\"]/div[2]/a[2]";
  EXPECT_NE(another_element(crumb, menu), "");
  // Two named navigation regions: the footer's menu is not the sidebar's.
  auto footer_menu = menu;
  footer_menu.landmark = "navigation footer-links";
  EXPECT_NE(another_element(menu, footer_menu), "");
}

TEST(FingerprintRules, AnAnswerChoosingAnotherRowIsRefusedUnlessItsTextsMatch) {
  // The 7th book's genre was removed; the 5th book's is the same field of another
  // row. A model asked to choose between rows picks one: refused.
  Fingerprint stored = element("select", "", "/f/table/tbody/tr[7]/td[4]/select");
  stored.id = "id_books-6-genre";
  stored.name = "books-6-genre";
  stored.neighbours = "The Atlas of Engine 7";
  stored.landmark = "body";
  Fingerprint fifth = stored;
  fifth.id = "id_books-4-genre";
  fifth.name = "books-4-genre";
  fifth.xpath = "/f/table/tbody/tr[5]/td[4]/select";
  fifth.neighbours = "The Mirror of Lantern 5";
  double score = 0;
  EXPECT_EQ(answer_problem(stored, fifth, ActionKind::Select, "book7_genre", kRules, &score),
            "el mismo campo de otra fila");
  // Renumbered rows (one deleted above): the row's own texts are the stored ones,
  // so the row rule does not refuse it (the score decides, as for any answer).
  Fingerprint renumbered = fifth;
  renumbered.neighbours = stored.neighbours;
  EXPECT_NE(answer_problem(stored, renumbered, ActionKind::Select, "book7_genre", kRules, &score),
            "el mismo campo de otra fila");
  // The element itself passes.
  EXPECT_EQ(answer_problem(stored, stored, ActionKind::Select, "book7_genre", kRules, &score), "");
}

TEST(FingerprintDecision, ACloseCallBetweenOtherRowsIsNoQuestionForAModel) {
  // The 7th book's genre was removed; the 5th and 6th books' look just alike.
  Fingerprint stored = element("select", "", "/f/table/tbody/tr[7]/td[4]/select");
  stored.id = "id_books-6-genre";
  stored.name = "books-6-genre";
  stored.classes = "genre";
  stored.context = "fieldset Books";
  stored.neighbours = "The Atlas of Engine 7";
  stored.label = "Genre";
  stored.role = "combobox";
  stored.aria_label = "Genre of the book";
  Fingerprint fifth = stored, sixth = stored;
  fifth.id = "id_books-4-genre";
  fifth.name = "books-4-genre";
  fifth.xpath = "/f/table/tbody/tr[5]/td[4]/select";
  fifth.neighbours = "The Mirror of Lantern 5";
  sixth.id = "id_books-5-genre";
  sixth.name = "books-5-genre";
  sixth.xpath = "/f/table/tbody/tr[6]/td[4]/select";
  sixth.neighbours = "The River of Orbit 6";
  auto c = choose_candidate(stored, {fifth, sixth}, ActionKind::Select, kRules);
  EXPECT_FALSE(c.index);
  EXPECT_FALSE(c.ambiguous) << c.reason;
  EXPECT_EQ(c.reason, "solo el mismo campo de otras filas");  // they were plausible: a close call
  // Look-alikes that are not rows of one table stay a question for a model.
  auto top = button("save-settings-top", "Guardar ajustes", "/html/body/form/button[1]");
  auto bottom = button("save-settings-bottom", "Guardar ajustes", "/html/body/form/button[3]");
  auto gone = button("save-settings", "Guardar ajustes", "/html/body/form/button[2]");
  c = choose_candidate(gone, {top, bottom}, ActionKind::Click, kRules);
  EXPECT_FALSE(c.index);
  EXPECT_TRUE(c.ambiguous);
}
