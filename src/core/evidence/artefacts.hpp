// Names and keep-or-drop rules of the evidence a run leaves behind: failure
// screenshots, Playwright traces and videos.
//
// File names are built from feature and scenario names, which are free text
// written by test authors (slashes, "..", NUL, emoji, hundreds of characters).
// Every component is reduced to a safe set of characters, so no name can leave
// its folder, hide as a dot file or exceed the file system's name limit.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo::evidence {

// A file-name component made of [A-Za-z0-9._-] only: accented Latin letters
// lose their accent (ó -> o, ñ -> n), blanks become "_", anything else becomes
// "_"; runs of "_" collapse; leading and trailing ".", "_", "-" go (so "." and
// ".." cannot result); at most max_bytes long; "unnamed" when nothing is left.
// A trailing "-retryN" or "-pageK" is written with "_" so a scenario's name can
// never look like another scenario's retry or page suffix.
std::string safe_name(std::string_view text, std::size_t max_bytes = 80);

// The first of stem, stem-2, stem-3, ... that `taken` does not report as used.
std::string unique_name(const std::string& stem, const std::function<bool(const std::string&)>& taken);

// "<feature_dir>/<stem>[-retryN][-pageK].<ext>": retry 0 and page 1 add no
// suffix. The two names must come from safe_name.
std::string artefact_path(std::string_view feature_dir, std::string_view stem, long long retry, long long page,
                          std::string_view ext);

// TRACE_MODE and VIDEO_MODE values, with pytest-playwright's meaning.
enum class ArtefactMode { Off, On, RetainOnFailure };

// "off", "on", "retain-on-failure" in any capitalisation, surrounding blanks
// ignored; an empty text gives `fallback`; anything else gives nullopt.
std::optional<ArtefactMode> parse_artefact_mode(std::string_view text, ArtefactMode fallback);
std::string_view mode_name(ArtefactMode mode);

// Whether a recorded artefact is kept: always with On, only after a failure
// with RetainOnFailure, never with Off.
bool keep_artefact(ArtefactMode mode, bool failed);

// The one warning printed when evidence work fails as a whole (the evidence's
// only console text). The scenario's outcome is never changed by it.
std::string evidence_failed(std::string_view error);

}  // namespace tarvo::evidence
