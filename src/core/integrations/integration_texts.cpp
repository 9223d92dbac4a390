#include "core/integrations/integration_texts.hpp"

#include "core/config/settings.hpp"

namespace tarvo::integrations {

bool integration_enabled(const IntegrationSetup& setup, const Environment& env) {
  return config::read_flag(env, setup.env_var);
}

const IntegrationSetup& jira_xray_setup() {
  static const IntegrationSetup s{
      "JIRA_ENABLED",
      "tarvolab_framework.integrations.behave_hooks",
      "JiraXrayHooks",
      "jira_xray_enabled",
      "jira_xray_hooks",
      "🔗 Integración Jira/Xray habilitada automáticamente",
      "⚠️ Módulos de integración Jira/Xray no disponibles",
      false,
      "⚠️ Error configurando integración Jira/Xray: ",
      "⚠️ Error en after_all Jira/Xray: ",
  };
  return s;
}

const IntegrationSetup& meridio_setup() {
  static const IntegrationSetup s{
      "MERIDIO_ENABLED",
      "tarvolab_framework.integrations.meridio_hooks",
      "MeridioHooks",
      "meridio_enabled",
      "meridio_hooks",
      "🔗 Integración Meridio habilitada automáticamente",
      "⚠️ Módulos de integración Meridio no disponibles",
      false,
      "⚠️ Error configurando integración Meridio: ",
      "⚠️ Error en after_all Meridio: ",
  };
  return s;
}

const IntegrationSetup& tarvo_tm_setup() {
  static const IntegrationSetup s{
      "TARVO_TM_ENABLED",
      "tarvolab_framework.integrations.tarvo_test_manager",
      "TarvoTestManagerIntegration",
      "",
      "tarvo_tm_hooks",
      "",
      "[TARVO-TM] Modulo no disponible: ",
      true,
      "[TARVO-TM] Error configurando integracion: ",
      "[TARVO-TM] Error en after_all: ",
  };
  return s;
}

std::string setup_failure_message(const IntegrationSetup& setup, bool loading_failure,
                                  const std::string& failure_text) {
  if (loading_failure)
    return setup.unavailable_with_text ? setup.unavailable + failure_text : setup.unavailable;
  return setup.error_prefix + failure_text;
}

std::string missing_component_text(const IntegrationSetup& setup) {
  return "cannot import name '" + setup.component + "' from '" + setup.module + "'";
}

}  // namespace tarvo::integrations
