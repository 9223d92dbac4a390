// The console lines and log records of the run's configuration, in one place:
// the .env search, the validation report, the browser launch or connection,
// stealth mode and the retention of old videos. One style: a fixed text is a
// constant; a text with values is a function of them.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::config {

// ---- .env search (console) ----------------------------------------------------
std::string dotenv_loaded_line(std::string_view path);
std::string dotenv_variable_ignored_line(std::string_view name, std::string_view path);

// ---- validation report (console; the skip is a debug record) ---------------------
std::string validation_errors_heading(std::size_t count);
std::string validation_error_line(std::string_view text);
std::string validation_more_problems_line(std::size_t hidden);
std::string validation_warning_line(std::string_view text);
std::string validation_skipped(std::string_view error);

// ---- browser launch (console) -------------------------------------------------
inline constexpr std::string_view kUsingChrome = "🌐 Usando Google Chrome instalado en el sistema";
std::string chrome_failed(std::string_view error);
inline constexpr std::string_view kChromiumFallback = "🔄 Usando Chromium como alternativa";
inline constexpr std::string_view kUsingChromium = "🌐 Usando Chromium";
inline constexpr std::string_view kHeadlessSecurityOff =
    "ℹ️ HEADLESS=true añade --disable-web-security y --no-sandbox al navegador "
    "(HEADLESS_WEB_SECURITY=true los deja fuera)";
std::string flag_file_failed(std::string_view path, std::string_view reason);
// RuntimeError of a page or context asked for before the launch.
inline constexpr std::string_view kBrowserNotInitialized = "Browser not initialized. Call setup_playwright() first.";

// ---- remote browser (console; the failure is the ConnectionError's text) -------
std::string remote_browser_line(std::string_view variable, std::string_view endpoint);
std::string ignored_options_line(const std::vector<std::string>& ignored);
std::string connect_failed_message(std::string_view variable, std::string_view endpoint, long long timeout_ms,
                                   std::string_view error_first_line);

// ---- stealth mode (console) ----------------------------------------------------
inline constexpr std::string_view kStealthOn = "🥷 Modo stealth activado - Propiedades de automatización ocultas";
inline constexpr std::string_view kStealthMissing =
    "⚠️ playwright-stealth no está instalado. Ejecuta: pip install playwright-stealth";
std::string stealth_failed(std::string_view error);

// ---- video retention (console) ---------------------------------------------------
std::string videos_removed_message(std::size_t count);
std::string video_remove_failed_message(std::string_view path, std::string_view reason);
std::string video_cleanup_error_message(std::string_view reason);

}  // namespace tarvo::config
