// The console lines, log records and report texts of locator self-healing, in
// one place: the healing loop, its page checks, the healing log and its
// report. One style: a fixed text is a constant; a text with values is a
// function of them.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace tarvo::healing {

// ---- Log lines (healing logger) -------------------------------------------

std::string provider_init_failed(std::string_view error);
std::string html_capture_failed(std::string_view error);
std::string provider_call_failed(std::string_view error);
inline constexpr std::string_view kNoMatchAnswer = "SELF_HEALING: IA no encontró un selector válido (NO_MATCH)";
// `answer` is shown through quoted_answer().
std::string invalid_selector_answer(std::string_view answer);
// The answer as quoted in a log line: whole when short, otherwise its first
// 200 characters followed by "... (<n> caracteres)".
std::string quoted_answer(std::string_view answer);

// The page checks of a suggestion.
std::string salesforce_count_failed(std::string_view error);
std::string salesforce_not_unique(long long count);
std::string interactable_check_failed(std::string_view error);
inline constexpr std::string_view kSalesforceNotInteractable =
    "SELF_HEALING (Salesforce): El selector encontró elemento pero NO es interactuable (podría estar "
    "deshabilitado o hidden).";
std::string visibility_check_failed(std::string_view error);
std::string selector_not_visible(std::string_view selector);
std::string selector_matches_none(std::string_view selector);
std::string selector_matches_many(std::string_view selector, long long count);
std::string using_visible_element(long long index, long long count);
std::string no_visible_element(long long count);
std::string selector_check_failed(std::string_view selector, std::string_view error);
std::string using_cached_selector(std::string_view selector);

// ---- Console lines (the healing loop) --------------------------------------

std::string searching_alternative(long long max_attempts);
std::string ai_call_line(long long attempt);
inline constexpr std::string_view kNoSuggestion = "   ❌ IA no pudo sugerir un selector";
std::string suggestion_line(std::string_view selector);
inline constexpr std::string_view kAlreadyRejected = "   ⚠️ Selector ya fue rechazado anteriormente, pidiendo otro...";
std::string rejected_line(std::string_view reason);
inline constexpr std::string_view kAskingAlternative = "   🔄 Pidiendo alternativa a IA...";

// Summary when no suggestion held.
std::string no_valid_selector(long long attempts);
std::string original_selector_line(std::string_view selector);
inline constexpr std::string_view kFailedAttemptsHeading = "   Intentos fallidos:";
std::string failed_attempt_line(std::string_view selector, std::string_view reason);
inline constexpr std::string_view kCheckPageLoaded = "   💡 Sugerencia: Verificar que la página cargó completamente\n";

// Summary of a healed locator.
inline constexpr std::string_view kHealedHeading = "\n🔧 SELF-HEALING ACTIVADO";
std::string healed_original_line(std::string_view selector);
std::string healed_suggested_line(std::string_view selector);
std::string healed_element_line(std::string_view element_name);
std::string healed_action_line(std::string_view action);
std::string resolved_in_attempt(long long attempt);
std::string using_nth_visible(long long index);
inline constexpr std::string_view kSelectorVerified = "   ✅ Selector verificado - elemento encontrado e interactuable\n";

// ---- Rejection reasons (console, and sent back to the model) ---------------

inline constexpr std::string_view kRejectedEarlier = "ya rechazado en ejecución anterior";
inline constexpr std::string_view kNoElementsFound = "0 elementos encontrados en la página";
std::string elements_found_none_visible(long long count);
inline constexpr std::string_view kFoundNotInteractable = "elemento encontrado pero no visible/interactuable";
// A veto whose own check failed.
std::string veto_check_failed(std::string_view error);

// ---- Failure texts, worded as Python words them ----------------------------
// A provider or page answer of the wrong kind fails as the same Python code
// would; the text reaches the log through the lines above.

// The page's capture script returned no text.
std::string no_len_failure(std::string_view type_name);
// The provider's reply is not a text.
std::string no_strip_failure(std::string_view type_name);
// The provider module has no factory.
std::string missing_factory_failure(std::string_view module, std::string_view name);

// ---- Healing log and report ------------------------------------------------

// successful/total*100 with one decimal and "%", or "N/A" for no entries.
std::string success_rate(long long total, long long successful);
std::string report_message(bool success, std::string_view original, std::string_view suggested);

}  // namespace tarvo::healing
