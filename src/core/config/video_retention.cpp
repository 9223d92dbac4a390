#include "core/config/video_retention.hpp"

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
#include "core/config/framework_setup.hpp"

namespace tarvo::config {

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
