Feature: A later feature

  Scenario: Runs on a browser again
    Then the page answers
