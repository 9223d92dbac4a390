#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "core/config/framework_setup.hpp"
#include "core/config/video_retention.hpp"
#include "core/config/settings.hpp"

using namespace tarvo;
using namespace tarvo::config;
namespace fs = std::filesystem;

TEST(ConfigServices, DotenvSearchNearestFirst) {
  EXPECT_EQ(dotenv_candidates("/a/b/"), (std::vector<std::string>{"/a/b/.env", "/a/.env", "/.env"}));
  EXPECT_EQ(dotenv_candidates("/"), (std::vector<std::string>{"/.env"}));
  std::set<std::string> present = {"/a/.env", "/.env"};
  auto exists = [&](const std::string& p) { return present.count(p) > 0; };
  EXPECT_EQ(find_dotenv("/a/b/c", exists), "/a/.env");
  EXPECT_FALSE(find_dotenv("/x/y", [](const std::string&) { return false; }));
  // Only the working directory's own file may choose the browser program.
  EXPECT_TRUE(dotenv_is_own("/a/b/", "/a/b/.env"));
  EXPECT_FALSE(dotenv_is_own("/a/b", "/a/.env"));
  EXPECT_EQ(dotenv_own_only_variables(), (std::vector<std::string>{"TARVO_CHROMIUM_EXECUTABLE"}));
  EXPECT_EQ(dotenv_loaded_line("/a/.env"), "📄 Variables cargadas desde /a/.env");
  EXPECT_EQ(dotenv_variable_ignored_line("TARVO_CHROMIUM_EXECUTABLE", "/a/.env"),
            "⚠️ TARVO_CHROMIUM_EXECUTABLE de /a/.env ignorada: solo se toma del entorno o del .env del directorio "
            "de trabajo");
}

TEST(ConfigServices, ValidationReport) {
  std::vector<std::string> seven = {"e1", "e2", "e3", "e4", "e5", "e6", "e7"};
  EXPECT_EQ(validation_report(seven, {"w"}, std::nullopt),
            (std::vector<std::string>{"\n⚠️  Configuración: 7 problema(s) detectado(s):", "   • e1", "   • e2",
                                      "   • e3", "   • e4", "   • e5",
                                      "   ... y 2 más. Ejecuta 'tarvo-validate' para ver todos.", ""}));
  auto five = validation_report({"1", "2", "3", "4", "5"}, {}, std::string("warning"));
  EXPECT_EQ(five.size(), 7u);
  EXPECT_EQ(five.back(), "");
  EXPECT_TRUE(validation_report(seven, {}, std::string("Error")).empty());
  EXPECT_TRUE(validation_report(seven, {}, std::string("CRITICAL")).empty());
  EXPECT_EQ(validation_report({}, {"w1", "w2", "w3", "w4"}, std::string("debug")),
            (std::vector<std::string>{"   ℹ️  w1", "   ℹ️  w2", "   ℹ️  w3"}));
  EXPECT_TRUE(validation_report({}, {"w1"}, std::string("INFO")).empty());
}

TEST(ConfigServices, LogLevels) {
  EXPECT_EQ(log_level_value("debug"), 10);
  EXPECT_EQ(log_level_value("INFO"), 20);
  EXPECT_EQ(log_level_value("Error"), 40);
  EXPECT_EQ(log_level_value("critical"), 50);
  EXPECT_EQ(log_level_value("VERBOSE"), 30);
  EXPECT_EQ(log_level_value(""), 30);
}

TEST(ConfigServices, TestDataFromSettings) {
  SettingMap s;
  s.set("test_email", std::string("a@b.c"));
  s.set("base_url", std::string("http://x"));
  auto data = test_data(s);
  ASSERT_EQ(data.size(), 5u);
  EXPECT_EQ(data[0], (std::pair<std::string, std::string>{"email", "a@b.c"}));
  EXPECT_EQ(data[1].second, "");
  EXPECT_EQ(data[4], (std::pair<std::string, std::string>{"base_url", "http://x"}));
}

