Feature: Third feature of the parallel suite

  @no_browser
  Scenario Outline: Works without a browser for <who>
    Then no page was opened for this scenario

    Examples:
      | who  |
      | ana  |
      | beto |

  Scenario: Fails on its first run
    Given I open "start.html"
    Then the worker is noted for "c"
    And it fails on its first run only for "c-first"
