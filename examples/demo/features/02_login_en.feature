Feature: Logging in (English step texts)

  Scenario: Valid credentials
    Given I am on the login page
    When I fill in user "demo" and password "demo123"
    And I click the login button
    Then I should see the greeting "Bienvenido, demo"

  Scenario: Wrong password
    Given I am on the login page
    When I fill in user "demo" and password "nope"
    And I click the login button
    Then I should see the error "Credenciales inválidas"
