#pragma once
// A scrolling, optionally editable text view: a view that holds a text.

#include <string>

#include "platform/uikit/view.h"

namespace uikit {

class TextView : public View {
 public:
  using View::View;
  std::string className() const override { return "TextView"; }

  const std::string& text() const { return text_; }
  void setText(std::string text) { text_ = std::move(text); }
  bool isEditable() const { return editable_; }
  void setEditable(bool editable) { editable_ = editable; }

 private:
  std::string text_;
  bool editable_ = true;
};

}  // namespace uikit
