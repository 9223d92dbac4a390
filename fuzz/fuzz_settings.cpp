// The settings conversions on arbitrary environment values: building the
// settings dictionary, the self-healing and retry settings, and everything
// derived from the dictionary (launch arguments, context options, test data).
// A value that cannot be converted must end in std::invalid_argument (a
// ValueError in Python); nothing else may escape. The settings dictionary's
// ConfigError quotes the value byte for byte (the bindings hand undecodable
// bytes back to Python as the surrogates they came from); every other message
// must be valid UTF-8.
// The input is a list of values separated by NUL bytes; the first byte of each
// picks the variable it is assigned to.
#include "core/config/context_options.hpp"
#include "core/config/launch.hpp"
#include "core/config/framework_setup.hpp"
#include "core/config/settings.hpp"
#include "core/config/settings_table.hpp"
#include "core/healing/healing_settings.hpp"
#include "core/healing/healing_text.hpp"
#include "core/lifecycle/retry_settings.hpp"
#include "fuzz_common.hpp"

using namespace tarvo;

namespace {

std::vector<std::string> variable_names() {
  std::vector<std::string> names;
  for (const auto& row : config::settings_table()) names.push_back(row.variable);
  for (const char* extra : {"USER_AGENT", "SELF_HEALING_ENABLED", "SELF_HEALING_MODEL", "SELF_HEALING_MAX_RETRIES",
                            "SELF_HEALING_MAX_HTML_LENGTH", "SELF_HEALING_CONFIDENCE_THRESHOLD",
                            "MAX_SCENARIO_RETRIES", "RETRY_FAILED_SCENARIOS"})
    names.push_back(extra);
  return names;
}

template <typename F>
void expect_value_error_or_success(const char* what, F&& f) {
  try {
    f();
  } catch (const config::ConfigError&) {
  } catch (const std::invalid_argument& e) {
    fuzz::check(fuzz::is_valid_utf8(e.what()), what, e.what());
  }
}

void derived_from(SettingMap settings) {
  // The flag file is read from disk; its reader has a target of its own.
  settings.set("browser_config_file", std::string());
  RecordingConsole console;
  expect_value_error_or_success("launch options: message is valid UTF-8",
                                [&] { (void)config::build_launch_options(settings, console); });
  expect_value_error_or_success("context options: message is valid UTF-8",
                                [&] { (void)config::build_context_options(settings); });
  expect_value_error_or_success("test data: message is valid UTF-8", [&] { (void)config::test_data(settings); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<std::string> names = variable_names();
  MapEnvironment env;
  for (const std::string& part : fuzz::parts_of(data, size)) {
    if (part.empty()) continue;
    const std::string value = part.substr(1);
    env.set(names[static_cast<unsigned char>(part[0]) % names.size()], value);
    if (auto n = parse_int(value)) {
      auto again = parse_int(std::to_string(*n));
      fuzz::check(again && *again == *n, "integer conversion round-trips", value);
    }
    (void)parse_double(value);
    expect_value_error_or_success("video size: message is valid UTF-8", [&] { (void)config::parse_video_size(value); });
    // Every row's own conversion: a number that converts lies inside its range.
    const auto& table = config::settings_table();
    const config::SettingRow& row = table[static_cast<unsigned char>(part[0]) % table.size()];
    try {
      SettingValue converted = config::convert_setting(row, value);
      if (row.kind == config::SettingKind::Integer) {
        const long long n = std::get<long long>(converted);
        fuzz::check(static_cast<double>(n) >= row.low && static_cast<double>(n) <= row.high,
                    "converted integer lies inside its range", value);
      } else if (row.kind == config::SettingKind::Real) {
        const double d = std::get<double>(converted);
        fuzz::check(d >= row.low && d <= row.high, "converted real lies inside its range", value);
      }
    } catch (const config::ConfigError&) {
    }
  }
  expect_value_error_or_success("settings: message is valid UTF-8", [&] { derived_from(config::load_config(env)); });
  expect_value_error_or_success("healing settings: message is valid UTF-8",
                                [&] { (void)healing::HealingSettings::from_environment(env); });
  expect_value_error_or_success("retry settings: message is valid UTF-8",
                                [&] { (void)lifecycle::read_retry_settings(env); });
  return 0;
}
