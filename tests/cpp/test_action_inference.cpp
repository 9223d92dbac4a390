#include <gtest/gtest.h>

#include <string>

#include "core/common/text.hpp"
#include "core/lifecycle/action_inference.hpp"

using tarvo::lifecycle::has_no_browser_tag;
using tarvo::lifecycle::infer_action_from_step;
using tarvo::lifecycle::is_no_browser_tag;

namespace {
const std::string kClick = "hacer click en el elemento";
const std::string kType = "escribir texto en el campo";
const std::string kVerify = "verificar/validar el elemento";
const std::string kGet = "obtener/extraer información del elemento";
const std::string kHover = "pasar el mouse sobre el elemento";

std::string fallback(const std::string& shown) { return "interactuar con el elemento (paso: " + shown + ")"; }
}  // namespace

TEST(ActionInference, EachGroupGivesItsOwnDescription) {
  EXPECT_EQ(infer_action_from_step("pulso Aceptar"), kClick);
  EXPECT_EQ(infer_action_from_step("ingreso mi clave"), kType);
  EXPECT_EQ(infer_action_from_step("compruebo el saldo"), kVerify);
  EXPECT_EQ(infer_action_from_step("elijo Madrid"), "seleccionar una opción");
  EXPECT_EQ(infer_action_from_step("aguardo el aviso"), "esperar a que el elemento esté disponible");
  EXPECT_EQ(infer_action_from_step("extraigo el total"), kGet);
  EXPECT_EQ(infer_action_from_step("me desplazo al pie"), "hacer scroll hacia el elemento");
  EXPECT_EQ(infer_action_from_step("muevo el ratón"), kHover);
  EXPECT_EQ(infer_action_from_step("arrastro la tarjeta"), "arrastrar el elemento");
}

TEST(ActionInference, FirstMatchingGroupWinsAndMatchingIsBySubstring) {
  EXPECT_EQ(infer_action_from_step("I click the select box"), kClick);
  EXPECT_EQ(infer_action_from_step("the title should be shown"), kVerify);
  EXPECT_EQ(infer_action_from_step("I wait for the input to appear"), kType);
  EXPECT_EQ(infer_action_from_step("I open the target page"), kGet);  // tarGET
  EXPECT_EQ(infer_action_from_step("paso el mouse sobre el menú"), kHover);
  // "paso" alone, or the phrase with other blanks, is not the keyword.
  EXPECT_EQ(infer_action_from_step("paso  el mouse"), fallback("paso  el mouse"));
}

TEST(ActionInference, UpperCaseAndAccentedTextIsLoweredFirst) {
  EXPECT_EQ(infer_action_from_step("PRESIONO el botón Guardar"), kClick);
  EXPECT_EQ(infer_action_from_step("El total DEBERÍA ser 10"), kVerify);
  EXPECT_EQ(infer_action_from_step("el total debería ser 10"), kVerify);
  // Without the accent the word is a different text and does not match.
  EXPECT_EQ(infer_action_from_step("el total deberia ser 10"), fallback("el total deberia ser 10"));
}

TEST(ActionInference, FallbackKeepsTheTextAsWrittenCutTo80CodePoints) {
  EXPECT_EQ(infer_action_from_step("I See The Page"), fallback("I See The Page"));
  EXPECT_EQ(infer_action_from_step(""), fallback(""));

  std::string hundred(100, 'z');
  EXPECT_EQ(infer_action_from_step(hundred), fallback(std::string(80, 'z')));
  std::string eighty(80, 'n');
  EXPECT_EQ(infer_action_from_step(eighty), fallback(eighty));

  // 90 two-byte letters: the cut counts characters, never splits one.
  std::string accented;
  for (int i = 0; i < 90; ++i) accented += "ñ";
  std::string expected;
  for (int i = 0; i < 80; ++i) expected += "ñ";
  EXPECT_EQ(infer_action_from_step(accented), fallback(expected));
  EXPECT_EQ(tarvo::utf8_length(infer_action_from_step(accented)),
            tarvo::utf8_length(fallback(expected)));
}

TEST(NoBrowserTag, WholeTagEqualityAfterLowerCasing) {
  EXPECT_TRUE(is_no_browser_tag("no_browser"));
  EXPECT_TRUE(is_no_browser_tag("No_Browser"));
  EXPECT_TRUE(is_no_browser_tag("NO_BROWSER"));
  EXPECT_FALSE(is_no_browser_tag("no_browser_x"));
  EXPECT_FALSE(is_no_browser_tag("headless_no_browser"));
  EXPECT_FALSE(is_no_browser_tag("@no_browser"));
  EXPECT_FALSE(is_no_browser_tag(" no_browser"));
  EXPECT_FALSE(is_no_browser_tag(""));

  EXPECT_TRUE(has_no_browser_tag({"smoke", "NO_BROWSER"}));
  EXPECT_FALSE(has_no_browser_tag({"smoke", "no_browser_x"}));
  EXPECT_FALSE(has_no_browser_tag({}));
}
