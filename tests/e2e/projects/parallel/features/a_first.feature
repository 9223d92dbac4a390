Feature: First feature of the parallel suite

  @PROJ-11
  Scenario: Opens the start page
    Given I open "start.html"
    When I mark the page
    Then the worker is noted for "a"

  Scenario: Finds the page of the previous scenario
    Then the page is the marked page
