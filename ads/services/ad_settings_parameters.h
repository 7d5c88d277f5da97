#pragma once
// Identifiers of the optional analytics library, for ad requests and click tracking: its
// client id and the id of the screen it is tracking. The library is never linked; its
// classes are found by name in the runtime registry and are simply absent otherwise.

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/queue.h"
#include "platform/runtime/runtime.h"

class QMAAdSettingsParameters {
 public:
  static QMAAdSettingsParameters& sharedInstance();

  bool settingsServiceEnabled() const { return settingsServiceEnabled_; }
  void setSettingsServiceEnabled(bool enabled) { settingsServiceEnabled_ = enabled; }

  // Copies the library's client id (asynchronously, on the settings queue).
  void updateClientID();
  // The last client id copied; nullopt while the switch is off.
  std::optional<std::string> clientID() const;
  // The current screen's id as decimal text; nullopt while the switch is off or without
  // the library.
  static std::optional<std::string> currentHitID();

  // Whether the library's screen views can be named (its class "WJQScreenViewInfo" exists
  // and its instances answer `screenName`); looked up once per process.
  static bool screenViewsAnswerScreenName();
  // Names the analytics screen a controller shows, through the library's category on
  // controllers (`wjq_screenView`, then `setScreenName:` on what it answers), while the
  // switch is on and the library is there; otherwise nothing.
  static void nameScreenOfController(const runtime::Id& controller, const std::string& name);

  // The library's classes are looked up once per process; tests that register or drop
  // them afterwards make the next use look again.
  static void forgetLibraryLookups();

 private:
  QMAAdSettingsParameters();

  dispatch::QueuePtr lockQueue_;
  bool settingsServiceEnabled_ = false;
  std::optional<std::string> clientID_;
};
