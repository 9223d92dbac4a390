Feature: Contact form with a select box

  Scenario Outline: Sending the form
    Given I open the contact form
    When I type the name "<name>"
    And I select the country "<country>"
    And I submit the form
    Then the result reads "<name> (<country>)"

    Examples:
      | name  | country   |
      | Ana   | España    |
      | Pablo | Argentina |

  Scenario: Soft checks on the form
    Given I open the contact form
    Then the form passes the soft checks
