Feature: Evidencia de fallos

  Scenario: Falla con evidencia
    Given I open "start.html"
    When I open the popup
    Then this step fails

  Scenario: Pasa sin evidencia
    Given I open "start.html"
