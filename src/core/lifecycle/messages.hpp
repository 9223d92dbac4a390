// The console lines and log records of the run lifecycle, in one place: the
// scenario and feature hooks, the retry pass and the hook relay. One style:
// a fixed text is a constant; a text with values is a function of them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::lifecycle {

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

// ---- Hook relay (run logger) -----------------------------------------------

inline constexpr std::string_view kNoBrowserMessage = "🚫 Tag @no_browser detectado - navegador desactivado";

// ---- Retry pass (console) ---------------------------------------------------

std::string retry_opening_rule();  // "\n" + 60 '='
std::string retry_closing_rule();  // 60 '=' + "\n"
std::string retry_rule();          // 60 '='
std::vector<std::string> retry_header(std::size_t failed_count, long long max_retries);
std::vector<std::string> attempt_header(long long attempt, long long max_retries, std::size_t remaining);
std::string retrying_line(std::string_view name);
std::string passed_line(long long attempt);
inline constexpr std::string_view kStillFailing = "   ❌ Sigue fallando";
std::string retry_error_line(std::string_view error);
std::string all_passed_line(long long attempt);
std::vector<std::string> still_failing_summary(const std::vector<std::string>& names, long long max_retries);
// Printed instead of the pass when the user stopped the run (Ctrl-C).
inline constexpr std::string_view kRetriesSkippedInterrupted =
    "⏹️ Ejecución interrumpida por el usuario: los escenarios fallidos no se reintentan";
inline constexpr std::string_view kBrowserRestarted = "   🔄 Browser reinicializado para reintentos";
std::string retry_browser_failed(std::string_view error);

// The re-run of one scenario.
std::string page_preparation_failed(std::string_view error);
inline constexpr std::string_view kNoValidSteps = "      ⚠️ Escenario sin steps válidos";
inline constexpr std::string_view kNoStepsToRun = "      ⚠️ No hay steps para ejecutar";
std::string step_assertion_line(std::string_view error);
std::string step_error_line(std::string_view error);

}  // namespace tarvo::lifecycle
