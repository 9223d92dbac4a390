// The healing loop and the page checks. Failures of page and provider calls
// arrive as PageError/ProviderError; they are turned into values inside the
// catch blocks and acted upon only after leaving them, because the bindings'
// console, logger and page calls run Python code (Playwright switches
// greenlets under these frames).
#include "core/healing/locmender.hpp"

#include "core/common/secrets.hpp"

#include <algorithm>

#include "core/common/text.hpp"
#include "core/healing/messages.hpp"

namespace tarvo::healing {

namespace {
constexpr const char* kBodyClassScript = "() => document.body.className";
constexpr const char* kInteractableScript = "el => !el.disabled && el.offsetHeight > 0";
}  // namespace

AiProvider* Locmender::get_provider(HealingIo& io) {
  if (AiProvider* p = io.providers.stored()) return p;
  AiProvider* created = nullptr;
  std::optional<std::string> disabled_by;
  try {
    created = io.providers.create(settings.model);
  } catch (const ProviderError& e) {
    if (!e.recoverable()) throw;
    disabled_by = e.what();
  }
  if (disabled_by) {
    io.log.warning(provider_init_failed(*disabled_by));
    settings.enabled = false;
    return nullptr;
  }
  return created;
}

std::string Locmender::capture_relevant_html(HealingIo& io, Page& page) {
  std::optional<std::string> error;
  std::string html;
  try {
    ScriptValue v = page.evaluate(std::string(kCaptureScript));
    if (v.kind != ScriptValue::Kind::Text)
      throw PageError(no_len_failure(v.type_name));
    // A page that mirrors what was typed into its password fields must not
    // hand the password to the model.
    html = truncate_html(secrets::mask_password_inputs(v.text), settings.max_html_length);
  } catch (const PageError& e) {
    error = e.what();
  }
  if (error) {
    io.log.warning(html_capture_failed(*error));
    return std::string(kCaptureErrorMarker);
  }
  return html;
}

std::optional<std::string> Locmender::call_ai(HealingIo& io, const std::string& prompt) {
  std::optional<std::string> error;
  std::optional<std::string> reply;
  try {
    AiProvider* provider = get_provider(io);
    if (!provider) return std::nullopt;
    ++ai_calls;
    reply = provider->generate(prompt, 0.1);
  } catch (const PageError& e) {
    error = e.what();
  } catch (const ProviderError& e) {
    error = e.what();
  }
  if (error) {
    io.log.error(provider_call_failed(*error));
    return std::nullopt;
  }
  if (!reply || reply->empty()) return std::nullopt;
  std::string cleaned = clean_ai_answer(*reply);
  if (to_upper(cleaned) == "NO_MATCH") {
    io.log.info(std::string(kNoMatchAnswer));
    return std::nullopt;
  }
  if (!cleaned.empty() && is_valid_selector(cleaned)) return cleaned;
  io.log.warning(invalid_selector_answer(cleaned));
  return std::nullopt;
}

bool Locmender::is_salesforce_page(Page& page) {
  try {
    if (url_is_salesforce(page.url())) return true;
    ScriptValue cls = page.evaluate(kBodyClassScript);
    return cls.kind == ScriptValue::Kind::Text && !cls.text.empty() && contains(to_lower(cls.text), "slds");
  } catch (const PageError&) {
    return false;
  }
}

bool Locmender::validate_salesforce_selector(HealingIo& io, Locator& locator) {
  long long count = 0;
  std::optional<std::string> count_error;
  try {
    count = locator.count();
  } catch (const PageError& e) {
    count_error = e.what();
  }
  if (count_error) {
    io.log.error(salesforce_count_failed(*count_error));
    return false;
  }
  if (count != 1) {
    io.log.warning(salesforce_not_unique(count));
    return false;
  }
  std::optional<std::string> eval_error;
  bool interactable = false;
  try {
    interactable = locator.evaluate(kInteractableScript).truthy;
  } catch (const PageError& e) {
    eval_error = e.what();
  }
  if (eval_error) {
    io.log.debug(interactable_check_failed(*eval_error));
    return true;
  }
  if (!interactable) {
    io.log.warning(std::string(kSalesforceNotInteractable));
    return false;
  }
  return true;
}

bool Locmender::verify_single_element(HealingIo& io, Page& page, const std::string& selector, Locator& locator) {
  verified_nth_index.reset();
  if (is_salesforce_page(page)) return validate_salesforce_selector(io, locator);
  std::optional<std::string> error;
  bool visible = false;
  try {
    visible = locator.is_visible();
  } catch (const PageError& e) {
    error = e.what();
  }
  if (error) {
    io.log.debug(visibility_check_failed(*error));
    return true;
  }
  if (visible) return true;
  io.log.warning(selector_not_visible(selector));
  return false;
}

bool Locmender::verify_selector(HealingIo& io, Page& page, const std::string& selector) {
  std::unique_ptr<Locator> locator;
  long long count = 0;
  std::optional<std::string> error;
  try {
    locator = page.locator(selector);
    count = locator->count();
  } catch (const PageError& e) {
    error = e.what();
  }
  if (!error) {
    if (count == 0) {
      io.log.warning(selector_matches_none(selector));
      return false;
    }
    if (count == 1) return verify_single_element(io, page, selector, *locator);
    io.log.info(selector_matches_many(selector, count));
    for (long long idx = 0; idx < 2 && idx < count && !error; ++idx) {
      std::unique_ptr<Locator> nth;
      try {
        nth = locator->nth(idx);
      } catch (const PageError& e) {
        error = e.what();
        break;
      }
      bool visible = false;
      try {
        visible = nth->is_visible();
      } catch (const PageError&) {
        continue;  // an element that cannot be asked is skipped
      }
      if (visible) {
        verified_nth_index = idx;
        io.log.info(using_visible_element(idx, count));
        return true;
      }
    }
    if (!error) {
      verified_nth_index = 0;
      io.log.warning(no_visible_element(count));
      return true;
    }
  }
  io.log.error(selector_check_failed(selector, *error));
  return false;
}

void Locmender::register_healing(HealingIo& io, const HealRequest& req, const std::string& suggested,
                                 const std::string& page_url, bool success) {
  HealingEntry e;
  e.timestamp = iso_timestamp(io.clock());
  e.feature = req.feature_name;
  e.scenario = req.scenario_name;
  e.step = req.step_text;
  e.element_name = req.element_name;
  e.action = req.action_context;
  e.original_selector = req.failed_selector;
  e.suggested_selector = suggested;
  e.page_url = page_url;
  e.success = success;
  io.sink.append(e);
}

std::optional<std::string> Locmender::attempt_heal(HealingIo& io, Page& page, const HealRequest& req) {
  if (!settings.enabled) return std::nullopt;
  const std::string cache_key = req.failed_selector + "|" + page.url();
  if (const std::string* cached = cache.find(cache_key)) {
    std::string selector = *cached;
    io.log.info(using_cached_selector(selector));
    return selector;
  }
  if (!get_provider(io)) return std::nullopt;

  // An excerpt chosen by the caller (the page around the elements nearest the
  // element's last known look) replaces the body's first characters.
  const std::string html =
      req.html_excerpt ? truncate_html(*req.html_excerpt, settings.max_html_length) : capture_relevant_html(io, page);
  std::vector<FailedAttempt> failed_attempts;
  const long long max_ai_attempts = settings.max_retries + 1;
  io.console.print(searching_alternative(max_ai_attempts));

  long long attempt = 0;
  std::optional<std::string> verified;
  while (attempt < max_ai_attempts) {
    ++attempt;
    PromptContext ctx{req.failed_selector, req.element_name, req.action_context, req.step_text,
                      req.scenario_name,   req.feature_name, page.url(),         page.title(),
                      html};
    std::string prompt = failed_attempts.empty() ? build_prompt(ctx) : build_retry_prompt(ctx, failed_attempts);
    io.console.print(ai_call_line(attempt));
    std::optional<std::string> suggested = call_ai(io, prompt);
    if (!suggested || suggested->empty()) {
      io.console.print(std::string(kNoSuggestion));
      break;
    }
    io.console.print(suggestion_line(*suggested));

    const auto* rejected = failed_suggestions.find(cache_key);
    if (rejected && std::find(rejected->begin(), rejected->end(), *suggested) != rejected->end()) {
      io.console.print(std::string(kAlreadyRejected));
      failed_attempts.push_back({*suggested, std::string(kRejectedEarlier)});
      continue;
    }

    std::optional<std::string> vetoed;
    if (verify_selector(io, page, *suggested)) {
      // The owner's own checks (kind of element, likeness to the lost one) may
      // still refuse it; the reason then goes back to the model like any other.
      if (req.veto) {
        std::string candidate = *suggested;
        if (verified_nth_index) candidate += " >> nth=" + std::to_string(*verified_nth_index);
        vetoed = req.veto(candidate);
      }
      if (!vetoed) {
        verified = suggested;
        break;
      }
    }

    std::string reason;
    if (vetoed) {
      reason = *vetoed;
    } else {
      long long count = 0;
      try {
        count = page.locator(*suggested)->count();
      } catch (const PageError&) {
        count = 0;
      }
      reason = count == 0  ? std::string(kNoElementsFound)
               : count > 1 ? elements_found_none_visible(count)
                           : std::string(kFoundNotInteractable);
    }
    failed_attempts.push_back({*suggested, reason});
    io.console.print(rejected_line(reason));
    failed_suggestions[cache_key].push_back(*suggested);
    register_healing(io, req, *suggested, page.url(), false);
    if (attempt < max_ai_attempts) io.console.print(std::string(kAskingAlternative));
  }

  if (!verified) {
    if (settings.log_suggestions && !failed_attempts.empty()) {
      io.console.print(no_valid_selector(attempt));
      io.console.print(original_selector_line(req.failed_selector));
      io.console.print(std::string(kFailedAttemptsHeading));
      for (const auto& f : failed_attempts) io.console.print(failed_attempt_line(f.selector, f.reason));
      io.console.print(std::string(kCheckPageLoaded));
    }
    return std::nullopt;
  }

  const std::optional<long long> index = verified_nth_index;
  std::string final_selector = *verified;
  if (index) final_selector += " >> nth=" + std::to_string(*index);
  register_healing(io, req, final_selector, page.url(), true);
  cache[cache_key] = final_selector;
  if (settings.log_suggestions) {
    io.console.print(std::string(kHealedHeading));
    io.console.print(healed_original_line(req.failed_selector));
    io.console.print(healed_suggested_line(final_selector));
    io.console.print(healed_element_line(req.element_name));
    io.console.print(healed_action_line(req.action_context));
    if (attempt > 1) io.console.print(resolved_in_attempt(attempt));
    if (index) io.console.print(using_nth_visible(*index));
    io.console.print(std::string(kSelectorVerified));
  }
  return final_selector;
}

}  // namespace tarvo::healing
