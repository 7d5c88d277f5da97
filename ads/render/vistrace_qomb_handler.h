#pragma once
// The SDK-core page's viewability messages: "visibilityChanged" (hashCode, isVisible) and
// "untrackVistraceUnit" (hashCode) become calls on the delegate, the SDK-core web view.
// Actions run on the thread that offers the message (main).

#include <cstdint>
#include <memory>

#include "ads/render/qomb.h"

class QMAVistraceQOMBHandler;

class QMAVistraceQOMBHandlerDelegate {
 public:
  virtual ~QMAVistraceQOMBHandlerDelegate() = default;
  virtual void vistraceQOMBHandlerDidReceiveVisibilityNotificationForVistraceID(QMAVistraceQOMBHandler&, bool visible,
                                                                              std::uint64_t vistraceID) = 0;
  virtual void vistraceQOMBHandlerDidReceiveUntrackNotificationForVistraceID(QMAVistraceQOMBHandler&,
                                                                           std::uint64_t vistraceID) = 0;
};

class QMAVistraceQOMBHandler : public QMAQOMBHandler {
 public:
  const QMAActionBlockDictionary* actionBlockDictionary() const override;
  std::shared_ptr<QMAVistraceQOMBHandlerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<QMAVistraceQOMBHandlerDelegate> d) { delegate_ = std::move(d); }

  void didReceiveVistraceUntrackVistraceNotification(const QMAQOMBArguments& arguments);
  void didReceiveVistraceVisibilityChangedNotification(const QMAQOMBArguments& arguments);

 private:
  std::weak_ptr<QMAVistraceQOMBHandlerDelegate> delegate_;
};

// The integer value of a text as the platform reads it: optional blanks, a sign, digits;
// 0 when there are none; clamped to the 64-bit range.
long long QMAIntegerValue(const std::string& text);