TEST(ConfigServices, VideosToDeleteStrictlyOlderAndBaseKept) {
  const double now = 1'000'000.0;
  const double hour = 3600.0;
  std::vector<VideoFile> files = {
      {"old.webm", "/v/old.webm", now - 200 * hour},
      {"edge.webm", "/v/edge.webm", now - 168 * hour},
      {"base.mp4", "/v/base.mp4", now - 500 * hour},
      {"fresh.mp4", "/v/fresh.mp4", now - 1},
  };
  EXPECT_EQ(videos_to_delete(files, now, 168), (std::vector<std::string>{"/v/old.webm"}));
  EXPECT_EQ(videos_to_delete(files, now, 0),
            (std::vector<std::string>{"/v/old.webm", "/v/edge.webm", "/v/fresh.mp4"}));
}

class ConfigVideoDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tarvo_videos_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void touch(const std::string& name, double age_seconds) {
    std::string p = (dir_ / name).string();
    std::ofstream(p) << "x";
    double t = now_seconds() - age_seconds;
    struct timeval tv[2];
    tv[0].tv_sec = tv[1].tv_sec = static_cast<time_t>(t);
    tv[0].tv_usec = tv[1].tv_usec = 0;
    ::utimes(p.c_str(), tv);
  }
  fs::path dir_;
  RecordingConsole console_;
};

TEST_F(ConfigVideoDir, RemovesOnlyOldRecordings) {
  const double old = 200 * 3600.0;
  touch("base.mp4", old);
  touch("run.webm", old);
  touch("fresh.mp4", 10);
  touch("notes.txt", old);
  touch(".hidden.webm", old);
  fs::create_directories(dir_ / "sub");
  touch("sub/deep.webm", old);
  cleanup_old_videos(dir_.string(), 168, now_seconds(), console_, remove_file);
  EXPECT_EQ(console_.lines, std::vector<std::string>{"🧹 Videos antiguos eliminados: 1 archivos"});
  EXPECT_FALSE(fs::exists(dir_ / "run.webm"));
  for (const char* kept : {"base.mp4", "fresh.mp4", "notes.txt", ".hidden.webm", "sub/deep.webm"})
    EXPECT_TRUE(fs::exists(dir_ / kept)) << kept;
}

TEST_F(ConfigVideoDir, RemovalFailureReportedAndPassGoesOn) {
  touch("a.webm", 7200);
  touch("b.mp4", 7200);
  std::vector<std::string> tried;
  auto remove = [&](const std::string& p) -> std::optional<std::string> {
    tried.push_back(p);
    if (p.find("a.webm") != std::string::npos) return std::string("denied");
    return remove_file(p);
  };
  cleanup_old_videos(dir_.string(), 1, now_seconds(), console_, remove);
  ASSERT_EQ(console_.lines.size(), 2u);
  EXPECT_EQ(console_.lines[0], "⚠️ No se pudo eliminar video antiguo " + (dir_ / "a.webm").string() + ": denied");
  EXPECT_EQ(console_.lines[1], "🧹 Videos antiguos eliminados: 1 archivos");
  EXPECT_EQ(tried.size(), 2u);
}

TEST_F(ConfigVideoDir, MissingDirectoryOrNothingOldIsSilent) {
  cleanup_old_videos((dir_ / "absent").string(), 0, now_seconds(), console_, remove_file);
  touch("new.webm", 0);
  cleanup_old_videos(dir_.string(), 168, now_seconds(), console_, remove_file);
  EXPECT_TRUE(console_.lines.empty());
}

TEST_F(ConfigVideoDir, NameWithNulCleansNothing) {
  touch("old.webm", 7200);
  cleanup_old_videos(dir_.string() + std::string("\0/elsewhere", 11), 0, now_seconds(), console_, remove_file);
  EXPECT_TRUE(fs::exists(dir_ / "old.webm"));
  EXPECT_TRUE(console_.lines.empty());
}

TEST_F(ConfigVideoDir, UnreadableDirectoryEndsWithGeneralMessage) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads any directory";
  fs::permissions(dir_, fs::perms::none);
  cleanup_old_videos(dir_.string(), 0, now_seconds(), console_, remove_file);
  fs::permissions(dir_, fs::perms::owner_all);
  ASSERT_EQ(console_.lines.size(), 1u);
  EXPECT_EQ(console_.lines[0].rfind("⚠️ Error limpiando videos antiguos: [Errno 13]", 0), 0u);
}
