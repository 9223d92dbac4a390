Feature: The user stops the run

  Scenario: Fails before the interrupt
    Given I open "start.html"
    Then it always fails for "before"

  Scenario: Interrupted
    Given I open "start.html"
    When I wait to be interrupted

  Scenario: Never reached
    Then it always fails for "never"
