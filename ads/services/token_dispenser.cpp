#include "ads/services/token_dispenser.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>

#include "ads/services/string_encoding.h"
#include "ads/services/utilities.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/ad_network.h"
#include "platform/net/connection.h"
#include "platform/system/device_facts.h"

namespace {

std::mutex signInLock;
std::optional<runtime::ClassRef> signInClass;

runtime::ClassRef findSignInClass() {
  auto signIn = runtime::objc_getClass("RZISignIn");
  auto user = runtime::objc_getClass("RZIQuillonUser");
  auto auth = runtime::objc_getClass("RZIAuthentication");
  if (!signIn || !user || !auth) return nullptr;
  if (!signIn->respondsToClassSelector("sharedInstance") || !signIn->respondsToClassSelector("supportsCurrentUserKVO") ||
      !signIn->instancesRespondToSelector("clientID") || !signIn->instancesRespondToSelector("currentUser") ||
      !user->instancesRespondToSelector("authentication") || !auth->instancesRespondToSelector("idToken") ||
      !auth->instancesRespondToSelector("refreshToken")) {
    return nullptr;
  }
  try {
    return runtime::msgSendClass<bool()>(signIn, "supportsCurrentUserKVO") ? signIn : nullptr;
  } catch (const runtime::UnrecognizedSelector&) {
    return nullptr;
  }
}

std::optional<std::string> stringMessage(const runtime::Id& object, std::string_view selector) {
  try {
    return runtime::msgSend<std::optional<std::string>()>(object, selector);
  } catch (const runtime::UnrecognizedSelector&) {
    return std::nullopt;
  }
}

runtime::Id objectMessage(const runtime::Id& object, std::string_view selector) {
  try {
    return runtime::msgSend<runtime::Id()>(object, selector);
  } catch (const runtime::UnrecognizedSelector&) {
    return nullptr;
  }
}

double now() { return foundation::Clock::now(); }

// "expires_in" as a number of seconds: a number, or text that is wholly a number.
std::optional<double> secondsOf(const foundation::Value* v) {
  if (!v) return std::nullopt;
  if (v->isNumber()) return v->doubleValue();
  if (const auto* s = v->asString()) {
    if (s->empty()) return std::nullopt;
    char* end = nullptr;
    const double d = std::strtod(s->c_str(), &end);
    if (end && *end == '\0' && std::isfinite(d)) return d;
  }
  return std::nullopt;
}

}  // namespace

runtime::Id QMARZISignInInstance() {
  runtime::ClassRef cls;
  {
    std::lock_guard lock(signInLock);
    if (!signInClass) signInClass = findSignInClass();
    cls = *signInClass;
  }
  if (!cls) return nullptr;
  try {
    return runtime::msgSendClass<runtime::Id()>(cls, "sharedInstance");
  } catch (const runtime::UnrecognizedSelector&) {
    return nullptr;
  }
}

void QMAForgetRZISignInLookup() {
  std::lock_guard lock(signInLock);
  signInClass.reset();
}

QMASignedInUserPtr QMASignedInUser::init() {
  if (!system_facts::device().advertisingTrackingEnabled) return nullptr;
  if (!foundation::UserDefaults::standardUserDefaults()->boolForKey(QMATokenDispenser::kEnableKey)) return nullptr;
  auto signIn = QMARZISignInInstance();
  if (!signIn) return nullptr;
  auto clientID = stringMessage(signIn, "clientID");
  if (!clientID) return nullptr;
  auto authentication = objectMessage(objectMessage(signIn, "currentUser"), "authentication");
  auto idToken = stringMessage(authentication, "idToken");
  if (!idToken) return nullptr;
  std::vector<std::string_view> parts;
  std::string_view rest(*idToken);
  for (;;) {
    const size_t dot = rest.find('.');
    parts.push_back(rest.substr(0, dot));
    if (dot == std::string_view::npos) break;
    rest.remove_prefix(dot + 1);
  }
  if (parts.size() != 3) return nullptr;
  static const auto websafe = QMA_KLVStringEncoding::rfc4648Base64WebsafeStringEncoding();
  auto payload = websafe->stringByDecoding(parts[1]);
  if (!payload) return nullptr;
  auto claims = qma_decodedJSONObjectError(*payload);
  const foundation::Dictionary* dict = claims ? claims->asDictionary() : nullptr;
  if (!dict) return nullptr;
  const std::string* issuer = foundation::stringForKey(*dict, "iss");
  const std::string* subject = foundation::stringForKey(*dict, "sub");
  if (!issuer || !subject) return nullptr;
  auto refreshToken = stringMessage(authentication, "refreshToken");
  if (!refreshToken) return nullptr;
  return std::make_shared<const QMASignedInUser>(*issuer, *subject, *clientID, *refreshToken);
}

