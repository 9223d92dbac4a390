// Texts and decisions of the per-scenario and per-feature lifecycle work: the
// page set-up at scenario start, the scenario-end bookkeeping and the feature
// hooks. Everything here is plain C++ so it can be tested without Python; the
// bindings only walk the runner's objects and call these.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::lifecycle {

// ---- Fixed values --------------------------------------------------------

// Viewport applied to a scenario tagged "mobile".
inline constexpr int kMobileViewportWidth = 375;
inline constexpr int kMobileViewportHeight = 667;
// Page time-outs (milliseconds) when the settings carry none.
inline constexpr long long kDefaultTimeoutMs = 30000;
inline constexpr long long kDefaultNavigationTimeoutMs = 30000;
// Video directory when the settings carry none.
inline constexpr std::string_view kDefaultVideoDir = "videos";

// ---- Decisions -----------------------------------------------------------

// A scenario counts as failed for the retry pass when its status is "failed",
// or one of the statuses newer runners use for failures that are not
// assertions ("error", "hook_error").
bool is_failed_status(std::string_view status_name);

// True when one of the tags, lower-cased, is exactly "mobile".
bool has_mobile_tag(const std::vector<std::string>& tags);

// At scenario start the first tab is brought to the front only when the first
// browser context holds two or more pages.
bool should_switch_to_first_tab(std::size_t page_count);

// At scenario end every page after the first one of the first browser context
// is closed; this is how many.
std::size_t extra_window_count(std::size_t page_count);

// ---- Log lines (run logger) ----------------------------------------------

inline constexpr std::string_view kBrowserDisabled = "🚫 Navegador desactivado - saltando inicialización";
inline constexpr std::string_view kPreviousPageInvalid = "Página anterior cerrada o inválida";
inline constexpr std::string_view kNewPageCreated = "🆕 Nueva página creada para el escenario";
// The browser process died (crash, killed): it is launched again for the
// scenarios that follow.
inline constexpr std::string_view kBrowserDied =
    "⚠️ El navegador se cerró inesperadamente: se inicia de nuevo para los escenarios siguientes";
inline constexpr std::string_view kBrowserRelaunched = "🔄 Navegador reiniciado";
inline constexpr std::string_view kPagesClosedAfterFeature = "🧹 Páginas cerradas al finalizar el feature";

std::string reusing_existing_page(std::string_view url);
std::string reusing_browser_page(std::string_view url);
std::string page_check_failed(std::string_view error);
std::string timeouts_configured(std::string_view timeout, std::string_view navigation_timeout);
std::string tag_setup_failed(std::string_view error);
std::string switched_to_first_tab(std::size_t page_count);
std::string first_tab_failed(std::string_view error);
std::string scenario_starting(std::string_view scenario_name);
std::string extra_windows_closed(std::size_t closed);
std::string extra_windows_failed(std::string_view error);
std::string registered_for_retry(std::string_view scenario_name);

// ---- Console lines (integration and teardown failures) -------------------

std::string meridio_before_scenario_failed(std::string_view error);
std::string jira_after_scenario_failed(std::string_view error);
std::string meridio_after_scenario_failed(std::string_view error);
std::string tarvo_after_scenario_failed(std::string_view error);
std::string jira_before_feature_failed(std::string_view error);
std::string jira_after_feature_failed(std::string_view error);
std::string closing_pages_failed(std::string_view error);
std::string video_processing_failed(std::string_view error);

}  // namespace tarvo::lifecycle
