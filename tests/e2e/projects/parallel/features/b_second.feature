Feature: Second feature of the parallel suite

  Scenario: Opens the other page
    Given I open "other.html"
    Then the worker is noted for "b"
    And the browser is killed when E2E_KILL_BROWSER names "b"

  Scenario: Opens the start page again
    Given I open "start.html"
    Then 1 page is open
