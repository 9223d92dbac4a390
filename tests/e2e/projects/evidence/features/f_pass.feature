Feature: Todo bien

  Scenario: Pasa a la primera
    Given I open "start.html"
