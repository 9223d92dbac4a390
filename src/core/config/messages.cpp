#include "core/config/messages.hpp"

namespace tarvo::config {

namespace {

std::string cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view p : parts) out.append(p);
  return out;
}

}  // namespace

std::string dotenv_loaded_line(std::string_view path) { return cat({"📄 Variables cargadas desde ", path}); }

std::string dotenv_variable_ignored_line(std::string_view name, std::string_view path) {
  return cat({"⚠️ ", name, " de ", path, " ignorada: solo se toma del entorno o del .env del directorio de trabajo"});
}

std::string validation_errors_heading(std::size_t count) {
  return cat({"\n⚠️  Configuración: ", std::to_string(count), " problema(s) detectado(s):"});
}

std::string validation_error_line(std::string_view text) { return cat({"   • ", text}); }

std::string validation_more_problems_line(std::size_t hidden) {
  return cat({"   ... y ", std::to_string(hidden), " más. Ejecuta 'tarvo-validate' para ver todos."});
}

std::string validation_warning_line(std::string_view text) { return cat({"   ℹ️  ", text}); }

std::string validation_skipped(std::string_view error) { return cat({"Config validation skipped: ", error}); }

std::string chrome_failed(std::string_view error) { return cat({"⚠️ No se pudo iniciar Chrome instalado: ", error}); }

std::string flag_file_failed(std::string_view path, std::string_view reason) {
  return cat({"⚠️ Error cargando archivo de configuración ", path, ": ", reason});
}

std::string remote_browser_line(std::string_view variable, std::string_view endpoint) {
  return cat({"🌐 Usando navegador remoto (", variable, "): ", endpoint});
}

std::string ignored_options_line(const std::vector<std::string>& ignored) {
  std::string out = "ℹ️ Navegador remoto: se ignoran las opciones de lanzamiento local: ";
  for (std::size_t i = 0; i < ignored.size(); ++i) {
    if (i) out += ", ";
    out += ignored[i];
  }
  return out;
}

std::string connect_failed_message(std::string_view variable, std::string_view endpoint, long long timeout_ms,
                                   std::string_view error_first_line) {
  return cat({"No se pudo conectar al navegador remoto ", variable, "=", endpoint, " en ", std::to_string(timeout_ms),
              " ms: ", error_first_line});
}

std::string stealth_failed(std::string_view error) { return cat({"⚠️ Error activando modo stealth: ", error}); }

std::string videos_removed_message(std::size_t count) {
  return cat({"🧹 Videos antiguos eliminados: ", std::to_string(count), " archivos"});
}

std::string video_remove_failed_message(std::string_view path, std::string_view reason) {
  return cat({"⚠️ No se pudo eliminar video antiguo ", path, ": ", reason});
}

std::string video_cleanup_error_message(std::string_view reason) {
  return cat({"⚠️ Error limpiando videos antiguos: ", reason});
}

}  // namespace tarvo::config
