#include "core/config/context_options.hpp"

#include <algorithm>

#include "core/common/text.hpp"
#include "core/config/settings.hpp"

namespace tarvo::config {

bool wants_window_sized_page(const StringList& browser_args) {
  const std::string joined = join(browser_args, ",");
  return contains(joined, "--start-maximized") || contains(joined, "--start-fullscreen");
}

Size parse_video_size(const std::string& text) {
  auto parts = split(text, "x");
  auto fail = [&]() -> ConfigError {
    return ConfigError("video_size: '" + escape_invalid_utf8(text) + "' is not a valid video size (expected <width>x<height>, e.g. 1280x720)");
  };
  if (parts.size() != 2) throw fail();
  auto w = parse_int(parts[0]);
  auto h = parse_int(parts[1]);
  if (!w || !h) throw fail();
  return {*w, *h};
}

ContextOptions build_context_options(const SettingMap& s) {
  ContextOptions o;
  o.viewport = Size{get_int(s, "viewport_width"), get_int(s, "viewport_height")};
  o.device_scale_factor = get_real(s, "device_scale_factor");
  o.ignore_https_errors = get_flag(s, "ignore_https_errors");
  if (wants_window_sized_page(get_list(s, "browser_args"))) {
    o.viewport.reset();
    o.device_scale_factor.reset();
    o.no_viewport = true;
  }
  if (get_flag(s, "record_video")) {
    o.record_video_size = parse_video_size(get_string(s, "video_size"));
    o.record_video_dir = get_string(s, "video_dir");
  }
  std::string ua = get_string(s, "user_agent");
  if (!ua.empty()) o.user_agent = ua;
  if (get_flag(s, "geolocation_enabled", false)) {
    o.geolocation = Geolocation{get_real(s, "geolocation_latitude", 0.0), get_real(s, "geolocation_longitude", 0.0),
                                get_real(s, "geolocation_accuracy", 100.0)};
    o.permissions = StringList{"geolocation"};
  }
  return o;
}

StringList permission_union(const StringList& framework, const StringList& caller) {
  StringList out;
  for (const auto* list : {&framework, &caller})
    for (const auto& name : *list)
      if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
  return out;
}

}  // namespace tarvo::config
