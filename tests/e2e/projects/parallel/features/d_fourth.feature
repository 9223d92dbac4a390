Feature: Fourth feature of the parallel suite

  Scenario: Opens the start page
    Given I open "start.html"
    Then the worker is noted for "d"
    And it hangs when E2E_STUCK names "d"

  Scenario: Opens the other page
    Given I open "other.html"
