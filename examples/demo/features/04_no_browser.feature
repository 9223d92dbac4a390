Feature: Scenarios that need no browser

  @no_browser
  Scenario: Pure computation
    Given the browser is switched off for this scenario
    When I add 2 and 3
    Then the result is 5

  Scenario: The next scenario gets a page again
    Given I am on the login page
    Then only one page is open
