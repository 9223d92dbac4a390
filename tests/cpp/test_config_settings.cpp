#include <gtest/gtest.h>

#include <set>

#include "core/config/settings.hpp"

using namespace tarvo;
using namespace tarvo::config;

namespace {
using Vars = std::map<std::string, std::string>;
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
  ASSERT_EQ(s.size(), 60u);  // the fixed keys of the settings dictionary
  const auto& rows = settings_table();
  for (std::size_t i = 0; i < s.size(); ++i) {
    EXPECT_TRUE(rows[i].in_config);
    EXPECT_EQ(s.entries()[i].first, rows[i].name);
  }
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
                       {"SLOW_MO", " 5 "},
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
  EXPECT_EQ(value<long long>(s, "slow_mo"), 5);
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

TEST(SettingsTable, EveryRowIsWellFormed) {
  std::set<std::string> variables, names;
  std::size_t in_config = 0;
  bool config_rows_first = true;
  for (const auto& row : settings_table()) {
    EXPECT_TRUE(variables.insert(row.variable).second) << "twice: " << row.variable;
    if (row.in_config) {
      EXPECT_TRUE(names.insert(row.name).second) << "twice: " << row.name;
      ++in_config;
      EXPECT_TRUE(config_rows_first) << row.name << " comes after a row outside the dictionary";
    } else {
      config_rows_first = false;
    }
    EXPECT_STRNE(row.reader, "") << row.variable;
    EXPECT_STRNE(row.when, "") << row.variable;
    EXPECT_STRNE(row.description, "") << row.variable;
    if (is_number_kind(row.kind)) {
      EXPECT_LT(row.low, row.high) << "every number setting has a range: " << row.variable;
      // The default itself must convert and lie in range.
      EXPECT_NO_THROW(convert_setting(row, std::nullopt)) << row.variable;
    }
    std::string needs = row.needs;
    if (!needs.empty()) {
      auto eq = needs.find('=');
      ASSERT_NE(eq, std::string::npos) << row.variable;
      EXPECT_NE(find_setting(needs.substr(0, eq)), nullptr) << row.variable << " needs an unknown setting";
    }
  }
  EXPECT_EQ(in_config, 60u);
}

TEST(SettingsTable, OutOfRangeNumbersNameTheVariable) {
  // 2^63 - 1 passes as a 64-bit number but is no sensible count of retries.
  EXPECT_EQ(error_text({{"TIMEOUT", "-1"}}), "TIMEOUT: '-1' is out of range (0 to 2147483647)");
  EXPECT_EQ(error_text({{"GEOLOCATION_LATITUDE", "91"}}), "GEOLOCATION_LATITUDE: '91' is out of range (-90 to 90)");
  EXPECT_EQ(error_text({{"DEVICE_SCALE_FACTOR", "nan"}}), "DEVICE_SCALE_FACTOR: 'nan' is not a valid real number");
  EXPECT_EQ(error_text({{"DEVICE_SCALE_FACTOR", "inf"}}), "DEVICE_SCALE_FACTOR: 'inf' is out of range (0.1 to 10)");
  EXPECT_EQ(error_text({{"VIDEO_MAX_AGE_HOURS", "99999999999999999999"}}),
            "VIDEO_MAX_AGE_HOURS: '99999999999999999999' is out of range (0 to 1000000)");
  MapEnvironment env(Vars{{"SELF_HEALING_MAX_RETRIES", "9223372036854775807"}});
  try {
    read_int(env, "SELF_HEALING_MAX_RETRIES");
    FAIL() << "no error";
  } catch (const ConfigError& e) {
    EXPECT_STREQ(e.what(), "SELF_HEALING_MAX_RETRIES: '9223372036854775807' is out of range (0 to 100)");
  }
  EXPECT_EQ(read_int(MapEnvironment(Vars{{"SELF_HEALING_MAX_RETRIES", "100"}}), "SELF_HEALING_MAX_RETRIES"), 100);
}

TEST(SettingsTable, EditedDictionaryIsCheckedAgainstTheRange) {
  SettingMap s;
  s.set("timeout", 1e19);  // would turn negative as a 64-bit integer
  try {
    get_int(s, "timeout");
    FAIL() << "no error";
  } catch (const ConfigError& e) {
    EXPECT_STREQ(e.what(), "config['timeout']: 1e+19 is out of range (0 to 2147483647)");
  }
  s.set("timeout", -5LL);
  EXPECT_THROW(get_int(s, "timeout"), ConfigError);
  s.set("timeout", 2147483647.0);
  EXPECT_EQ(get_int(s, "timeout"), 2147483647);
  s.set("geolocation_latitude", std::string("-91"));
  EXPECT_THROW(get_real(s, "geolocation_latitude"), ConfigError);
  // Keys a project adds have no row and no range.
  s.set("my_count", 1e30);
  EXPECT_THROW(get_int(s, "my_count"), ConfigError);
}

TEST(SettingsTable, SingleReadsFollowTheRowRules) {
  MapEnvironment env(Vars{{"LOCATOR_TIMEOUT", "  "}, {"AI_PROVIDER", " OpenAI "}, {"XRAY_RESULTS_FILE", ""},
                      {"XRAY_SUMMARY", ""}});
  EXPECT_EQ(read_real(env, "LOCATOR_TIMEOUT"), 5000.0);  // blank counts as unset
  EXPECT_EQ(read_text(env, "AI_PROVIDER"), "openai");    // trimmed, lower-cased
  EXPECT_EQ(read_text(env, "XRAY_RESULTS_FILE"), "reports/xray-results.json");
  EXPECT_EQ(read_text(env, "XRAY_SUMMARY"), "");  // an empty text is kept
  EXPECT_TRUE(read_flag(env, "GENERATE_AI_REPORT"));
  EXPECT_THROW(read_setting(env, "NOT_A_SETTING"), std::logic_error);
}