// ---- QMATokenDispenser

QMATokenDispenser::QMATokenDispenser()
    : tokenRequestQueue_(dispatch::OperationQueue::create("com.quillon.pelmark.token-dispenser", 1)) {}

std::shared_ptr<QMATokenDispenser> QMATokenDispenser::sharedInstance() {
  // Never destroyed: blocks still running on other threads while the process exits may reach it.
  static const auto* dispenser = new std::shared_ptr<QMATokenDispenser>(create());
  return *dispenser;
}

std::shared_ptr<QMATokenDispenser> QMATokenDispenser::create() {
  auto dispenser = std::shared_ptr<QMATokenDispenser>(new QMATokenDispenser());
  std::weak_ptr<QMATokenDispenser> weak = dispenser;
  QMARunOnMainThread([weak] {
    if (auto self = weak.lock()) {
      self->setCurrentUser(QMASignedInUser::init());
      self->registerObservers();
    }
  });
  return dispenser;
}

QMATokenDispenser::~QMATokenDispenser() {
  if (fullyInitialized_ && observedSignIn_) {
    for (auto token : observations_) {
      try {
        runtime::msgSend<void(std::int64_t)>(observedSignIn_, "removeObserverForKeyPath", token);
      } catch (const runtime::UnrecognizedSelector&) {
      }
    }
  }
  if (refreshTimer_) refreshTimer_->invalidate();
}

void QMATokenDispenser::registerObservers() {
  observedSignIn_ = QMARZISignInInstance();
  if (observedSignIn_) {
    std::weak_ptr<QMATokenDispenser> weak = weak_from_this();
    auto onChange = std::function<void()>([weak] {
      QMARunOnMainThread([weak] {
        if (auto self = weak.lock()) self->setCurrentUser(QMASignedInUser::init());
      });
    });
    for (const char* keyPath : {"currentUser", "clientID"}) {
      try {
        observations_.push_back(runtime::msgSend<std::int64_t(std::string, std::function<void()>)>(
            observedSignIn_, "addObserverForKeyPath", std::string(keyPath), onChange));
      } catch (const runtime::UnrecognizedSelector&) {
      }
    }
  }
  fullyInitialized_ = true;
}

void QMATokenDispenser::setCurrentUser(QMASignedInUserPtr user) {
  std::weak_ptr<QMATokenDispenser> weak = weak_from_this();
  tokenRequestQueue_->addOperationWithBlock([weak, user] {
    auto self = weak.lock();
    if (!self) return;
    self->currentUser_ = user;
    // The same person signed in again (a new refresh token, or a new client id): the
    // token in hand stays theirs, and its renewals use what they signed in with now.
    if (user) {
      if (auto* c = self->findEntry(*user)) {
        c->user = user;
        self->cachedTokenUsers_[c->entry.token] = user;
      }
    }
    // Tokens of anyone but the current user are dropped, so nobody who signed out keeps
    // being renewed at the token endpoint.
    std::vector<QMASignedInUserPtr> others;
    for (const auto& c : self->cachedTokens_) {
      if (!user || !c.user->isEqual(*user)) others.push_back(c.user);
    }
    for (const auto& other : others) self->removeCacheEntryForUser(*other);
    if (others.size() && self->cachedTokens_.empty()) self->rescheduleRefreshes();
    if (user && !self->findEntry(*user)) self->requestTokenForUser(user);
  });
}

std::optional<std::string> QMATokenDispenser::token() {
  auto result = std::make_shared<std::optional<std::string>>();
  std::weak_ptr<QMATokenDispenser> weak = weak_from_this();
  tokenRequestQueue_->addOperationWithBlock([weak, result] {
    auto self = weak.lock();
    if (!self || !self->currentUser_) return;
    if (auto* c = self->findEntry(*self->currentUser_)) {
      c->entry.lastAccess = foundation::Date{now()};
      *result = c->entry.token;
    }
    if (!*result) self->requestTokenForUser(self->currentUser_);
  });
  tokenRequestQueue_->waitUntilAllOperationsAreFinished();
  return *result;
}

