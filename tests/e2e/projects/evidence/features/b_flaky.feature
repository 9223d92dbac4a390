Feature: Inestables

  Scenario: Pasa al reintentar con tabla y texto
    Given the rows are recorded for "tabla"
      | name |
      | uno  |
    And the text is recorded for "texto"
      """
      línea uno
        línea dos
      """
    And I open "start.html"
    Then it fails on its first run only for "inestable"
