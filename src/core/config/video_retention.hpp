// Retention of old video recordings: which files of the video directory are
// old enough to delete, and one deletion pass that reports what it did.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/config/messages.hpp"
#include "services/console.hpp"

namespace tarvo::config {

struct VideoFile {
  std::string name;  // file name
  std::string path;  // full path
  double mtime = 0;  // modification time, seconds since the epoch
};

inline constexpr const char* kKeptVideoName = "base.mp4";

// The files to delete, in the given order: every file except "base.mp4" whose
// age (now - mtime) is strictly greater than max_age_hours.
std::vector<std::string> videos_to_delete(const std::vector<VideoFile>& files, double now, long long max_age_hours);

// Lists the directory's "*.webm" files, then its "*.mp4" files (not recursive;
// names beginning with "." are not matched, as with shell patterns), each group
// in name order. Throws std::runtime_error with an OS-style reason on failure.
std::vector<VideoFile> list_video_files(const std::string& dir);

// One retention pass over dir. Never throws: a failed removal is reported per
// file and the pass goes on; any other failure ends the pass with the general
// message. remove() returns an error text, or nullopt on success.
void cleanup_old_videos(const std::string& dir, long long max_age_hours, double now, Console& console,
                        const std::function<std::optional<std::string>(const std::string&)>& remove);

// remove() for cleanup_old_videos over the real file system.
std::optional<std::string> remove_file(const std::string& path);

// Seconds since the epoch, now.
double now_seconds();

}  // namespace tarvo::config
