Feature: One page for all scenarios of a feature
  The page is reused from one scenario to the next, so the logged-in state carries
  over; windows a scenario opens are closed when it ends.

  Scenario: Log in
    Given I am logged in as "ana"
    Then I should see the greeting "Bienvenido, ana"

  Scenario: The next scenario continues on the same page
    Then the page is still the dashboard
    And the greeting still reads "Bienvenido, ana"

  Scenario: Help opens in a popup window
    When I click the help link
    Then the popup shows the title "Centro de ayuda"

  Scenario: The popup was closed when the previous scenario ended
    Then only one page is open
    And the page is still the dashboard

  @mobile
  Scenario: Mobile viewport
    Then the viewport is 375 by 667
