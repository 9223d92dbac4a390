Feature: The next feature

  Scenario: Fresh page in the next feature
    Given I open "start.html"
    Then the page is a fresh page
    And 1 page is open
