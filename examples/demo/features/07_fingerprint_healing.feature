Feature: Self-healing from element fingerprints, without a model
  Each element the locator finds is recorded (its fingerprint) in the healing store. In
  release 2 the confirm button got a new id, new classes and a wrapper: the page object's
  selector finds nothing, and the locator picks the button again by its fingerprint
  ("🔧 SELF-HEALING (huella)"), with no model call. From the next run on, that heal is
  reused from the store after a new check on the page ("🔧 SELF-HEALING (almacén)").

  Scenario: Release 1 of the orders page
    Given the orders page of release 1
    When I confirm the order
    Then the order status reads "Pedido confirmado"

  Scenario: Release 2 renamed the confirm button
    Given the orders page of release 2
    When I confirm the order
    Then the order status reads "Pedido confirmado"
