// Pure text rules of the self-healing manager: the selector gate, AI answer
// cleaning, HTML capture and truncation, prompts. (Its console and log
// texts: messages.hpp; its settings: healing_settings.hpp; the local clock:
// core/common/local_time.hpp.)
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>


namespace tarvo::healing {

// URL fragments that mark a Salesforce org: the main domain (classic and
// my-domain hosts) and the Lightning Experience domain.
inline constexpr std::string_view kSalesforceDomain = "salesforce.com";
inline constexpr std::string_view kLightningDomain = "lightning.force.com";
bool url_is_salesforce(std::string_view url);

// Longest selector (in characters) an AI answer may be. Real CSS selectors and
// XPaths for one element are a few dozen characters, rarely a few hundred; a
// longer answer is the model going astray, and accepting it would print it,
// store it in the healing log and send it back in every retry prompt.
inline constexpr std::size_t kMaxSelectorLength = 1000;

// Textual gate for AI answers: XPath passes, prose, URLs and answers longer
// than kMaxSelectorLength do not.
bool is_valid_selector(std::string_view selector);

// First line of the answer without code fences, backticks or outer blanks.
std::string clean_ai_answer(std::string_view reply);

// Page script returning the cleaned inner HTML of a body clone.
inline constexpr std::string_view kCaptureScript = R"JS(() => {
    const clone = document.body.cloneNode(true);
    clone.querySelectorAll('script, style, noscript, svg, link[rel=stylesheet]').forEach(el => el.remove());
    clone.querySelectorAll('[data-gtm-click], [data-analytics]').forEach(el => {
        el.removeAttribute('data-gtm-click');
        el.removeAttribute('data-analytics');
    });
    return clone.innerHTML;
})JS";
// What the model is shown instead of the page when the capture fails.
inline constexpr std::string_view kCaptureErrorMarker = "<error>No se pudo capturar el HTML de la página</error>";
inline constexpr std::string_view kTruncationMarker =
    "\n<!-- [HTML TRUNCADO - se muestran los primeros elementos] -->";
// Cuts html to max_length characters (code points) and appends the marker.
std::string truncate_html(const std::string& html, long long max_length);

struct PromptContext {
  std::string failed_selector, element_name, action_context, step_text, scenario_name,
      feature_name, page_url, page_title, html_content;
};
struct FailedAttempt {
  std::string selector;
  std::string reason;
};
std::string build_prompt(const PromptContext& c);
std::string build_retry_prompt(const PromptContext& c, const std::vector<FailedAttempt>& failed);

}  // namespace tarvo::healing
