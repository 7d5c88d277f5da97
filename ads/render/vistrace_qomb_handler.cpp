#include "ads/render/vistrace_qomb_handler.h"

#include <cctype>
#include <limits>

long long QMAIntegerValue(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    const int d = text[i] - '0';
    if (value > (std::numeric_limits<long long>::max() - d) / 10)
      return negative ? std::numeric_limits<long long>::min() : std::numeric_limits<long long>::max();
    value = value * 10 + d;
  }
  return negative ? -value : value;
}

const QMAActionBlockDictionary* QMAVistraceQOMBHandler::actionBlockDictionary() const {
  static const QMAActionBlockDictionary table = {
      {"untrackVistraceUnit",
       [](QMAQOMBHandler& h, const QMAQOMBArguments& a) {
         static_cast<QMAVistraceQOMBHandler&>(h).didReceiveVistraceUntrackVistraceNotification(a);
       }},
      {"visibilityChanged",
       [](QMAQOMBHandler& h, const QMAQOMBArguments& a) {
         static_cast<QMAVistraceQOMBHandler&>(h).didReceiveVistraceVisibilityChangedNotification(a);
       }},
  };
  return &table;
}

void QMAVistraceQOMBHandler::didReceiveVistraceUntrackVistraceNotification(const QMAQOMBArguments& arguments) {
  if (!arguments.note) return;
  auto hash = arguments.note->parameter("hashCode");
  auto d = delegate();
  if (!hash || !d) return;
  d->vistraceQOMBHandlerDidReceiveUntrackNotificationForVistraceID(*this,
                                                                  static_cast<std::uint64_t>(QMAIntegerValue(*hash)));
}

void QMAVistraceQOMBHandler::didReceiveVistraceVisibilityChangedNotification(const QMAQOMBArguments& arguments) {
  if (!arguments.note) return;
  auto hash = arguments.note->parameter("hashCode");
  auto visible = arguments.note->parameter("isVisible");
  auto d = delegate();
  if (!hash || !visible || !d) return;
  d->vistraceQOMBHandlerDidReceiveVisibilityNotificationForVistraceID(
      *this, *visible == "1", static_cast<std::uint64_t>(QMAIntegerValue(*hash)));
}
