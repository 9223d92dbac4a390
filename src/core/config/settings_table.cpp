#include "core/config/settings_table.hpp"

#include <deque>

namespace tarvo::config {
namespace {

using K = SettingKind;

// Readers and moments, written once so the table reads as a list.
constexpr const char* kConfig = "FrameworkConfig";
constexpr const char* kRunStart = "run start, into FrameworkConfig.config";
constexpr const char* kLaunch = "browser launch (FrameworkConfig.setup_playwright)";
constexpr const char* kPages = "contexts and pages (FrameworkConfig.create_context/create_page)";
constexpr const char* kServices = "logging and test data (FrameworkConfig)";
constexpr const char* kParallel = "tarvo-run, when it plans the run (the worker processes read it too)";
constexpr const char* kCarried = "nobody in the framework: carried in the dictionary for the project";
constexpr const char* kHealing = "Locmender (self-healing manager)";
constexpr const char* kHealingWhen = "when the Locmender is created (once per run)";
constexpr const char* kLocator = "element locator (fingerprint healing)";
constexpr const char* kLocatorWhen = "when the element locator is created (once per run)";
constexpr const char* kProvider = "AI provider factory (tarvolab_framework.core.ai_provider)";
constexpr const char* kProviderWhen = "when the provider is created, at the first healing";
constexpr const char* kIntegrations = "run start (setup_framework_context)";
constexpr const char* kXray = "Jira/Xray integration (integrations.behave_hooks)";
constexpr const char* kMeridio = "Meridio integration (integrations.meridio_hooks)";
constexpr const char* kTarvoTm = "Tarvo Test Manager integration (integrations.tarvo_test_manager)";
constexpr const char* kIntegrationWhen = "when the integration object is created, at run start";
constexpr const char* kStartup = "runwright start-up";
constexpr const char* kStartupWhen = "when tarvolab_framework.core.runwright is imported (before any .env)";

constexpr double kMaxMs = 2147483647;  // the longest time-out a browser timer takes (about 24.8 days)

constexpr const char* kChromium = "BROWSER=chromium|chrome";
constexpr const char* kVideo = "RECORD_VIDEO=true";
constexpr const char* kGeo = "GEOLOCATION_ENABLED=true";
constexpr const char* kHeal = "SELF_HEALING_ENABLED=true";
constexpr const char* kGemini = "AI_PROVIDER=gemini";
constexpr const char* kOpenAi = "AI_PROVIDER=openai";
constexpr const char* kAzure = "AI_PROVIDER=openai|azure|azure_openai";
constexpr const char* kAnthropic = "AI_PROVIDER=anthropic";
constexpr const char* kOllama = "AI_PROVIDER=ollama";
constexpr const char* kJira = "JIRA_ENABLED=true";
constexpr const char* kMeridioOn = "MERIDIO_ENABLED=true";
constexpr const char* kTarvoTmOn = "TARVO_TM_ENABLED=true";

// A row of the settings dictionary.
SettingRow cfg(const char* name, const char* variable, const char* default_text, K kind, const char* reader,
               const char* description) {
  SettingRow r{name, variable, default_text, kind};
  r.in_config = true;
  r.reader = reader;
  r.when = kRunStart;
  r.description = description;
  return r;
}

SettingRow range(SettingRow r, double low, double high) {
  r.low = low;
  r.high = high;
  return r;
}
SettingRow needs(SettingRow r, const char* condition) {
  r.needs = condition;
  return r;
}
SettingRow choices(SettingRow r, const char* values) {
  r.choices = values;
  return r;
}
// Surrounding blanks removed, and an empty text counts as unset.
SettingRow trimmed(SettingRow r) {
  r.trimmed = true;
  r.blank_is_default = true;
  return r;
}
SettingRow blank_default(SettingRow r) {
  r.blank_is_default = true;
  return r;
}

// A setting outside the settings dictionary.
SettingRow other(const char* variable, const char* default_text, K kind, const char* reader, const char* when,
                 const char* description) {
  static std::deque<std::string> names;  // lower-case names; a deque never moves its items
  std::string lower(variable);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  names.push_back(lower);
  SettingRow r{names.back().c_str(), variable, default_text, kind};
  r.reader = reader;
  r.when = when;
  r.description = description;
  return r;
}

std::vector<SettingRow> build_table() {
  std::vector<SettingRow> t = {
      // ---- the settings dictionary, FrameworkConfig.config, in key order ----
      choices(cfg("browser", "BROWSER", "chromium", K::LowerText, kLaunch, "Browser engine to launch."),
              "chromium|chrome|firefox|webkit"),
      cfg("headless", "HEADLESS", "false", K::Flag, kLaunch,
          "Run the browser without a window (adds the headless flag set)."),
      range(cfg("timeout", "TIMEOUT", "30000", K::Integer, kPages,
                "Default time-out of page actions, in milliseconds."), 0, kMaxMs),
      range(cfg("navigation_timeout", "NAVIGATION_TIMEOUT", "30000", K::Integer, kPages,
                "Default time-out of page navigations, in milliseconds."), 0, kMaxMs),
      range(blank_default(cfg("viewport_width", "VIEWPORT_WIDTH", "1920", K::Integer, kPages,
                              "Page viewport width in pixels (empty counts as unset).")), 1, 100000),
      range(blank_default(cfg("viewport_height", "VIEWPORT_HEIGHT", "1080", K::Integer, kPages,
                              "Page viewport height in pixels (empty counts as unset).")), 1, 100000),
      range(cfg("device_scale_factor", "DEVICE_SCALE_FACTOR", "1", K::Real, kPages,
                "Device pixel ratio of new contexts."), 0.1, 10),
      range(cfg("slow_mo", "SLOW_MO", "0", K::Integer, kLaunch,
                "Pause after each browser operation, in milliseconds."), 0, kMaxMs),
      cfg("browser_args", "BROWSER_ARGS", "", K::List, kLaunch, "Extra browser flags, comma-separated."),
      choices(cfg("browser_config_preset", "BROWSER_CONFIG_PRESET", "", K::Text, kLaunch,
                  "Named flag preset added to the launch."),
              "performance|mobile|cicd|security_disabled"),
      cfg("browser_config_file", "BROWSER_CONFIG_FILE", "", K::Text, kLaunch,
          "JSON file whose \"args\" list adds launch flags."),
      needs(range(cfg("browser_memory_limit", "BROWSER_MEMORY_LIMIT", "4096", K::Integer, kLaunch,
                      "Script heap limit in megabytes (headless launches)."), 0, 1048576),
            "HEADLESS=true"),
      cfg("browser_proxy", "BROWSER_PROXY", "", K::Text, kLaunch, "Proxy server for the browser."),
      cfg("browser_downloads_dir", "BROWSER_DOWNLOADS_DIR", "downloads", K::Text, kCarried,
          "Downloads folder for the project's own use."),
      cfg("browser_download_behavior", "BROWSER_DOWNLOAD_BEHAVIOR", "auto", K::Text, kCarried,
          "Download behaviour for the project's own use."),
      needs(cfg("chrome_disable_security", "CHROME_DISABLE_SECURITY", "false", K::Flag, kLaunch,
                "Chromium: turn off web security and certificate checks."), kChromium),
      needs(cfg("chrome_enable_logging", "CHROME_ENABLE_LOGGING", "false", K::Flag, kLaunch,
                "Chromium: write the browser's own log."), kChromium),
      needs(cfg("chrome_log_level", "CHROME_LOG_LEVEL", "INFO", K::Text, kLaunch,
                "Chromium: level of the browser's own log."), "CHROME_ENABLE_LOGGING=true"),
      needs(cfg("chrome_disable_extensions", "CHROME_DISABLE_EXTENSIONS", "true", K::Flag, kLaunch,
                "Chromium: no extensions."), kChromium),
      needs(cfg("chrome_disable_plugins", "CHROME_DISABLE_PLUGINS", "true", K::Flag, kLaunch,
                "Chromium: no plug-ins."), kChromium),
      needs(cfg("chrome_disable_images", "CHROME_DISABLE_IMAGES", "false", K::Flag, kLaunch,
                "Chromium: do not load images."), kChromium),
      needs(cfg("chrome_disable_javascript", "CHROME_DISABLE_JAVASCRIPT", "false", K::Flag, kLaunch,
                "Chromium: no JavaScript."), kChromium),
      needs(cfg("firefox_profile_path", "FIREFOX_PROFILE_PATH", "", K::Text, kCarried,
                "Firefox profile folder for the project's own use."), "BROWSER=firefox"),
      needs(cfg("firefox_disable_addons", "FIREFOX_DISABLE_ADDONS", "true", K::Flag, kLaunch,
                "Firefox: safe mode, no add-ons."), "BROWSER=firefox"),
      needs(cfg("firefox_private_mode", "FIREFOX_PRIVATE_MODE", "false", K::Flag, kLaunch,
                "Firefox: private window."), "BROWSER=firefox"),
      needs(cfg("webkit_disable_features", "WEBKIT_DISABLE_FEATURES", "", K::List, kLaunch,
                "WebKit: features to disable, comma-separated."), "BROWSER=webkit"),
      cfg("record_video", "RECORD_VIDEO", "false", K::Flag, kPages, "Record a video of every page."),
      needs(cfg("video_dir", "VIDEO_DIR", "videos", K::Text, kPages, "Folder of the recorded videos."), kVideo),
      needs(cfg("video_size", "VIDEO_SIZE", "1280x720", K::Text, kPages,
                "Video size, WIDTHxHEIGHT in pixels (also the video manager's output size)."), kVideo),
      needs(choices(cfg("video_mode", "VIDEO_MODE", "retain-on-failure", K::Text,
                        "evidence, after each feature",
                        "Which feature videos are kept (named after the feature): on, off, or "
                        "retain-on-failure (when one of its scenarios failed)."),
                    "on|off|retain-on-failure"),
            kVideo),
      needs(cfg("cleanup_old_videos", "CLEANUP_OLD_VIDEOS", "true", K::Flag, kPages,
                "Delete old videos when a recording context is created."), kVideo),
      needs(range(cfg("video_max_age_hours", "VIDEO_MAX_AGE_HOURS", "168", K::Integer, kPages,
                      "Age in hours after which old videos are deleted."), 0, 1000000),
            "CLEANUP_OLD_VIDEOS=true"),
      cfg("base_url", "BASE_URL", "", K::Text, kServices, "Base URL of the application, in context.test_data."),
      cfg("json_poms_path", "JSON_POMS_PATH", "json_poms", K::Text, "element locator, at each page-object lookup",
          "Folder of the JSON page objects (empty counts as the default)."),
      cfg("allure_results_dir", "ALLURE_RESULTS_DIR", "allure-results", K::Text, kCarried,
          "Allure results folder: the -o folder to give behave's allure_behave formatter."),
      cfg("html_reports_dir", "HTML_REPORTS_DIR", "html-reports", K::Text, "AI report writers, when they write",
          "Folder of the HTML reports (empty counts as the default)."),
      cfg("screenshots_dir", "SCREENSHOTS_DIR", "screenshots", K::Text,
          "evidence and context helpers (take_screenshot), at each screenshot",
          "Folder of the screenshots (empty counts as the default)."),
      cfg("downloads_dir", "DOWNLOADS_DIR", "downloads", K::Text, kLaunch,
          "Downloads folder given to the browser launch."),
      choices(cfg("log_level", "LOG_LEVEL", "INFO", K::Text, kServices,
                  "Level of the framework logger; also decides what the start-up validation prints."),
              "CRITICAL|FATAL|ERROR|WARN|WARNING|INFO|DEBUG|NOTSET"),
      cfg("log_file", "LOG_FILE", "", K::Text, kCarried, "Log file for the project's own use."),
      cfg("ignore_https_errors", "IGNORE_HTTPS_ERRORS", "false", K::Flag, kPages,
          "Accept invalid certificates in new contexts."),
      cfg("user_agent", "BROWSER_USER_AGENT", "", K::UserAgent, kPages,
          "User agent of new contexts (else USER_AGENT; empty keeps the browser's)."),
      cfg("auto_screenshot_on_failure", "AUTO_SCREENSHOT_ON_FAILURE", "true", K::Flag,
          "evidence, at each scenario end and retry attempt",
          "Full-page screenshot of every open page when a scenario or retry attempt fails."),
      cfg("auto_wait_for_load", "AUTO_WAIT_FOR_LOAD", "true", K::Flag, kCarried,
          "Load-wait switch for the project's own use."),
      range(cfg("retry_failed_steps", "RETRY_FAILED_STEPS", "0", K::Integer, kCarried,
                "Step retry count for the project's own use."), 0, 100),
      cfg("retry_failed_scenarios", "RETRY_FAILED_SCENARIOS", "false", K::Flag,
          "retry pass, read again from the environment at run end",
          "Re-run failed scenarios at the end of the run."),
      needs(range(cfg("max_scenario_retries", "MAX_SCENARIO_RETRIES", "1", K::Integer,
                      "retry pass, read again from the environment at run end",
                      "Extra attempts per failed scenario in the retry pass."), 0, 100),
            "RETRY_FAILED_SCENARIOS=true"),
      cfg("stealth_mode", "STEALTH_MODE", "false", K::Flag, kPages,
          "Apply playwright-stealth to new pages (when installed)."),
      cfg("geolocation_enabled", "GEOLOCATION_ENABLED", "false", K::Flag, kPages,
          "Give new contexts a geolocation and its permission."),
      needs(range(cfg("geolocation_latitude", "GEOLOCATION_LATITUDE", "0", K::Real, kPages, "Latitude in degrees."),
                  -90, 90), kGeo),
      needs(range(cfg("geolocation_longitude", "GEOLOCATION_LONGITUDE", "0", K::Real, kPages,
                      "Longitude in degrees."), -180, 180), kGeo),
      needs(range(cfg("geolocation_accuracy", "GEOLOCATION_ACCURACY", "100", K::Real, kPages,
                      "Accuracy in metres."), 0, 40000000), kGeo),
      range(cfg("parallel_workers", "PARALLEL_WORKERS", "4", K::Integer, kParallel,
                "Worker processes of tarvo-run (-j overrides); 1 runs plain behave."), 1, 1024),
      range(cfg("max_browser_instances", "MAX_BROWSER_INSTANCES", "10", K::Integer, kParallel,
                "Most browsers open at once in a tarvo-run (one per worker)."), 1, 1024),
      range(cfg("browser_pool_size", "BROWSER_POOL_SIZE", "5", K::Integer, kCarried,
                "Pool size for the project's own use (tarvo-run keeps one browser per worker)."), 1, 1024),
      range(cfg("worker_timeout", "WORKER_TIMEOUT", "300", K::Integer, kParallel,
                "Longest time in seconds a tarvo-run worker may spend on one feature before it is killed."),
            1, 31536000),
      cfg("test_email", "TEST_EMAIL", "", K::Text, kServices, "Test user e-mail, in context.test_data."),
      cfg("test_password", "TEST_PASSWORD", "", K::Text, kServices, "Test user password, in context.test_data."),
      cfg("test_user_name", "TEST_USER_NAME", "", K::Text, kServices, "Test user name, in context.test_data."),
      cfg("api_base_url", "API_BASE_URL", "", K::Text, kServices, "Base URL of the API, in context.test_data."),

      // ---- read outside the settings dictionary ----
      other("USER_AGENT", "", K::Text, kConfig, kRunStart, "User agent when BROWSER_USER_AGENT is empty."),
      trimmed(other("BROWSER_WS_ENDPOINT", "", K::Text, kLaunch, "at each browser start",
                    "Connect to this Playwright browser server (ws://host:port/, e.g. `playwright "
                    "run-server`) instead of launching a browser.")),
      trimmed(other("BROWSER_CDP_ENDPOINT", "", K::Text, kLaunch, "at each browser start",
                    "Connect over CDP to this running Chromium (http://host:port) instead of launching one.")),
      trimmed(other("TARVO_WORKER_ID", "", K::Text, "tarvo-run's worker processes and the browser start",
                    "set by tarvo-run for each worker it starts",
                    "The worker's number (1, 2, ..., or retry) in a tarvo-run; not set by users.")),
      blank_default(other("TARVO_CHROMIUM_EXECUTABLE", "", K::Text, kLaunch, "at each Chromium launch",
                          "Chromium binary given to every Chromium launch as executable_path.")),
      // Outside the dictionary, whose keys are fixed: launch_settings() adds it for a launch.
      needs(other("HEADLESS_WEB_SECURITY", "false", K::Flag, kLaunch, "at each browser launch",
                  "Keep the same-origin policy and the sandbox in a headless launch: leaves "
                  "--disable-web-security and --no-sandbox out of the headless flag set."),
            "HEADLESS=true"),
      other("GENERATE_AI_REPORT", "true", K::Flag, "run set-up and the AI healing report plug-in",
            "at run start, and again when the run ends", "Write the HTML self-healing report at run end."),
      other("GENERATE_AI_ANALYSIS_REPORT", "false", K::Flag, "run set-up", "at run start",
            "Write the run analysis report (HTML and JSON) at run end."),
      choices(other("TRACE_MODE", "off", K::Text, "evidence", "at the first scenario",
                    "Playwright trace per scenario: off, on, or retain-on-failure."),
              "off|on|retain-on-failure"),
      needs(blank_default(other("TRACES_DIR", "test-results/traces", K::Text, "evidence", "at the first scenario",
                                "Folder of the traces, <feature>/<scenario>[-retryN].zip.")),
            "TRACE_MODE=on|retain-on-failure"),
      needs(other("RETRY_FAIL_ON_FLAKY", "false", K::Flag, "run-end summary and the runner class", "at run end",
                  "A scenario that passed only on retry (flaky) makes the run exit 1."),
            "RETRY_FAILED_SCENARIOS=true"),
      other("JIRA_ENABLED", "false", K::Flag, "integration set-up", kIntegrations,
            "Jira/Xray integration: write the Xray import file."),
      other("MERIDIO_ENABLED", "false", K::Flag, "integration set-up", kIntegrations,
            "Meridio integration: write the Meridio results file."),
      other("TARVO_TM_ENABLED", "false", K::Flag, "integration set-up", kIntegrations,
            "Tarvo Test Manager integration (needs TARVO_TM_URL and TARVO_TM_API_KEY)."),
      other("HIDE_TRANSFORMERS_WARNINGS", "false", K::Flag, kStartup, kStartupWhen,
            "Quiet the transformers library's warnings and logs."),
      other("HIDE_HF_WARNINGS", "false", K::Flag, kStartup, kStartupWhen, "Quiet Hugging Face Hub warnings."),
      other("HIDE_BEHAVE_WARNINGS", "false", K::Flag, kStartup, kStartupWhen,
            "Quiet behave's user warnings and context-masking warnings."),
      range(trimmed(other("LOCATOR_TIMEOUT", "5000", K::Real, "element locator", "at each element lookup",
                          "Wait for an element, in milliseconds, before healing is tried.")), 0, kMaxMs),
      needs(range(trimmed(other("PAGE_EVALUATION_TIMEOUT", "10000", K::Real, "element locator and healing",
                                "at each page evaluation of the healing",
                                "Deadline of one page evaluation during healing, in milliseconds; a page "
                                "whose script is stuck gets no healing.")),
                  1, kMaxMs),
            "SELF_HEALING_ENABLED=true"),

      other("SELF_HEALING_ENABLED", "false", K::Flag, kHealing, kHealingWhen,
            "Repair locators that find nothing with an AI model."),
      needs(blank_default(other("SELF_HEALING_MODEL", "", K::Text, kHealing, kHealingWhen,
                                "Model name given to the AI provider (empty: the provider's default).")),
            kHeal),
      needs(other("SELF_HEALING_AUTO_UPDATE_POM", "false", K::Flag, kLocator, kLocatorWhen,
                  "Write healed page-object selectors to HTML_REPORTS_DIR/healed-page-objects.patch "
                  "(for git apply after review); the JSON files are never changed."), kHeal),
      needs(range(other("SELF_HEALING_MAX_RETRIES", "2", K::Integer, kHealing, kHealingWhen,
                        "Extra AI calls after a rejected suggestion."), 0, 100), kHeal),
      needs(other("SELF_HEALING_LOG_SUGGESTIONS", "true", K::Flag, kHealing, kHealingWhen,
                  "Keep a healing log entry for every suggestion."), kHeal),
      needs(range(other("SELF_HEALING_MAX_HTML_LENGTH", "15000", K::Integer, kHealing, kHealingWhen,
                        "Characters of page HTML sent in a healing prompt."), 1, 100000000), kHeal),
      needs(range(other("SELF_HEALING_CONFIDENCE_THRESHOLD", "0.7", K::Real, kLocator, kLocatorWhen,
                        "Least fingerprint score of a heal, from any source (the best candidate must "
                        "also lead the second by 0.1)."), 0, 1), kHeal),
      trimmed(other("SELF_HEALING_STORE", ".tarvo/healing.sqlite", K::Text, kLocator, kLocatorWhen,
                    "SQLite file of element fingerprints and accepted heals, kept across runs "
                    "(relative to the working directory; off: no recording, no store).")),
      other("SELF_HEALING_STRICT", "false", K::Flag, kLocator, kLocatorWhen,
            "A step whose element was found only thanks to a heal, or by a stale locator, fails."),

      needs(choices(trimmed(other("AI_PROVIDER", "gemini", K::LowerText, kProvider, kProviderWhen,
                                  "AI model provider for self-healing.")),
                    "gemini|openai|azure|azure_openai|anthropic|ollama|local"),
            kHeal),
      needs(range(trimmed(other("AI_PROVIDER_TIMEOUT", "60", K::Real, kProvider, kProviderWhen,
                                "Seconds one whole model call may take, from connecting to the last byte.")),
                  0.001, 86400), kHeal),
      needs(trimmed(other("GEMINI_API_KEY", "", K::Text, kProvider, kProviderWhen, "Gemini API key.")), kGemini),
      needs(trimmed(other("GOOGLE_API_KEY", "", K::Text, kProvider, kProviderWhen,
                          "Gemini API key, when GEMINI_API_KEY is empty.")), kGemini),
      needs(trimmed(other("GEMINI_BASE_URL", "https://generativelanguage.googleapis.com", K::Text, kProvider,
                          kProviderWhen, "Gemini service URL.")), kGemini),
      needs(trimmed(other("GEMINI_API_VERSION", "v1beta", K::Text, kProvider, kProviderWhen,
                          "Gemini API version.")), kGemini),
      needs(trimmed(other("GEMINI_MODEL", "gemini-2.5-flash", K::Text, kProvider, kProviderWhen,
                          "Gemini model when SELF_HEALING_MODEL is empty.")), kGemini),
      needs(trimmed(other("OPENAI_API_KEY", "", K::Text, kProvider, kProviderWhen, "OpenAI API key.")), kOpenAi),
      needs(trimmed(other("OPENAI_BASE_URL", "https://api.openai.com/v1", K::Text, kProvider, kProviderWhen,
                          "OpenAI service URL.")), kOpenAi),
      needs(trimmed(other("OPENAI_ORG_ID", "", K::Text, kProvider, kProviderWhen, "OpenAI organisation.")),
            kOpenAi),
      needs(trimmed(other("OPENAI_MODEL", "gpt-4o-mini", K::Text, kProvider, kProviderWhen,
                          "OpenAI model when SELF_HEALING_MODEL is empty.")), kOpenAi),
      needs(trimmed(other("AZURE_OPENAI_ENDPOINT", "", K::Text, kProvider, kProviderWhen,
                          "Azure OpenAI resource URL (with AI_PROVIDER=openai it selects Azure).")), kAzure),
      needs(trimmed(other("AZURE_OPENAI_API_KEY", "", K::Text, kProvider, kProviderWhen, "Azure OpenAI key.")),
            kAzure),
      needs(trimmed(other("AZURE_OPENAI_KEY", "", K::Text, kProvider, kProviderWhen,
                          "Azure OpenAI key, when AZURE_OPENAI_API_KEY is empty.")), kAzure),
      needs(trimmed(other("AZURE_OPENAI_DEPLOYMENT", "", K::Text, kProvider, kProviderWhen,
                          "Azure OpenAI deployment.")), kAzure),
      needs(trimmed(other("AZURE_OPENAI_DEPLOYMENT_NAME", "", K::Text, kProvider, kProviderWhen,
                          "Azure OpenAI deployment, when AZURE_OPENAI_DEPLOYMENT is empty.")), kAzure),
      needs(trimmed(other("AZURE_OPENAI_API_VERSION", "2024-10-21", K::Text, kProvider, kProviderWhen,
                          "Azure OpenAI API version.")), kAzure),
      needs(trimmed(other("ANTHROPIC_API_KEY", "", K::Text, kProvider, kProviderWhen, "Anthropic API key.")),
            kAnthropic),
      needs(trimmed(other("ANTHROPIC_BASE_URL", "https://api.anthropic.com", K::Text, kProvider, kProviderWhen,
                          "Anthropic service URL.")), kAnthropic),
      needs(trimmed(other("ANTHROPIC_MODEL", "claude-sonnet-4-5", K::Text, kProvider, kProviderWhen,
                          "Anthropic model when SELF_HEALING_MODEL is empty.")), kAnthropic),
      needs(range(trimmed(other("ANTHROPIC_MAX_TOKENS", "1024", K::Integer, kProvider, kProviderWhen,
                                "Longest Anthropic answer, in tokens.")), 1, 1000000), kAnthropic),
      needs(trimmed(other("OLLAMA_BASE_URL", "", K::Text, kProvider, kProviderWhen,
                          "Ollama service URL (else OLLAMA_HOST, else http://127.0.0.1:11434).")), kOllama),
      needs(trimmed(other("OLLAMA_HOST", "", K::Text, kProvider, kProviderWhen,
                          "Ollama host[:port] when OLLAMA_BASE_URL is empty.")), kOllama),
      needs(trimmed(other("OLLAMA_MODEL", "llama3.1", K::Text, kProvider, kProviderWhen,
                          "Ollama model when SELF_HEALING_MODEL is empty.")), kOllama),

      needs(blank_default(other("XRAY_RESULTS_FILE", "reports/xray-results.json", K::Text, kXray, kIntegrationWhen,
                                "Path of the Xray import file.")), kJira),
      needs(other("XRAY_PROJECT_KEY", "", K::Text, kXray, kIntegrationWhen, "Jira project key."), kJira),
      needs(other("XRAY_TEST_EXECUTION_KEY", "", K::Text, kXray, kIntegrationWhen, "Xray test execution key."),
            kJira),
      needs(other("XRAY_TEST_PLAN_KEY", "", K::Text, kXray, kIntegrationWhen, "Xray test plan key."), kJira),
      needs(other("XRAY_TEST_ENVIRONMENTS", "", K::Text, kXray, kIntegrationWhen,
                  "Xray test environments, comma-separated."), kJira),
      needs(other("XRAY_SUMMARY", "", K::Text, kXray, kIntegrationWhen, "Summary of the test execution."), kJira),
      needs(blank_default(other("MERIDIO_RESULTS_FILE", "reports/meridio-results.json", K::Text, kMeridio,
                                kIntegrationWhen, "Path of the Meridio results file.")), kMeridioOn),
      needs(other("MERIDIO_PROJECT", "", K::Text, kMeridio, kIntegrationWhen, "Meridio project."), kMeridioOn),
      needs(other("MERIDIO_RUN_NAME", "", K::Text, kMeridio, kIntegrationWhen, "Meridio run name."), kMeridioOn),
      needs(other("TARVO_TM_URL", "", K::Text, kTarvoTm, kIntegrationWhen, "Tarvo Test Manager server URL."),
            kTarvoTmOn),
      needs(other("TARVO_TM_API_KEY", "", K::Text, kTarvoTm, kIntegrationWhen, "Tarvo Test Manager API key."),
            kTarvoTmOn),
      needs(other("TARVO_TM_PROJECT", "", K::Text, kTarvoTm, kIntegrationWhen, "Tarvo Test Manager project."),
            kTarvoTmOn),
      needs(blank_default(other("TARVO_TM_RESULTS_FILE", "reports/tarvo-tm-results.json", K::Text, kTarvoTm,
                                kIntegrationWhen, "Path of the Tarvo Test Manager results file.")),
            kTarvoTmOn),
  };
  return t;
}

}  // namespace

const std::vector<SettingRow>& settings_table() {
  static const std::vector<SettingRow> rows = build_table();
  return rows;
}

const SettingRow* find_setting(const std::string& variable) {
  for (const auto& row : settings_table())
    if (variable == row.variable) return &row;
  return nullptr;
}

const SettingRow* find_config_key(const std::string& key) {
  for (const auto& row : settings_table())
    if (row.in_config && key == row.name) return &row;
  return nullptr;
}

bool is_number_kind(SettingKind kind) { return kind == SettingKind::Integer || kind == SettingKind::Real; }

const char* kind_name(SettingKind kind) {
  switch (kind) {
    case SettingKind::Text: return "text";
    case SettingKind::LowerText: return "lower-case text";
    case SettingKind::Flag: return "flag";
    case SettingKind::Integer: return "integer";
    case SettingKind::Real: return "real";
    case SettingKind::List: return "list";
    case SettingKind::UserAgent: return "text";
  }
  return "text";
}

}  // namespace tarvo::config
