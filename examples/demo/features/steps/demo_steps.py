"""Step definitions of the demo. Every element is reached through the framework's
element locator, by page-object reference ("Page.element", see json_poms/), so that a
stale selector gets healed on the live page."""
from behave import given, then, when

from _server import page_url


def _loc(context):
    return context.element_locator


# --- login (Spanish and English texts share one implementation) ----------------------

@given("que estoy en la página de login")
@given("I am on the login page")
def step_open_login(context):
    context.page.goto(page_url("login.html"))


@when('ingreso el usuario "{user}" y la contraseña "{password}"')
@when('I fill in user "{user}" and password "{password}"')
def step_fill_credentials(context, user, password):
    _loc(context).fill(context.page, "LoginPage.username", user)
    _loc(context).fill(context.page, "LoginPage.password", password)


@when('hago clic en el botón "Entrar"')
@when("I click the login button")
def step_click_login(context):
    _loc(context).click(context.page, "LoginPage.login_button")


@then('debería ver el saludo "{text}"')
@then('I should see the greeting "{text}"')
def step_see_greeting(context, text):
    context.page.wait_for_url("**/dashboard.html*")
    actual = _loc(context).get_text(context.page, "DashboardPage.welcome")
    assert actual == text, "saludo %r, esperado %r" % (actual, text)


@then('debería ver el error "{text}"')
@then('I should see the error "{text}"')
def step_see_error(context, text):
    assert _loc(context).is_visible(context.page, "LoginPage.error_message", 3000), \
        "el error no se ve"
    actual = _loc(context).get_text(context.page, "LoginPage.error_message")
    assert actual == text, "error %r, esperado %r" % (actual, text)


@given('I am logged in as "{user}"')
@given('que inicié sesión como "{user}"')
def step_logged_in(context, user):
    context.page.goto(page_url("login.html"))
    _loc(context).fill(context.page, "LoginPage.username", user)
    _loc(context).fill(context.page, "LoginPage.password", user[::-1])
    _loc(context).click(context.page, "LoginPage.login_button")
    context.page.wait_for_url("**/dashboard.html*")


# --- page reuse, popups, viewport ------------------------------------------------------

@then("the page is still the dashboard")
def step_still_dashboard(context):
    # Nothing navigated in this scenario: the page left by the previous one was reused.
    assert "/dashboard.html" in context.page.url, "página actual: " + context.page.url


@then('the greeting still reads "{text}"')
def step_greeting_still(context, text):
    actual = _loc(context).get_text(context.page, "DashboardPage.welcome")
    assert actual == text, "saludo %r, esperado %r" % (actual, text)


@when("I click the help link")
def step_click_help(context):
    with context.page.expect_popup() as popup_info:
        _loc(context).click(context.page, "DashboardPage.help_link")
    context.popup = popup_info.value
    context.popup.wait_for_load_state()


@then('the popup shows the title "{text}"')
def step_popup_title(context, text):
    actual = _loc(context).get_text(context.popup, "HelpPage.title")
    assert actual == text, "título %r, esperado %r" % (actual, text)
    assert len(context.page.context.pages) == 2, "se esperaban 2 ventanas abiertas"


@then("only one page is open")
def step_one_page(context):
    pages = context.page.context.pages
    assert len(pages) == 1, "%d páginas abiertas: %s" % (len(pages), [p.url for p in pages])


@then("the viewport is {width:d} by {height:d}")
def step_viewport(context, width, height):
    size = context.page.viewport_size
    assert size == {"width": width, "height": height}, "viewport %r" % (size,)
    inner = context.page.evaluate("[window.innerWidth, window.innerHeight]")
    assert inner == [width, height], "ventana %r" % (inner,)


# --- browserless scenarios -------------------------------------------------------------

@given("the browser is switched off for this scenario")
def step_browser_off(context):
    assert getattr(context, "browser_disabled", False) is True, "browser_disabled no está activo"
    assert getattr(context, "page", None) is None, "el escenario recibió una página"
    open_pages = sum(len(c.pages) for c in context.browser.contexts)
    assert open_pages == 0, "%d páginas abiertas en un escenario sin navegador" % open_pages


@when("I add {a:d} and {b:d}")
def step_add(context, a, b):
    context.sum_result = a + b


@then("the result is {expected:d}")
def step_sum_result(context, expected):
    assert context.sum_result == expected, "resultado %r" % (context.sum_result,)


# --- self-healing ----------------------------------------------------------------------

@when("I open the settings page")
def step_open_settings(context):
    context.page.goto(page_url("settings.html"))


@when('hago clic en el botón "Guardar ajustes"')
@when("I click the save settings button")
def step_click_save(context):
    # SettingsPage.save_button still names the button's former id: the locator finds
    # nothing, the AI suggests a replacement and the click goes through the healed one.
    _loc(context).click(context.page, "SettingsPage.save_button")


@then('the status reads "{text}"')
@then('el estado dice "{text}"')
def step_status(context, text):
    actual = _loc(context).get_text(context.page, "SettingsPage.status")
    assert actual == text, "estado %r, esperado %r" % (actual, text)


# --- form with select, soft assertions -------------------------------------------------

@given("I open the contact form")
def step_open_form(context):
    context.page.goto(page_url("form.html"))


@when('I type the name "{name}"')
def step_type_name(context, name):
    _loc(context).fill(context.page, "FormPage.name", name)


@when('I select the country "{country}"')
def step_select_country(context, country):
    _loc(context).select_option(context.page, "FormPage.country", country)


@when("I submit the form")
def step_submit(context):
    _loc(context).click(context.page, "FormPage.submit")


@then('the result reads "{text}"')
def step_result(context, text):
    actual = _loc(context).get_text(context.page, "FormPage.result")
    assert actual == text, "resultado %r, esperado %r" % (actual, text)


@then("the form passes the soft checks")
def step_soft_checks(context):
    # Soft assertions collect failures instead of stopping the step at the first one.
    page = context.page
    context.soft_assert(page.title() == "Demo - Formulario", "título de la página")
    context.soft_assert(_loc(context).is_visible(page, "FormPage.submit"), "botón Enviar visible")
    context.soft_assert(page.locator("#country option").count() == 4, "cuatro opciones de país")


# --- fingerprint healing -----------------------------------------------------------------

@given("the orders page of release {release:d}")
def step_open_orders(context, release):
    context.page.goto(page_url("orders.html") + "?release=%d" % release)


@when("I confirm the order")
def step_confirm_order(context):
    _loc(context).click(context.page, "OrdersPage.confirm_button")


@then('the order status reads "{text}"')
def step_order_status(context, text):
    actual = _loc(context).get_text(context.page, "OrdersPage.status")
    assert actual == text, "estado %r, esperado %r" % (actual, text)
