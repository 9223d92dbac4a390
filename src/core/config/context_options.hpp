// Options of a new browser context, decided from the settings. The bindings turn
// this into the named options of the browser's new_context() and merge the
// caller's own options over it.
#pragma once
#include <optional>
#include <string>

#include "core/common/settings_value.hpp"

namespace tarvo::config {

struct Size {
  long long width = 0;
  long long height = 0;
};

struct Geolocation {
  double latitude = 0;
  double longitude = 0;
  double accuracy = 100;
};

// Each member is present only under its condition; the key order of the options
// map is the member order below.
struct ContextOptions {
  std::optional<Size> viewport;
  std::optional<double> device_scale_factor;
  bool ignore_https_errors = false;
  bool no_viewport = false;
  std::optional<std::string> record_video_dir;
  std::optional<Size> record_video_size;
  std::optional<std::string> user_agent;
  std::optional<Geolocation> geolocation;
  std::optional<StringList> permissions;
};

// True when the joined BROWSER_ARGS list asks for a maximised or full-screen
// window, in which case the page follows the window size (no fixed viewport).
bool wants_window_sized_page(const StringList& browser_args);

// Parses "<width>x<height>" into two integers. Throws ConfigError (a ValueError
// in Python) naming the text when it is not exactly two integers around "x".
Size parse_video_size(const std::string& text);

// The framework's context options. Throws ConfigError for a bad video size
// before anything else happens, so no directory is made for a context that
// cannot be created.
ContextOptions build_context_options(const SettingMap& settings);

// Framework permissions followed by the caller's names not already present,
// each name once.
StringList permission_union(const StringList& framework, const StringList& caller);

}  // namespace tarvo::config
