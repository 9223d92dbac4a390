Feature: Self-healing of a stale page-object selector
  SettingsPage.save_button still names the button's former id. The locator finds
  nothing, the AI provider suggests a replacement, the framework verifies it on the
  live page and the click goes through; the second click reuses the cached answer.

  Scenario: Saving settings with a renamed button
    When I open the settings page
    And I click the save settings button
    Then the status reads "Ajustes guardados (1)"
    When I click the save settings button
    Then the status reads "Ajustes guardados (2)"
