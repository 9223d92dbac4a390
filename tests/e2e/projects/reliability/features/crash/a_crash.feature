Feature: The browser dies in the middle of a feature

  Scenario: The browser process is killed
    Given I open "start.html"
    When the browser process is killed on the first run of "crash"
    Then the page answers

  Scenario: The next scenario of the same feature
    Then the page answers
