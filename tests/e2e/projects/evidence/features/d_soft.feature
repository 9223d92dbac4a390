Feature: Soft assertions

  @no_browser
  Scenario: Pasa con soft assertions fallidas
    Then a soft check fails with "el total no cuadra"
