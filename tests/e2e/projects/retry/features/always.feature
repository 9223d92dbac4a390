Feature: A scenario that never passes

  Scenario: Always fails
    Given I open "start.html"
    Then it always fails for "always"
