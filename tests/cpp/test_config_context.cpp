#include <gtest/gtest.h>

#include "core/config/context_options.hpp"
#include "core/config/settings.hpp"

using namespace tarvo;
using namespace tarvo::config;

namespace {
SettingMap settings(std::map<std::string, std::string> vars) { return load_config(MapEnvironment(std::move(vars))); }
}  // namespace

TEST(ConfigContext, Defaults) {
  ContextOptions o = build_context_options(settings({}));
  ASSERT_TRUE(o.viewport);
  EXPECT_EQ(o.viewport->width, 1920);
  EXPECT_EQ(o.viewport->height, 1080);
  EXPECT_EQ(o.device_scale_factor, 1.0);
  EXPECT_FALSE(o.ignore_https_errors);
  EXPECT_FALSE(o.no_viewport);
  EXPECT_FALSE(o.record_video_dir || o.record_video_size || o.user_agent || o.geolocation || o.permissions);
}

TEST(ConfigContext, MaximisedWindowDropsViewport) {
  for (const char* args : {"--start-maximized", "--a,--start-fullscreen", "--start-maximized-extra"}) {
    ContextOptions o = build_context_options(settings({{"BROWSER_ARGS", args}}));
    EXPECT_FALSE(o.viewport) << args;
    EXPECT_FALSE(o.device_scale_factor) << args;
    EXPECT_TRUE(o.no_viewport) << args;
  }
  // Only a flag split over the joined list's comma would be missed; a plain other flag keeps the viewport.
  EXPECT_TRUE(build_context_options(settings({{"BROWSER_ARGS", "--kiosk"}})).viewport);
}

TEST(ConfigContext, VideoUserAgentGeolocation) {
  ContextOptions o = build_context_options(settings({{"RECORD_VIDEO", "true"}, {"VIDEO_SIZE", "800x600"},
                                                     {"USER_AGENT", "bot"}, {"GEOLOCATION_ENABLED", "true"},
                                                     {"GEOLOCATION_LATITUDE", "40.4"}, {"IGNORE_HTTPS_ERRORS", "true"}}));
  EXPECT_EQ(o.record_video_dir, "videos");
  ASSERT_TRUE(o.record_video_size);
  EXPECT_EQ(o.record_video_size->width, 800);
  EXPECT_EQ(o.record_video_size->height, 600);
  EXPECT_EQ(o.user_agent, "bot");
  ASSERT_TRUE(o.geolocation);
  EXPECT_DOUBLE_EQ(o.geolocation->latitude, 40.4);
  EXPECT_DOUBLE_EQ(o.geolocation->accuracy, 100.0);
  EXPECT_EQ(o.permissions, StringList{"geolocation"});
  EXPECT_TRUE(o.ignore_https_errors);
}

TEST(ConfigContext, BadVideoSizeIsAClearError) {
  for (const char* size : {"1280", "1x2x3", "axb", "1280X720", ""}) {
    try {
      build_context_options(settings({{"RECORD_VIDEO", "true"}, {"VIDEO_SIZE", size}}));
      ADD_FAILURE() << size;
    } catch (const ConfigError& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("video_size: '") + size + "'"), std::string::npos) << e.what();
    }
  }
  // Without recording the size is not looked at.
  EXPECT_NO_THROW(build_context_options(settings({{"VIDEO_SIZE", "junk"}})));
  EXPECT_EQ(parse_video_size(" 640 x 480").width, 640);
}

TEST(ConfigContext, PermissionUnion) {
  EXPECT_EQ(permission_union({"geolocation"}, {"camera", "geolocation", "camera"}),
            (StringList{"geolocation", "camera"}));
  EXPECT_EQ(permission_union({}, {"b", "a"}), (StringList{"b", "a"}));
}
