// Element fingerprints: what an element looked like the last time a locator
// found it, and the rules that compare a stored fingerprint with the elements
// of the live page to heal a broken locator without asking a model.
//
// A fingerprint travels as a JSON object (built by a script in the page, kept
// in the healing store as text); parse_fingerprint turns it into the struct.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::healing {

struct Fingerprint {
  std::string tag, id, name, type, role, classes, text, label, aria_label, placeholder, title, alt, value, href,
      testid, testid_attr, xpath, id_xpath, neighbours, context;
  double x = 0, y = 0, width = 0, height = 0;
  bool enabled = true, visible = true, editable = false, clickable_hint = false;
  // A light record: only what tells the element's kind and names it (no place,
  // neighbours, section, paths or classes). Never scored; see may_need_full.
  bool partial = false;
  bool only = false;  // the page's one h1, header, footer or main
  // The page region it sits in: "nav nav-sidebar", "header", "main", "body"
  // outside every region; empty when not recorded (a record of an older build).
  std::string landmark;
};

// nullopt when the text is not a JSON object with at least a "tag".
std::optional<Fingerprint> parse_fingerprint(std::string_view json);
// nullopt when the text is not a JSON array; entries that are not
// fingerprints become an empty fingerprint (tag "") that never matches.
std::optional<std::vector<Fingerprint>> parse_fingerprints(std::string_view json);

// The kind of control an element is, as far as an action cares.
enum class ElementKind { Clickable, Fillable, Selectable, Container, Root, Other };
ElementKind kind_of(const Fingerprint& f);
const char* kind_name(ElementKind k);

// What the step wants to do with the element.
enum class ActionKind { Click, Fill, Select, Read, Any };
// From the locator's operation ("click", "fill", "select_option", "get_text",
// "hover", "find") and, for a plain find, the step's action description
// ("hacer click en el elemento", "escribir texto en el campo", ...).
ActionKind action_kind(std::string_view operation, std::string_view action_context);

// Short name of an action kind: "click", "fill", "select", "read", "any".
const char* action_name(ActionKind a);

// True when a light record among `candidates` may stand for `stored` under
// `action`: the page's prefilter let through less than the matcher needs, and
// the candidates must be read again in full.
bool may_need_full(const Fingerprint& stored, const std::vector<Fingerprint>& candidates, ActionKind action);

// Similarity of two fingerprints in [0, 1]: a weighted mean over the
// attributes the stored fingerprint has (see fingerprint.cpp for the weights).
struct Similarity {
  double score = 0;     // all attributes
  double identity = 0;  // only the attributes that name the element (id, text, labels...)
  double identity_weight = 0;  // how much naming the stored element had (sum of those weights)
  bool has_identity = false;
};
Similarity similarity(const Fingerprint& stored, const Fingerprint& candidate);

// Empty when `candidate` may stand for `stored` under `action`, otherwise the
// reason it may not (wrong kind, disabled, root element, opposite action).
std::string fit_problem(const Fingerprint& stored, const Fingerprint& candidate, ActionKind action);

// The page's one main heading (header, footer, main) stands for the page's one
// main heading of before, whatever its text now says; so does a heading that is
// the only one of its level right under the same element with an id.
bool same_landmark(const Fingerprint& stored, const Fingerprint& candidate);

// True when one text names an action and the other its opposite
// ("Add e-mail" / "Remove e-mail", "Mostrar" / "Ocultar").
bool opposite_actions(std::string_view a, std::string_view b);

struct MatchRules {
  double threshold = 0.7;       // least score a heal needs
  double margin = 0.1;          // least lead of the best over the second best
  double identity_floor = 0.5;  // least identity score, when the element had a name at all
  // Least score of an element whose naming (its text and at least one more naming
  // attribute: a link's target, an id, a name) is all unchanged: a link that became
  // a button in a form, moved to another part of the page, keeps its name.
  double named_threshold = 0.6;
};

// Whether a similarity is enough to take a candidate for the stored element:
// the threshold, or the lower named_threshold when all its naming agrees; and
// the identity floor in both cases.
bool similar_enough(const Similarity& sim, const MatchRules& rules);

struct RankedCandidate {
  std::size_t index = 0;
  double score = 0;
};

struct HealChoice {
  std::optional<std::size_t> index;  // the accepted candidate, if any
  double best = 0, second = 0;
  std::string reason;                  // why nothing was accepted ("" when accepted)
  // Nothing accepted only because two or more plausible candidates scored too
  // close to tell apart: the one case where asking a model can help.
  bool ambiguous = false;
  std::vector<RankedCandidate> top;    // the best fitting candidates, best first (at most 5)
};

// Picks the candidate that `stored` became, or abstains: the best fitting
// candidate is accepted only when its score reaches the threshold, its
// identity score the floor, and it leads the second best by the margin.
HealChoice choose_candidate(const Fingerprint& stored, const std::vector<Fingerprint>& candidates,
                            ActionKind action, const MatchRules& rules);

// A selector that still finds one element is stale when that element no
// longer looks like the recorded one: the same (not generated) id or test id
// means the same element whatever else changed; otherwise a score below the
// threshold, or the same field of another row (sibling_row). Returns the score
// when stale, nullopt when not.
// The same field of another repeated row: same tag, and an id, name or test id
// that differs from the stored one only in its numbers.
bool sibling_row(const Fingerprint& stored, const Fingerprint& current);

// Why `candidate` is another element than `stored` whatever its score, or
// empty: a checkbox or radio button of another row (its value differs from the
// stored one only in its numbers), or an element of another page region when
// either sits in a named navigation region (a site menu repeats the content's
// links with the same text and target). A region without a name, or named by
// the id the other element's path starts at, may be the same part of the page
// that a new release tagged as a region: no verdict then.
std::string another_element(const Fingerprint& stored, const Fingerprint& candidate);

std::optional<double> stale_score(const Fingerprint& stored, const Fingerprint& current, const MatchRules& rules);

// The gate for a replacement that did not come from choose_candidate (a heal
// remembered from an earlier run, a model's answer): empty when `candidate`
// may be used, otherwise why not. Without a stored fingerprint only the action
// rules and the element's name (no opposite action) are checked; with one,
// also its kind, a score of at least the threshold and an identity score of
// at least the floor. `score` receives the
// score (or -1 without a stored fingerprint).
std::string answer_problem(const std::optional<Fingerprint>& stored, const Fingerprint& candidate, ActionKind action,
                           std::string_view element_name, const MatchRules& rules, double* score);

// Selectors for candidates[index], most robust first: id, test id, name,
// role + accessible name, other naming attributes, exact text; then XPath from
// the nearest id and the absolute XPath only when nothing unique names it.
// Uniqueness is judged on `candidates`; the caller verifies on the live page.
std::vector<std::string> build_selectors(const std::vector<Fingerprint>& candidates, std::size_t index);

// True for ids that frameworks generate per render (":r1:", "ember123",
// long digit runs): unreliable as selectors.
bool looks_generated(std::string_view id);

}  // namespace tarvo::healing
