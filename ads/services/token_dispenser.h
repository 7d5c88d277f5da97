#pragma once
// Signed-in ads: the user the optional sign-in library reports, and the dispenser that
// turns the user's refresh token into OAuth 2.0 access tokens, caches them per user,
// renews them before they expire and drops them when the ad server calls them stale.
//
// The sign-in library is never linked; it is found by name in the runtime registry:
//   "RZISignIn"         class: sharedInstance -> Id, supportsCurrentUserKVO -> bool
//                       instances: clientID -> optional<string>, currentUser -> Id,
//                       addObserverForKeyPath(keyPath, onChange) -> int64 token,
//                       removeObserverForKeyPath(token) (its key-value observation)
//   "RZIQuillonUser"    instances: authentication -> Id
//   "RZIAuthentication" instances: idToken, refreshToken -> optional<string>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ads/services/scheduler.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/foundation/value.h"
#include "platform/runtime/runtime.h"

// The sign-in object, or null when no class of the library qualifies. The search runs
// once per process.
runtime::Id QMARZISignInInstance();
// Makes the next call search again (tests register and drop the library).
void QMAForgetRZISignInLookup();

class QMASignedInUser {
 public:
  // The user now signed in, or null when signed-in ads cannot be served for anyone.
  static std::shared_ptr<const QMASignedInUser> init();
  QMASignedInUser(std::string issuer, std::string userID, std::string applicationID, std::string refreshToken)
      : issuer_(std::move(issuer)), userID_(std::move(userID)), applicationID_(std::move(applicationID)),
        refreshToken_(std::move(refreshToken)) {}

  const std::string& issuer() const { return issuer_; }
  const std::string& userID() const { return userID_; }
  const std::string& applicationID() const { return applicationID_; }
  const std::string& refreshToken() const { return refreshToken_; }

  // The same person: issuer and user id.
  bool isEqual(const QMASignedInUser& other) const { return issuer_ == other.issuer_ && userID_ == other.userID_; }
  std::size_t hash() const { return std::hash<std::string>()(issuer_) ^ std::hash<std::string>()(userID_); }

 private:
  std::string issuer_, userID_, applicationID_, refreshToken_;
};
using QMASignedInUserPtr = std::shared_ptr<const QMASignedInUser>;

struct QMATokenCacheEntry {
  std::string token;
  foundation::Date lastAccess;
  foundation::Date expiration;
  double lifespanInSeconds = 0;
};

class QMATokenDispenser : public std::enable_shared_from_this<QMATokenDispenser> {
 public:
  static constexpr const char* kEnableKey = "/quillon/ads/enable_signed_in_ads";
  static constexpr const char* kMinimumLifespanKey = "/quillon/ads/minimum_signed_in_ads_token_lifespan";

  static std::shared_ptr<QMATokenDispenser> sharedInstance();
  // A dispenser of its own (the shared one is made this way); it follows the sign-in
  // library from the main thread.
  static std::shared_ptr<QMATokenDispenser> create();
  ~QMATokenDispenser();

  // The current user's access token. Blocks until the dispenser's queue is idle; never
  // call it from that queue. The first call for a user answers nullopt and asks for one.
  std::optional<std::string> token();
  // The ad server called the token stale: ask again for its user.
  void refreshToken(const std::string& token);

  // The token endpoint and the scope the tokens are for.
  static std::string tokenEndpointURL();
  static std::string displayAdsScope();
  // The form body of a token request.
  static std::string tokenRequestBody(const QMASignedInUser& user);

  // Read on the dispenser's queue (for tests and diagnostics).
  std::optional<QMATokenCacheEntry> cacheEntryForUser(const QMASignedInUser& user);
  double minLifespan();
  std::shared_ptr<QMATimer> refreshTimer();
  QMASignedInUserPtr currentUser();

  // The internal steps; each runs as an operation of the dispenser's queue.
  void setCurrentUser(QMASignedInUserPtr user);

 private:
  QMATokenDispenser();
  void registerObservers();

  // Called on the queue only.
  struct Cached {
    QMASignedInUserPtr user;
    QMATokenCacheEntry entry;
  };
  Cached* findEntry(const QMASignedInUser& user);
  void setCacheEntryForUser(QMATokenCacheEntry entry, const QMASignedInUserPtr& user);
  void removeCacheEntryForUser(const QMASignedInUser& user);
  void requestTokenForUser(const QMASignedInUserPtr& user);
  void cacheTokenFromResponseData(const foundation::Bytes& data, const QMASignedInUserPtr& user, bool connectionError);
  void refreshTokens();
  void rescheduleRefreshes();
  void rescheduleNow();

  std::vector<Cached> cachedTokens_;
  std::map<std::string, QMASignedInUserPtr> cachedTokenUsers_;
  std::shared_ptr<dispatch::OperationQueue> tokenRequestQueue_;
  QMASignedInUserPtr currentUser_;
  bool fullyInitialized_ = false;
  std::shared_ptr<QMATimer> refreshTimer_;
  double minLifespan_ = 3600;
  runtime::Id observedSignIn_;
  std::vector<std::int64_t> observations_;
};
