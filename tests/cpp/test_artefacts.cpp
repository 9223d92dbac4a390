#include <gtest/gtest.h>

#include <set>

#include "core/evidence/artefacts.hpp"

using namespace tarvo::evidence;

TEST(ArtefactNames, HostileNamesStayOneSafeComponent) {
  EXPECT_EQ(safe_name("Inicio de sesión con éxito"), "Inicio_de_sesion_con_exito");
  EXPECT_EQ(safe_name("../../etc/passwd"), "etc_passwd");
  EXPECT_EQ(safe_name(".."), "unnamed");
  EXPECT_EQ(safe_name(""), "unnamed");
  EXPECT_EQ(safe_name(std::string("a\0b", 3)), "a_b");
  EXPECT_EQ(safe_name("🚀 lanzamiento 🚀"), "lanzamiento");
  EXPECT_EQ(safe_name("C:\\Windows\\x"), "C_Windows_x");
  EXPECT_EQ(safe_name(".hidden"), "hidden");
  EXPECT_EQ(safe_name("Straße Łódź"), "Strase_Lodz");
  EXPECT_EQ(safe_name("\xff\xfe broken"), "broken");
  std::string long_name(300, 'x');
  EXPECT_EQ(safe_name(long_name).size(), 80u);
  EXPECT_EQ(safe_name(std::string(300, '/') + "y", 10), "y");
  // A name cannot pose as another scenario's retry or page artefact.
  EXPECT_EQ(safe_name("Login-retry1"), "Login_retry1");
  EXPECT_EQ(safe_name("Login-page2"), "Login_page2");
  for (const char* hostile : {"a/b", "a\\b", "a:b", "a*b?", "<x>|y", "a\nb", "  "}) {
    std::string n = safe_name(hostile);
    for (char c : n) EXPECT_TRUE(isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.') << hostile;
    EXPECT_NE(n.front(), '.') << hostile;
  }
}

TEST(ArtefactNames, UniqueNamesAndPaths) {
  std::set<std::string> used = {"Login", "Login-2"};
  auto taken = [&](const std::string& s) { return used.count(s) > 0; };
  EXPECT_EQ(unique_name("Login", taken), "Login-3");
  EXPECT_EQ(unique_name("Other", taken), "Other");
  EXPECT_EQ(artefact_path("Feature", "Scenario", 0, 1, "png"), "Feature/Scenario.png");
  EXPECT_EQ(artefact_path("Feature", "Scenario", 2, 1, "png"), "Feature/Scenario-retry2.png");
  EXPECT_EQ(artefact_path("Feature", "Scenario", 1, 3, "png"), "Feature/Scenario-retry1-page3.png");
  EXPECT_EQ(artefact_path("F", "S", 0, 0, "zip"), "F/S.zip");
}

TEST(ArtefactModes, ParseAndKeep) {
  EXPECT_EQ(parse_artefact_mode(" Retain-On-Failure ", ArtefactMode::Off), ArtefactMode::RetainOnFailure);
  EXPECT_EQ(parse_artefact_mode("", ArtefactMode::RetainOnFailure), ArtefactMode::RetainOnFailure);
  EXPECT_EQ(parse_artefact_mode("ON", ArtefactMode::Off), ArtefactMode::On);
  EXPECT_FALSE(parse_artefact_mode("always", ArtefactMode::Off).has_value());
  EXPECT_FALSE(parse_artefact_mode("true", ArtefactMode::Off).has_value());
  EXPECT_TRUE(keep_artefact(ArtefactMode::On, false));
  EXPECT_TRUE(keep_artefact(ArtefactMode::RetainOnFailure, true));
  EXPECT_FALSE(keep_artefact(ArtefactMode::RetainOnFailure, false));
  EXPECT_FALSE(keep_artefact(ArtefactMode::Off, true));
  EXPECT_EQ(mode_name(ArtefactMode::RetainOnFailure), "retain-on-failure");
}

TEST(EvidenceMessages, FailureWarningCarriesTheError) {
  EXPECT_EQ(tarvo::evidence::evidence_failed("disk full"), "⚠️ Evidencias no guardadas: disk full");
}
