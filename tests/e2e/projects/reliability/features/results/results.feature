Feature: Results files survive odd texts and failing plug-ins

  @PROJ-7
  Scenario: Fails with half an emoji
    Given I open "start.html"
    Then the step fails with half an emoji and the password

  Scenario: Soft assertion with half an emoji
    Given I open "start.html"
    Then a soft assertion fails with half an emoji

  Scenario: Passes when run again
    Given I open "start.html"
    Then it fails on its first run only for "again"
