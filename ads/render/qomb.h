#pragma once
// Bridge messages from pages: a page sends one by navigating to a "qomb" URL
// (qomb://<any host>/<name>?<key>=<value>&...). QMANotification is one parsed message,
// QMAQOMBHandler the base of every handler (a handler claims the names of its class's
// action table), and the two posting functions re-post a message as an ordinary
// notification.
//
// Threads: notifications are immutable and may be made anywhere; action tables are built
// once and never change; actions run on the thread that offers the message (the main
// thread in practice). The delayed post always posts on the main thread.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/notification_center.h"
#include "platform/foundation/value.h"
#include "platform/net/http.h"
#include "platform/net/url.h"

class QMAAdView;

class QMANotification {
 public:
  // Whether the URL's scheme, in lower case, is "qomb". No for no URL.
  static bool isNotificationURL(const std::optional<net::URL>& url);
  // Null unless the URL is a message URL with a name (its path without the leading "/").
  static std::shared_ptr<QMANotification> initWithNotificationURL(const std::optional<net::URL>& url);
  // Null for a missing or empty name; missing parameters are an empty dictionary.
  static std::shared_ptr<QMANotification> initWithNameParameters(const std::optional<std::string>& name,
                                                                 const std::optional<foundation::Dictionary>& parameters);

  const std::string& name() const { return name_; }
  // String values only.
  const foundation::Dictionary& parameters() const { return parameters_; }
  // The parameter's text, or nullopt when absent.
  std::optional<std::string> parameter(std::string_view key) const;
  // "<QMANotification: 0x...> name:<name> parameters:<parameters>"
  std::string description() const;

 private:
  QMANotification(std::string name, foundation::Dictionary parameters)
      : name_(std::move(name)), parameters_(std::move(parameters)) {}
  std::string name_;
  foundation::Dictionary parameters_;
};

// What an action is given: the ad view the message came from and the message; either
// may be absent (an "adView" or "note" entry left out).
struct QMAQOMBArguments {
  std::shared_ptr<QMAAdView> adView;
  std::shared_ptr<QMANotification> note;
};

class QMAQOMBHandler;
using QMAQOMBAction = std::function<void(QMAQOMBHandler&, const QMAQOMBArguments&)>;
using QMAActionBlockDictionary = std::map<std::string, QMAQOMBAction, std::less<>>;

class QMAQOMBHandler : public std::enable_shared_from_this<QMAQOMBHandler> {
 public:
  virtual ~QMAQOMBHandler() = default;

  // The action table of the handler's class, built once per process; null for the
  // base, which claims nothing. Names compare exactly, case included.
  virtual const QMAActionBlockDictionary* actionBlockDictionary() const { return nullptr; }

  // A message request: builds the message and answers as handleNotification does; NO
  // for any other URL.
  bool handleRequestAdView(const net::URLRequest& request, const std::shared_ptr<QMAAdView>& adView);
  // Runs the action of the message's name at once and answers YES; NO when the table
  // has no such name.
  bool handleNotificationAdView(const std::shared_ptr<QMANotification>& note, const std::shared_ptr<QMAAdView>& adView);
};

// Posts the message as a notification named after it, with `object` and the message's
// parameters as user info, on the calling thread. Nothing for a URL that is no message.
void qma_postNotificationFromURLObject(foundation::NotificationCenter& center, const std::optional<net::URL>& url,
                                       std::shared_ptr<void> object);
// The same after `delay` seconds (a negative delay counts as 0) by way of the main
// queue and then the main operation queue: never before the caller returns.
void qma_postNotificationFromURLObjectWithDelay(foundation::NotificationCenter& center,
                                                const std::optional<net::URL>& url, std::shared_ptr<void> object,
                                                double delay);
