Feature: Scenarios that pass when run again

  Scenario: Passes on the second run
    Given I open "start.html"
    Then it fails on its first run only for "flaky"

  Scenario: Step with a table
    Given the rows are recorded for "table"
      | name |
      | uno  |
      | dos  |
    Then it fails on its first run only for "table"

  Scenario: Passes at once
    Given I open "start.html"