void QMATokenDispenser::refreshToken(const std::string& token) {
  std::weak_ptr<QMATokenDispenser> weak = weak_from_this();
  tokenRequestQueue_->addOperationWithBlock([weak, token] {
    auto self = weak.lock();
    if (!self) return;
    auto it = self->cachedTokenUsers_.find(token);
    if (it == self->cachedTokenUsers_.end()) return;
    auto user = it->second;
    self->removeCacheEntryForUser(*user);
    self->requestTokenForUser(user);
  });
}

QMATokenDispenser::Cached* QMATokenDispenser::findEntry(const QMASignedInUser& user) {
  for (auto& c : cachedTokens_) {
    if (c.user->isEqual(user)) return &c;
  }
  return nullptr;
}

void QMATokenDispenser::setCacheEntryForUser(QMATokenCacheEntry entry, const QMASignedInUserPtr& user) {
  if (!user || entry.token.empty()) return;
  cachedTokenUsers_[entry.token] = user;
  if (auto* c = findEntry(*user)) {
    c->entry = std::move(entry);
  } else {
    cachedTokens_.push_back({user, std::move(entry)});
  }
}

void QMATokenDispenser::removeCacheEntryForUser(const QMASignedInUser& user) {
  for (auto it = cachedTokens_.begin(); it != cachedTokens_.end(); ++it) {
    if (it->user->isEqual(user)) {
      cachedTokenUsers_.erase(it->entry.token);
      cachedTokens_.erase(it);
      return;
    }
  }
}

std::string QMATokenDispenser::tokenEndpointURL() { return net::adNetworkURL("/oauth2/v3/token"); }
std::string QMATokenDispenser::displayAdsScope() { return net::adNetworkURL("/auth/display_ads"); }

std::string QMATokenDispenser::tokenRequestBody(const QMASignedInUser& user) {
  // Keys in case-insensitive order.
  const std::pair<const char*, std::string> pairs[] = {
      {"client_id", user.applicationID()},
      {"grant_type", "refresh_token"},
      {"refresh_token", user.refreshToken()},
      {"scope", displayAdsScope()},
  };
  std::string body;
  for (const auto& [key, value] : pairs) {
    body += (body.empty() ? "" : "&") + net::percentEscape(key) + "=" + net::percentEscape(value);
  }
  return body;
}

void QMATokenDispenser::requestTokenForUser(const QMASignedInUserPtr& user) {
  if (!user || user->applicationID().empty() || user->refreshToken().empty()) return;
  auto url = net::URL::fromString(tokenEndpointURL());
  if (!url) return;
  net::URLRequest request(*url);
  request.method = "POST";
  request.headers.set("Content-Type", "application/x-www-form-urlencoded");
  const std::string body = tokenRequestBody(*user);
  request.body = foundation::Bytes(body.begin(), body.end());
  std::weak_ptr<QMATokenDispenser> weak = weak_from_this();
  auto queue = tokenRequestQueue_;
  net::sendAsynchronousRequest(
      std::move(request), [queue](std::function<void()> block) { queue->addOperationWithBlock(std::move(block)); },
      [weak, user](net::URLResponsePtr, net::Bytes data, std::optional<foundation::Error> error) {
        if (auto self = weak.lock()) self->cacheTokenFromResponseData(data, user, error.has_value());
      });
}

