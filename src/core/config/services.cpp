#include "core/config/services.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <stdexcept>

#include "core/common/text.hpp"
#include "core/config/settings.hpp"

namespace tarvo::config {
namespace {

std::string join_path(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

}  // namespace

std::string os_error(int err, const std::string& path) {
  return "[Errno " + std::to_string(err) + "] " + std::strerror(err) + ": '" + path + "'";
}

std::vector<std::string> dotenv_candidates(const std::string& cwd) {
  std::vector<std::string> out;
  std::string dir = cwd;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  while (true) {
    out.push_back(join_path(dir.empty() ? "/" : dir, ".env"));
    if (dir.empty() || dir == "/") break;
    auto slash = dir.rfind('/');
    if (slash == std::string::npos) break;  // relative path without a parent part
    dir = slash == 0 ? "/" : dir.substr(0, slash);
  }
  return out;
}

std::optional<std::string> find_dotenv(const std::string& cwd, const std::function<bool(const std::string&)>& exists) {
  for (const auto& candidate : dotenv_candidates(cwd))
    if (exists(candidate)) return candidate;
  return std::nullopt;
}

bool dotenv_is_own(const std::string& cwd, const std::string& path) {
  auto candidates = dotenv_candidates(cwd);
  return !candidates.empty() && candidates.front() == path;
}

const std::vector<std::string>& dotenv_own_only_variables() {
  static const std::vector<std::string> names{"TARVO_CHROMIUM_EXECUTABLE"};
  return names;
}

std::string dotenv_loaded_line(const std::string& path) { return "📄 Variables cargadas desde " + path; }

std::string dotenv_variable_ignored_line(const std::string& name, const std::string& path) {
  return "⚠️ " + name + " de " + path +
         " ignorada: solo se toma del entorno o del .env del directorio de trabajo";
}

bool show_validation_errors(const std::string& log_level_env) {
  std::string level = to_upper(log_level_env);
  return level == "DEBUG" || level == "INFO" || level == "WARNING";
}

bool show_validation_warnings(const std::string& log_level_env) { return to_upper(log_level_env) == "DEBUG"; }

std::string validation_errors_heading(std::size_t count) {
  return "\n⚠️  Configuración: " + std::to_string(count) + " problema(s) detectado(s):";
}

std::string validation_error_line(const std::string& text) { return "   • " + text; }

std::optional<std::string> validation_more_line(std::size_t count) {
  if (count <= kMaxErrorsShown) return std::nullopt;
  return "   ... y " + std::to_string(count - kMaxErrorsShown) + " más. Ejecuta 'tarvo-validate' para ver todos.";
}

std::string validation_warning_line(const std::string& text) { return "   ℹ️  " + text; }

std::vector<std::string> validation_report(const std::vector<std::string>& errors,
                                           const std::vector<std::string>& warnings,
                                           const std::optional<std::string>& log_level_env) {
  std::vector<std::string> lines;
  if (!errors.empty() && show_validation_errors(log_level_env.value_or("INFO"))) {
    lines.push_back(validation_errors_heading(errors.size()));
    for (std::size_t i = 0; i < errors.size() && i < kMaxErrorsShown; ++i)
      lines.push_back(validation_error_line(errors[i]));
    if (auto more = validation_more_line(errors.size())) lines.push_back(*more);
    lines.push_back("");
  }
  if (!warnings.empty() && show_validation_warnings(log_level_env.value_or("")))
    for (std::size_t i = 0; i < warnings.size() && i < kMaxWarningsShown; ++i)
      lines.push_back(validation_warning_line(warnings[i]));
  return lines;
}

int log_level_value(const std::string& name) {
  const std::string n = to_upper(name);
  if (n == "CRITICAL" || n == "FATAL") return 50;
  if (n == "ERROR") return 40;
  if (n == "WARNING" || n == "WARN") return 30;
  if (n == "INFO") return 20;
  if (n == "DEBUG") return 10;
  if (n == "NOTSET") return 0;
  return 30;
}

std::vector<std::pair<std::string, std::string>> test_data(const SettingMap& s) {
  return {
      {"email", get_string(s, "test_email", "")},
      {"password", get_string(s, "test_password", "")},
      {"user_name", get_string(s, "test_user_name", "")},
      {"api_base_url", get_string(s, "api_base_url", "")},
      {"base_url", get_string(s, "base_url", "")},
  };
}

std::vector<std::string> videos_to_delete(const std::vector<VideoFile>& files, double now, long long max_age_hours) {
  const double max_age = static_cast<double>(max_age_hours) * 3600.0;
  std::vector<std::string> out;
  for (const auto& f : files) {
    if (f.name == kKeptVideoName) continue;
    if (now - f.mtime > max_age) out.push_back(f.path);
  }
  return out;
}

std::vector<VideoFile> list_video_files(const std::string& dir) {
  std::vector<VideoFile> out;
  for (const char* ext : {".webm", ".mp4"}) {
    DIR* d = opendir(dir.c_str());
    if (!d) throw std::runtime_error(os_error(errno, dir));
    std::vector<std::string> names;
    errno = 0;
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.empty() || name[0] == '.') continue;
      if (ends_with(name, ext)) names.push_back(name);
    }
    int read_err = errno;
    closedir(d);
    if (read_err) throw std::runtime_error(os_error(read_err, dir));
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
      std::string path = join_path(dir, name);
      struct stat st {};
      if (::stat(path.c_str(), &st) != 0) throw std::runtime_error(os_error(errno, path));
      double mtime = static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
      out.push_back({name, path, mtime});
    }
  }
  return out;
}

std::optional<std::string> remove_file(const std::string& path) {
  if (::unlink(path.c_str()) == 0) return std::nullopt;
  return os_error(errno, path);
}

double now_seconds() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::string videos_removed_message(std::size_t count) {
  return "🧹 Videos antiguos eliminados: " + std::to_string(count) + " archivos";
}

std::string video_remove_failed_message(const std::string& path, const std::string& reason) {
  return "⚠️ No se pudo eliminar video antiguo " + path + ": " + reason;
}

std::string video_cleanup_error_message(const std::string& reason) {
  return "⚠️ Error limpiando videos antiguos: " + reason;
}

void cleanup_old_videos(const std::string& dir, long long max_age_hours, double now, Console& console,
                        const std::function<std::optional<std::string>(const std::string&)>& remove) {
  std::size_t deleted = 0;
  std::string failure;
  try {
    // A name with a NUL names no directory (the C library would stop at the NUL
    // and clean another one).
    if (dir.find('\0') != std::string::npos) return;
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return;  // no directory: nothing to clean
      throw std::runtime_error(os_error(errno, dir));
    }
    if (!S_ISDIR(st.st_mode)) return;  // a plain file holds no recordings
    for (const auto& path : videos_to_delete(list_video_files(dir), now, max_age_hours)) {
      if (auto err = remove(path))
        console.print(video_remove_failed_message(path, *err));
      else
        ++deleted;
    }
  } catch (const std::exception& e) {
    failure = e.what();
  }
  if (!failure.empty()) {
    console.print(video_cleanup_error_message(failure));
    return;
  }
  if (deleted > 0) console.print(videos_removed_message(deleted));
}

}  // namespace tarvo::config
