#include "core/lifecycle/retry_report.hpp"

namespace tarvo::lifecycle {

namespace {
const std::string kRule(60, '=');
}

const char* const kPagePreparationError = "      ⚠️ Error preparando página: ";
const char* const kNoValidSteps = "      ⚠️ Escenario sin steps válidos";
const char* const kNoStepsToRun = "      ⚠️ No hay steps para ejecutar";
const char* const kAssertPrefix = "      ASSERT: ";
const char* const kErrorPrefix = "      ERROR: ";
const char* const kBrowserRestarted = "   🔄 Browser reinicializado para reintentos";
const char* const kRetriesSkippedInterrupted =
    "⏹️ Ejecución interrumpida por el usuario: los escenarios fallidos no se reintentan";
const char* const kBrowserPrepError = "   ⚠️ Error preparando browser para reintento: ";

std::string retry_opening_rule() { return "\n" + kRule; }
std::string retry_closing_rule() { return kRule + "\n"; }
std::string retry_rule() { return kRule; }

std::vector<std::string> retry_header(std::size_t failed_count, long long max_retries) {
  return {retry_opening_rule(),
          "🔄 REINTENTOS: " + std::to_string(failed_count) + " escenario(s) fallido(s) detectado(s)",
          "   Máximo reintentos configurados: " + std::to_string(max_retries), retry_rule()};
}

std::vector<std::string> attempt_header(long long attempt, long long max_retries, std::size_t remaining) {
  return {"\n🔄 Reintento " + std::to_string(attempt) + "/" + std::to_string(max_retries) + "...",
          "   Escenarios a reintentar: " + std::to_string(remaining)};
}

std::string retrying_line(const std::string& name) { return "\n   ▶ Reintentando: " + name; }
std::string passed_line(long long attempt) { return "   ✅ Pasó en reintento " + std::to_string(attempt); }
std::string still_failing_line() { return "   ❌ Sigue fallando"; }
std::string retry_error_line(const std::string& text) { return "   ⚠️ Error: " + text; }
std::string all_passed_line(long long attempt) {
  return "\n✅ ¡Todos los escenarios pasaron en el reintento " + std::to_string(attempt) + "!";
}

std::vector<std::string> still_failing_summary(const std::vector<std::string>& names, long long max_retries) {
  std::vector<std::string> lines;
  lines.push_back("\n❌ " + std::to_string(names.size()) + " escenario(s) siguen fallando después de " +
                  std::to_string(max_retries) + " reintento(s):");
  for (const auto& n : names) lines.push_back("   - " + n);
  return lines;
}

std::vector<std::size_t> run_retry_pass(const RetrySettings& settings, std::size_t entry_count,
                                        RetryTarget& target, Console& console, bool interrupted) {
  std::vector<std::size_t> failing;
  for (std::size_t i = 0; i < entry_count; ++i) failing.push_back(i);
  if (!settings.enabled || entry_count == 0) return failing;
  if (interrupted) {
    console.print(kRetriesSkippedInterrupted);
    return failing;
  }

  auto print_all = [&](const std::vector<std::string>& lines) {
    for (const auto& l : lines) console.print(l);
  };

  print_all(retry_header(entry_count, settings.max_retries));
  target.ensure_browser();

  for (long long attempt = 1; attempt <= settings.max_retries; ++attempt) {
    if (failing.empty()) break;
    print_all(attempt_header(attempt, settings.max_retries, failing.size()));
    target.begin_attempt(failing);
    target.attempt_started(attempt);
    std::vector<std::size_t> still;
    for (std::size_t entry : failing) {
      console.print(retrying_line(target.name(entry)));
      RetryOutcome outcome = target.run(entry);
      switch (outcome.result) {
        case RetryResult::Passed:
          console.print(passed_line(attempt));
          break;
        case RetryResult::StillFailing:
          still.push_back(entry);
          console.print(still_failing_line());
          break;
        case RetryResult::Error:
          still.push_back(entry);
          console.print(retry_error_line(outcome.error_text));
          break;
      }
    }
    failing = std::move(still);
    if (failing.empty()) {
      console.print(all_passed_line(attempt));
      break;
    }
  }

  if (!failing.empty()) {
    std::vector<std::string> names;
    for (std::size_t entry : failing) names.push_back(target.name(entry));
    print_all(still_failing_summary(names, settings.max_retries));
  }
  target.close_page();
  console.print(retry_closing_rule());
  return failing;
}

}  // namespace tarvo::lifecycle
