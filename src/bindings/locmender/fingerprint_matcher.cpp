// FingerprintMatcher: the C++ fingerprint healing rules for the element
// locator. Fingerprints cross as JSON texts (as the page script returns them
// and the healing store keeps them); this file only converts.
#include "bindings/locmender/fingerprint_matcher.hpp"

#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include "bindings/common/pyutil.hpp"
#include "core/healing/fingerprint.hpp"

namespace tarvo::py {

namespace {

using healing::MatchRules;

// Fingerprints are page texts: lone surrogates become '?' (see pyutil's text policy).
std::string text_of(nb::handle value, const char* name) { return text_arg(value, name, Surrogates::Replace); }

std::optional<healing::Fingerprint> optional_fingerprint(nb::handle value, const char* name) {
  if (value.is_none()) return std::nullopt;
  return healing::parse_fingerprint(text_of(value, name));
}

nb::list selector_list(const std::vector<std::string>& selectors) {
  nb::list out;
  for (const auto& s : selectors) out.append(nb::str(s.c_str(), s.size()));
  return out;
}

}  // namespace

void bind_fingerprint_matcher(nb::module_& m) {
  nb::class_<MatchRules>(m, "FingerprintMatcher",
                         "Scores element fingerprints (JSON texts) against each other and decides fingerprint "
                         "heals: threshold, margin over the runner-up, action/kind rules, robust selectors.")
      .def(
          "__init__",
          [](MatchRules* self, double threshold, double margin) {
            new (self) MatchRules{};
            self->threshold = threshold;
            self->margin = margin;
          },
          nb::arg("threshold") = 0.7, nb::arg("margin") = 0.1)
      .def_rw("threshold", &MatchRules::threshold, "Least score a heal needs.")
      .def_rw("margin", &MatchRules::margin, "Least lead of the best candidate over the second best.")
      .def_rw("identity_floor", &MatchRules::identity_floor,
              "Least score of the naming attributes (id, text, labels) when the element had any.")
      .def(
          "score",
          [](const MatchRules&, nb::handle stored, nb::handle current) -> nb::object {
            auto s = healing::parse_fingerprint(text_of(stored, "stored"));
            auto c = healing::parse_fingerprint(text_of(current, "current"));
            if (!s || !c) return nb::none();
            return nb::float_(healing::similarity(*s, *c).score);
          },
          nb::arg("stored"), nb::arg("current"),
          "Similarity in [0, 1] of two fingerprints, or None when one is not a fingerprint.")
      .def(
          "stale",
          [](const MatchRules& rules, nb::handle stored, nb::handle current) -> nb::object {
            auto s = healing::parse_fingerprint(text_of(stored, "stored"));
            auto c = healing::parse_fingerprint(text_of(current, "current"));
            if (!s || !c) return nb::none();
            auto score = healing::stale_score(*s, *c, rules);
            return score ? nb::object(nb::float_(*score)) : nb::none();
          },
          nb::arg("stored"), nb::arg("current"),
          "The score when the element a selector finds no longer looks like the recorded one "
          "(a stale locator), else None.")
      .def(
          "choose",
          [](const MatchRules& rules, nb::handle stored, nb::handle candidates, nb::handle operation,
             nb::handle action_context) {
            nb::dict out;
            auto s = healing::parse_fingerprint(text_of(stored, "stored"));
            auto list = healing::parse_fingerprints(text_of(candidates, "candidates"));
            auto action =
                healing::action_kind(text_of(operation, "operation"), text_of(action_context, "action_context"));
            out["index"] = nb::none();
            out["best"] = 0.0;
            out["second"] = 0.0;
            out["top"] = nb::list();
            out["top_paths"] = nb::list();
            out["selectors"] = nb::list();
            out["incomplete"] = false;
            out["ambiguous"] = false;
            if (!s || !list) {
              out["reason"] = !s ? "huella guardada ilegible" : "lista de candidatos ilegible";
              return out;
            }
            if (healing::may_need_full(*s, *list, action)) {
              out["incomplete"] = true;
              out["reason"] = "candidatos incompletos";
              return out;
            }
            auto choice = healing::choose_candidate(*s, *list, action, rules);
            out["best"] = choice.best;
            out["second"] = choice.second;
            out["reason"] = choice.reason;
            out["ambiguous"] = choice.ambiguous;
            nb::list top, paths;
            for (const auto& r : choice.top) {
              top.append(nb::make_tuple(r.index, r.score));
              const std::string& p = (*list)[r.index].xpath;
              paths.append(nb::str(p.c_str(), p.size()));
            }
            out["top"] = top;
            out["top_paths"] = paths;
            if (choice.index) {
              out["index"] = *choice.index;
              out["selectors"] = selector_list(healing::build_selectors(*list, *choice.index));
            }
            return out;
          },
          nb::arg("stored"), nb::arg("candidates"), nb::arg("operation"), nb::arg("action_context") = "",
          "Decides a fingerprint heal: a dict with index (None when abstaining), best, second, reason, "
          "ambiguous (abstained only because plausible candidates scored too close), "
          "top ((index, score) pairs, best first), top_paths (their XPaths), selectors (most robust first) and "
          "incomplete (True when a light record might fit: read the candidates again in full).")
      .def(
          "prefilter",
          [](const MatchRules&, nb::handle stored, nb::handle operation, nb::handle action_context) -> nb::object {
            auto s = healing::parse_fingerprint(text_of(stored, "stored"));
            if (!s) return nb::none();
            auto action =
                healing::action_kind(text_of(operation, "operation"), text_of(action_context, "action_context"));
            return nb::make_tuple(healing::kind_name(healing::kind_of(*s)), healing::action_name(action),
                                  nb::str(s->tag.c_str(), s->tag.size()));
          },
          nb::arg("stored"), nb::arg("operation"), nb::arg("action_context") = "",
          "What the page's candidate script needs to send light records for the elements that cannot stand "
          "for the stored one: (kind, action, tag), or None when the stored fingerprint is unreadable.")
      .def(
          "check",
          [](const MatchRules& rules, nb::handle stored, nb::handle candidate, nb::handle operation,
             nb::handle action_context, nb::handle element_name) {
            auto s = optional_fingerprint(stored, "stored");
            auto c = healing::parse_fingerprint(text_of(candidate, "candidate"));
            if (!c) return nb::make_tuple("huella del elemento ilegible", nb::none());
            auto action =
                healing::action_kind(text_of(operation, "operation"), text_of(action_context, "action_context"));
            double score = -1;
            std::string problem =
                healing::answer_problem(s, *c, action, text_of(element_name, "element_name"), rules, &score);
            return nb::make_tuple(problem, score < 0 ? nb::none() : nb::object(nb::float_(score)));
          },
          nb::arg("stored").none(), nb::arg("candidate"), nb::arg("operation"), nb::arg("action_context") = "",
          nb::arg("element_name") = "",
          "Checks a replacement from the store or the model: (problem, score); problem is '' when it may be "
          "used, score None without a stored fingerprint.");
}

}  // namespace tarvo::py
