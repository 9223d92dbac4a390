Feature: Pages across scenarios

  @no_browser
  Scenario: Browserless scenario
    Then no page was opened for this scenario

  Scenario: First page
    Given I open "start.html"
    When I mark the page
    Then 1 page is open

  Scenario: Reused page
    Then the page is the marked page

  Scenario: Popup
    When I open the popup
    Then 2 pages are open

  Scenario: After the popup
    Then 1 page is open
    And the page is the marked page

  Scenario: Failing scenario
    Then this step fails

  @mobile
  Scenario: Mobile viewport
    Then the viewport is 375 by 667

  Scenario: Desktop viewport after the mobile one
    Then the viewport is 1920 by 1080
