Feature: Reparaciones

  Scenario: Repara en la ejecución
    Given I open "heal.html"
    When I click "ProfilePage.save_button"
    Then the status reads "Guardado 1"

  Scenario: Repara en el reintento
    Given I open "heal.html"
    Then it fails on its first run only for "repara"
    When I click "ProfilePage.save_button"
    Then the status reads "Guardado 1"
