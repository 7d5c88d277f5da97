#pragma once
// The general pasteboard: one text shared by the process, as copy and paste see it.

#include <optional>
#include <string>

namespace uikit {

class Pasteboard {
 public:
  static Pasteboard& generalPasteboard();
  std::optional<std::string> string() const;
  void setString(std::optional<std::string> text);

 private:
  std::optional<std::string> text_;
};

}  // namespace uikit
