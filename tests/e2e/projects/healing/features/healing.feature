Feature: Healing stale selectors

  Scenario: Stale selector healed
    Given I open "heal.html"
    When I click "ProfilePage.save_button"
    Then the status reads "Guardado 1"
    When I click "ProfilePage.save_button"
    Then the status reads "Guardado 2"

  Scenario: No element fits
    Given I open "nofit.html"
    When I click "NewsPage.launch_button"
