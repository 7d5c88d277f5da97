#pragma once
// The web view as the rest of the interface sees it: a view that shows a document and
// evaluates scripts in it. This base keeps the loaded HTML and answers the one script
// every caller outside the web layer relies on, "document.body.innerText" (the body's
// rendered text); a scripting engine extends it by overriding the evaluation.

#include <string>
#include <string_view>

#include "platform/uikit/view.h"

namespace uikit {

class WebView : public View {
 public:
  using View::View;
  std::string className() const override { return "WebView"; }

  virtual void loadHTMLString(std::string html) { html_ = std::move(html); }
  const std::string& html() const { return html_; }

  // The script's result as text; "" for a script this view cannot run.
  virtual std::string stringByEvaluatingJavaScriptFromString(std::string_view script);

  // The text a reader sees in the body of `html`: tags dropped, scripts and styles left
  // out, block elements and <br> on lines of their own, white space collapsed, the
  // common character references decoded.
  static std::string innerTextOfHTML(std::string_view html);
  // `text` with its character references decoded: the named ones pages use most, decimal
  // and hexadecimal ones; a reference to U+0000 or past Unicode reads as U+FFFD.
  static std::string decodeCharacterReferences(std::string_view text);

 private:
  std::string html_;
};

}  // namespace uikit
