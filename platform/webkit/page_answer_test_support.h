#pragma once
// For tests only: a page's answer to a script, waited for as an event.
//
// A synchronous evaluation gives up after `WebViewLimits::maxRunSeconds` (1 s) and answers
// "", a bound a healthy page on a loaded machine can pass while its process waits for a
// core. A test that reads a page's state wants the answer itself, however late it comes;
// only a page that never answers is a fault, and `seconds` bounds the wait against that.

#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/run_loop.h"
#include "platform/webkit/web_view.h"

namespace webkit::testing {

// The result as text, "" for undefined, null and errors (as the synchronous evaluation
// answers); "" too when the page has not answered within `seconds`.
inline std::string answerOf(WebView& view, std::string script, double seconds = 60) {
  struct Answer {
    bool done = false;
    std::optional<std::string> result;
  };
  // Shared with the completion, which may come after a wait that gave up.
  auto answer = std::make_shared<Answer>();
  view.evaluateJavaScript(std::move(script), [answer](std::optional<std::string> result, std::optional<std::string>) {
    answer->result = std::move(result);
    answer->done = true;
  });
  dispatch::RunLoop::main().runUntil([&] { return answer->done; }, seconds);
  return answer->done ? answer->result.value_or("") : "";
}

}  // namespace webkit::testing