void QMATokenDispenser::cacheTokenFromResponseData(const foundation::Bytes& data, const QMASignedInUserPtr& user,
                                                   bool connectionError) {
  if (connectionError) return;
  // An answer for someone who is no longer signed in is not kept.
  if (!currentUser_ || !currentUser_->isEqual(*user)) return;
  // The token being replaced goes from the reverse map too: a stale report of it later
  // must not drop the token that replaced it, and renewals must not pile up lines.
  removeCacheEntryForUser(*user);
  auto json = qma_decodedJSONObjectError(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  const foundation::Dictionary* dict = json ? json->asDictionary() : nullptr;
  const std::string* accessToken = dict ? foundation::stringForKey(*dict, "access_token") : nullptr;
  if (!accessToken) return;

  QMATokenCacheEntry entry;
  entry.token = *accessToken;
  entry.lastAccess = foundation::Date{now()};
  double lifespan;
  if (auto expiresIn = secondsOf(dict->count("expires_in") ? &dict->at("expires_in") : nullptr)) {
    double minimum = foundation::UserDefaults::standardUserDefaults()->doubleForKey(kMinimumLifespanKey);
    if (!(minimum > 0)) minimum = 60;
    lifespan = std::max(*expiresIn, minimum);
  } else {
    lifespan = cachedTokens_.empty() ? 3600 : minLifespan_;
  }
  entry.lifespanInSeconds = lifespan;
  entry.expiration = foundation::Date{now() + lifespan};
  if (lifespan < minLifespan_) {
    refreshTokens();
    minLifespan_ = lifespan;
    rescheduleRefreshes();
  } else if (!refreshTimer_ || !refreshTimer_->isValid()) {
    // A cache that is about to hold a token always has a refresh schedule, set by the
    // shortest lifespan in it.
    minLifespan_ = lifespan;
    rescheduleRefreshes();
  }
  // Kept for the user as now signed in (the request may have gone out under an older
  // sign-in of the same person).
  setCacheEntryForUser(std::move(entry), currentUser_);
}

void QMATokenDispenser::refreshTokens() {
  if (cachedTokens_.empty()) return;
  const double threshold = now() + 0.9 * minLifespan_;
  double smallest = std::numeric_limits<double>::infinity();
  std::vector<QMASignedInUserPtr> due;
  for (const auto& c : cachedTokens_) {
    smallest = std::min(smallest, c.entry.lifespanInSeconds);
    if (threshold > c.entry.expiration.timeIntervalSince1970) due.push_back(c.user);
  }
  for (const auto& user : due) requestTokenForUser(user);
  if (smallest > minLifespan_ && std::isfinite(smallest)) {
    minLifespan_ = smallest;
    rescheduleRefreshes();
  }
}

void QMATokenDispenser::rescheduleRefreshes() {
  // Queued behind the operation that asks for it, so it sees the cache that operation leaves.
  std::weak_ptr<QMATokenDispenser> weakSelf = weak_from_this();
  tokenRequestQueue_->addOperationWithBlock([weakSelf] {
    if (auto self = weakSelf.lock()) self->rescheduleNow();
  });
}

void QMATokenDispenser::rescheduleNow() {
  if (refreshTimer_) refreshTimer_->invalidate();
  refreshTimer_.reset();
  if (cachedTokens_.empty()) return;
  const double interval = minLifespan_ * 90 / 100 * 80 / 100;
  const double tolerance = 0.9 * minLifespan_ - interval;
  std::weak_ptr<QMATokenDispenser> weak = weak_from_this();
  refreshTimer_ = QMATimer::qma_scheduledTimerWithTimeIntervalRepeatsToleranceBlock(
      interval, true, tolerance, [weak](const std::shared_ptr<QMATimer>&) {
        auto self = weak.lock();
        if (!self) return;
        self->tokenRequestQueue_->addOperationWithBlock([weak] {
          if (auto s = weak.lock()) s->refreshTokens();
        });
      });
}

std::optional<QMATokenCacheEntry> QMATokenDispenser::cacheEntryForUser(const QMASignedInUser& user) {
  std::optional<QMATokenCacheEntry> entry;
  tokenRequestQueue_->addOperationWithBlock([&] {
    if (auto* c = findEntry(user)) entry = c->entry;
  });
  tokenRequestQueue_->waitUntilAllOperationsAreFinished();
  return entry;
}

double QMATokenDispenser::minLifespan() {
  double value = 0;
  tokenRequestQueue_->addOperationWithBlock([&] { value = minLifespan_; });
  tokenRequestQueue_->waitUntilAllOperationsAreFinished();
  return value;
}

std::shared_ptr<QMATimer> QMATokenDispenser::refreshTimer() {
  std::shared_ptr<QMATimer> timer;
  tokenRequestQueue_->addOperationWithBlock([&] { timer = refreshTimer_; });
  tokenRequestQueue_->waitUntilAllOperationsAreFinished();
  return timer;
}

QMASignedInUserPtr QMATokenDispenser::currentUser() {
  QMASignedInUserPtr user;
  tokenRequestQueue_->addOperationWithBlock([&] { user = currentUser_; });
  tokenRequestQueue_->waitUntilAllOperationsAreFinished();
  return user;
}
