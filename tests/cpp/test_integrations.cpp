#include <gtest/gtest.h>

#include "core/integrations/integration_texts.hpp"
#include "core/integrations/messages.hpp"

using namespace tarvo::integrations;

TEST(IntegrationEnabled, OnlyLowerCasedTrueWithoutTrimming) {
  auto enabled = [](const char* text) {
    tarvo::MapEnvironment env;
    if (text) env.set("MERIDIO_ENABLED", text);
    return integration_enabled(meridio_setup(), env);
  };
  EXPECT_TRUE(enabled("true"));
  EXPECT_TRUE(enabled("TRUE"));
  EXPECT_TRUE(enabled("True"));
  EXPECT_FALSE(enabled(nullptr));
  for (const char* off : {"", "1", "yes", " true", "true ", "on", "false"}) EXPECT_FALSE(enabled(off)) << "'" << off << "'";
}

TEST(IntegrationSetup, FailureMessagesTellLoadingFromOtherFailures) {
  EXPECT_EQ(setup_failure_message(jira_xray_setup(), true, "No module named 'x'"),
            "⚠️ Módulos de integración Jira/Xray no disponibles");
  EXPECT_EQ(setup_failure_message(jira_xray_setup(), false, "boom"),
            "⚠️ Error configurando integración Jira/Xray: boom");
  EXPECT_EQ(setup_failure_message(meridio_setup(), true, "x"), "⚠️ Módulos de integración Meridio no disponibles");
  EXPECT_EQ(setup_failure_message(meridio_setup(), false, "bad"), "⚠️ Error configurando integración Meridio: bad");
  // Tarvo Test Manager carries the loader's own text.
  EXPECT_EQ(setup_failure_message(tarvo_tm_setup(), true, "No module named 'requests'"),
            "[TARVO-TM] Modulo no disponible: No module named 'requests'");
  EXPECT_EQ(setup_failure_message(tarvo_tm_setup(), false, "bad"), "[TARVO-TM] Error configurando integracion: bad");
}

TEST(RunEndTexts, SoftAssertionSummaryOnlyForPositiveCounts) {
  EXPECT_TRUE(soft_assertion_block(0LL).empty());
  EXPECT_TRUE(soft_assertion_block(-2LL).empty());
  auto lines = soft_assertion_block(3LL);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "\n" + std::string(70, '='));
  EXPECT_EQ(lines[1], "⚠️  SOFT ASSERTIONS: 3 escenario(s) fallaron");
  EXPECT_EQ(lines[2], "   (Behave los muestra como 'passed' pero el reporte HTML muestra el estado real)");
  EXPECT_EQ(lines[3], std::string(70, '=') + "\n");
}

TEST(IntegrationMessages, ReportFailuresNameTheReport) {
  EXPECT_EQ(tarvo::integrations::validation_report_failed("disk full"), "⚠️ Error generando reporte de IA: disk full");
  EXPECT_EQ(tarvo::integrations::analysis_report_failed("disk full"),
            "⚠️ Error generando reporte de analisis IA: disk full");
}
