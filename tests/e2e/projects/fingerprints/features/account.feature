Feature: Account page across two releases

  @save
  Scenario: Save the profile
    Given I open the account page
    When I type "ana@example.com" into "AccountPage.email"
    And I click "AccountPage.save_button"
    Then the status reads "Guardar perfil [ana@example.com]"

  @remove
  Scenario: Remove the e-mail
    Given I open the account page
    When I click "AccountPage.remove_email"
    Then the status reads "Quitar correo []"
