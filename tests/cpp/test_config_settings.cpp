#include <gtest/gtest.h>

#include "core/config/settings.hpp"

using namespace tarvo;
using namespace tarvo::config;

namespace {
SettingMap load(std::map<std::string, std::string> vars) { return load_config(MapEnvironment(std::move(vars))); }

template <typename T>
T value(const SettingMap& s, const std::string& key) {
  const SettingValue* v = s.find(key);
  EXPECT_NE(v, nullptr) << key;
  return std::get<T>(*v);
}

std::string error_text(std::map<std::string, std::string> vars) {
  try {
    load(std::move(vars));
  } catch (const ConfigError& e) {
    return e.what();
  }
  return "";
}
}  // namespace

TEST(ConfigSettings, DefaultsInTableOrder) {
  SettingMap s = load({});
  ASSERT_EQ(s.size(), 60u);
  const auto& rows = settings_table();
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(s.entries()[i].first, rows[i].key);
  EXPECT_EQ(s.entries().front().first, "browser");
  EXPECT_EQ(s.entries().back().first, "api_base_url");

  EXPECT_EQ(value<std::string>(s, "browser"), "chromium");
  EXPECT_FALSE(value<bool>(s, "headless"));
  EXPECT_EQ(value<long long>(s, "timeout"), 30000);
  EXPECT_EQ(value<long long>(s, "viewport_width"), 1920);
  EXPECT_EQ(value<long long>(s, "viewport_height"), 1080);
  EXPECT_EQ(value<double>(s, "device_scale_factor"), 1.0);
  EXPECT_TRUE(value<StringList>(s, "browser_args").empty());
  EXPECT_TRUE(value<StringList>(s, "webkit_disable_features").empty());
  EXPECT_TRUE(value<bool>(s, "chrome_disable_extensions"));
  EXPECT_EQ(value<std::string>(s, "video_size"), "1280x720");
  EXPECT_EQ(value<long long>(s, "video_max_age_hours"), 168);
  EXPECT_EQ(value<double>(s, "geolocation_accuracy"), 100.0);
  EXPECT_EQ(value<std::string>(s, "user_agent"), "");
  EXPECT_EQ(value<std::string>(s, "log_level"), "INFO");
}

TEST(ConfigSettings, KindsAndSpecialRows) {
  SettingMap s = load({{"BROWSER", "Firefox"},
                       {"HEADLESS", "TRUE"},
                       {"RECORD_VIDEO", "True"},
                       {"STEALTH_MODE", "1"},
                       {"GEOLOCATION_ENABLED", "yes"},
                       {"VIEWPORT_WIDTH", ""},
                       {"VIEWPORT_HEIGHT", " 720 "},
                       {"SLOW_MO", "-5"},
                       {"DEVICE_SCALE_FACTOR", "2.5e0"},
                       {"BROWSER_ARGS", "--a, --b,,--c"},
                       {"BASE_URL", "  http://x  "},
                       {"DOWNLOADS_DIR", ""}});
  EXPECT_EQ(value<std::string>(s, "browser"), "firefox");
  EXPECT_TRUE(value<bool>(s, "headless"));
  EXPECT_TRUE(value<bool>(s, "record_video"));
  EXPECT_FALSE(value<bool>(s, "stealth_mode"));
  EXPECT_FALSE(value<bool>(s, "geolocation_enabled"));
  EXPECT_EQ(value<long long>(s, "viewport_width"), 1920);
  EXPECT_EQ(value<long long>(s, "viewport_height"), 720);
  EXPECT_EQ(value<long long>(s, "slow_mo"), -5);
  EXPECT_EQ(value<double>(s, "device_scale_factor"), 2.5);
  EXPECT_EQ(value<StringList>(s, "browser_args"), (StringList{"--a", " --b", "", "--c"}));
  EXPECT_EQ(value<std::string>(s, "base_url"), "  http://x  ");
  EXPECT_EQ(value<std::string>(s, "downloads_dir"), "");
}

TEST(ConfigSettings, UserAgentPrefersBrowserUserAgent) {
  EXPECT_EQ(value<std::string>(load({{"USER_AGENT", "ua"}}), "user_agent"), "ua");
  EXPECT_EQ(value<std::string>(load({{"BROWSER_USER_AGENT", ""}, {"USER_AGENT", "ua"}}), "user_agent"), "ua");
  EXPECT_EQ(value<std::string>(load({{"BROWSER_USER_AGENT", "bua"}, {"USER_AGENT", "ua"}}), "user_agent"), "bua");
}

TEST(ConfigSettings, BadNumbersNameVariableAndText) {
  EXPECT_EQ(error_text({{"TIMEOUT", "30s"}}), "TIMEOUT: '30s' is not a valid integer");
  EXPECT_EQ(error_text({{"TIMEOUT", ""}}), "TIMEOUT: '' is not a valid integer");
  EXPECT_EQ(error_text({{"VIEWPORT_WIDTH", "wide"}}), "VIEWPORT_WIDTH: 'wide' is not a valid integer");
  EXPECT_EQ(error_text({{"DEVICE_SCALE_FACTOR", "big"}}), "DEVICE_SCALE_FACTOR: 'big' is not a valid real number");
  EXPECT_EQ(error_text({{"SLOW_MO", "1.5"}}), "SLOW_MO: '1.5' is not a valid integer");
  EXPECT_THROW(load({{"GEOLOCATION_LATITUDE", "0x10"}}), std::invalid_argument);
}

TEST(ConfigSettings, TypedReadsOfEditedMap) {
  SettingMap s;
  s.set("timeout", std::string("5000"));
  s.set("headless", std::string("True"));
  s.set("device_scale_factor", 2LL);
  s.set("browser_args", std::string("--x,--y"));
  s.set("slow_mo", 2.0);
  EXPECT_EQ(get_int(s, "timeout"), 5000);
  EXPECT_TRUE(get_flag(s, "headless"));
  EXPECT_EQ(get_real(s, "device_scale_factor"), 2.0);
  EXPECT_EQ(get_list(s, "browser_args"), (StringList{"--x", "--y"}));
  EXPECT_EQ(get_int(s, "slow_mo"), 2);
  // Missing keys fall back to the table defaults.
  EXPECT_EQ(get_int(s, "navigation_timeout"), 30000);
  EXPECT_EQ(get_string(s, "video_dir"), "videos");
  EXPECT_TRUE(get_flag(s, "cleanup_old_videos"));

  s.set("timeout", std::string("soon"));
  s.set("viewport_width", 10.5);
  s.set("video_dir", StringList{"a"});
  EXPECT_THROW(get_int(s, "timeout"), ConfigError);
  EXPECT_THROW(get_int(s, "viewport_width"), ConfigError);
  EXPECT_THROW(get_string(s, "video_dir"), ConfigError);
}
