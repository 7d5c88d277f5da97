#include "platform/avfoundation/player.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "platform/dispatch/queue.h"
#include "platform/dispatch/run_loop.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/notification_center.h"

namespace avfoundation {

namespace {

struct Registry {
  std::mutex lock;
  std::map<std::string, MediaFacts> facts;
  std::vector<std::weak_ptr<Player>> players;
  bool ownVolume = true;
  bool readyOnTheirOwn = false;
};
Registry& registry() {
  static Registry r;
  return r;
}

std::string number(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", v);
  return buffer;
}

}  // namespace

void setMediaFactsForURL(const std::string& url, const MediaFacts& facts) {
  std::lock_guard l(registry().lock);
  registry().facts.insert_or_assign(url, facts);
}

void resetMediaFacts() {
  std::lock_guard l(registry().lock);
  registry().facts.clear();
  registry().ownVolume = true;
  registry().readyOnTheirOwn = false;
}

void Player::setItemsBecomeReadyOnTheirOwn(bool on) {
  std::lock_guard l(registry().lock);
  registry().readyOnTheirOwn = on;
}

void Player::becomeReadyLaterWhenItemsDo() {
  {
    std::lock_guard l(registry().lock);
    if (!registry().readyOnTheirOwn) return;
  }
  std::weak_ptr<Player> weak = weak_from_this();
  dispatch::Queue::main()->async([weak] {
    auto self = weak.lock();
    if (self && self->item_) self->becomeReady(true);
  });
}

void Player::setNewPlayersHaveOwnVolume(bool own) {
  std::lock_guard l(registry().lock);
  registry().ownVolume = own;
}

PlayerItem::PlayerItem(std::string url) : url_(std::move(url)) {
  std::lock_guard l(registry().lock);
  if (auto it = registry().facts.find(url_); it != registry().facts.end()) facts_ = it->second;
}

std::shared_ptr<Player> Player::playerWithURL(const std::optional<std::string>& url) {
  WV_DCHECK_MAIN_THREAD();
  bool ownVolume;
  {
    std::lock_guard l(registry().lock);
    ownVolume = registry().ownVolume;
  }
  std::shared_ptr<Player> player(new Player(ownVolume));
  if (url) {
    player->item_ = std::make_shared<PlayerItem>(*url);
    player->calls_.push_back("item " + *url);
  }
  {
    std::lock_guard l(registry().lock);
    std::erase_if(registry().players, [](const std::weak_ptr<Player>& p) { return p.expired(); });
    registry().players.push_back(player);
  }
  if (player->item_) player->becomeReadyLaterWhenItemsDo();
  return player;
}

std::vector<std::shared_ptr<Player>> Player::livePlayers() {
  std::lock_guard l(registry().lock);
  std::vector<std::shared_ptr<Player>> live;
  for (const auto& weak : registry().players)
    if (auto p = weak.lock()) live.push_back(std::move(p));
  return live;
}

Player::~Player() {
  auto& loop = dispatch::RunLoop::main();
  for (auto& [id, entry] : timeObservers_)
    if (entry.timer) loop.invalidateTimer(entry.timer);
  if (endTimer_) loop.invalidateTimer(endTimer_);
}

void Player::notify(const std::string& keyPath) {
  // A copy: an observer may remove itself.
  auto observers = observers_;
  for (auto& [id, observer] : observers)
    if (observers_.count(id)) observer(keyPath);
}

double Player::itemTime() const {
  if (!item_) return 0;
  if (rate_ == 0) return item_->time_;
  const double t = item_->time_ + (foundation::Clock::monotonic() - playStartedAt_) * rate_;
  return item_->facts_.durationKnown ? std::min(t, item_->facts_.durationSeconds) : t;
}

void Player::replaceCurrentItemWithItem(std::shared_ptr<PlayerItem> item) {
  WV_DCHECK_MAIN_THREAD();
  calls_.push_back(item ? "item " + item->url() : "item none");
  if (rate_ != 0 && item_) item_->time_ = itemTime();
  stopTimers();
  item_ = std::move(item);
  if (rate_ != 0) {
    playStartedAt_ = foundation::Clock::monotonic();
    startTimers();
  }
  notify("currentItem.duration");
  if (item_) becomeReadyLaterWhenItemsDo();
}

void Player::setRate(double rate) {
  if (rate == rate_) return;
  if (rate_ != 0 && item_) item_->time_ = itemTime();
  stopTimers();
  rate_ = rate;
  if (rate_ != 0) {
    playStartedAt_ = foundation::Clock::monotonic();
    startTimers();
  }
  notify("rate");
}

void Player::play() {
  WV_DCHECK_MAIN_THREAD();
  calls_.push_back("play");
  setRate(1);
}

void Player::pause() {
  WV_DCHECK_MAIN_THREAD();
  calls_.push_back("pause");
  setRate(0);
}

void Player::seekToTime(double seconds) {
  WV_DCHECK_MAIN_THREAD();
  calls_.push_back("seek " + number(seconds));
  if (!item_) return;
  const bool playing = rate_ != 0;
  stopTimers();
  double t = std::max(0.0, seconds);
  if (item_->facts_.durationKnown) t = std::min(t, item_->facts_.durationSeconds);
  item_->time_ = t;
  if (playing) {
    playStartedAt_ = foundation::Clock::monotonic();
    startTimers();
  }
}

void Player::setVolume(float volume) {
  WV_DCHECK_MAIN_THREAD();
  calls_.push_back("volume " + number(volume));
  if (hasOwnVolume_) volume_ = volume;
}

void Player::setMuted(bool muted) {
  WV_DCHECK_MAIN_THREAD();
  calls_.push_back(std::string("muted ") + (muted ? "1" : "0"));
  if (hasOwnVolume_) muted_ = muted;
}

Player::Id Player::addObserver(Observer observer) {
  WV_DCHECK_MAIN_THREAD();
  const Id id = nextId_++;
  observers_.emplace(id, std::move(observer));
  return id;
}

void Player::removeObserver(Id id) {
  WV_DCHECK_MAIN_THREAD();
  observers_.erase(id);
}

Player::Id Player::addPeriodicTimeObserver(double interval, TimeObserver observer) {
  WV_DCHECK_MAIN_THREAD();
  const Id id = nextId_++;
  // A period that is no period would spin: the least is a millisecond.
  timeObservers_.emplace(id, TimeObserverEntry{std::max(interval, 0.001), std::move(observer)});
  if (rate_ != 0) {
    stopTimers();
    startTimers();
  }
  return id;
}

void Player::removeTimeObserver(Id id) {
  WV_DCHECK_MAIN_THREAD();
  auto it = timeObservers_.find(id);
  if (it == timeObservers_.end()) return;
  if (it->second.timer) dispatch::RunLoop::main().invalidateTimer(it->second.timer);
  timeObservers_.erase(it);
}

void Player::startTimers() {
  if (!item_) return;
  auto& loop = dispatch::RunLoop::main();
  std::weak_ptr<Player> weak = weak_from_this();
  for (auto& [id, entry] : timeObservers_) {
    const Id observerId = id;
    entry.timer = loop.addTimer(entry.interval, entry.interval, true, [weak, observerId] {
      auto self = weak.lock();
      if (!self || self->rate_ == 0) return;
      auto it = self->timeObservers_.find(observerId);
      if (it == self->timeObservers_.end()) return;
      auto block = it->second.block;
      block(self->itemTime());
    });
  }
  if (item_->facts_.durationKnown) {
    const double left = std::max(0.0, (item_->facts_.durationSeconds - item_->time_) / rate_);
    endTimer_ = loop.addTimer(left, 0, false, [weak] {
      if (auto self = weak.lock()) self->reachEnd();
    });
  }
}

void Player::stopTimers() {
  auto& loop = dispatch::RunLoop::main();
  for (auto& [id, entry] : timeObservers_) {
    if (entry.timer) loop.invalidateTimer(entry.timer);
    entry.timer = 0;
  }
  if (endTimer_) loop.invalidateTimer(endTimer_);
  endTimer_ = 0;
}

void Player::reachEnd() {
  endTimer_ = 0;
  auto item = item_;
  if (!item) return;
  setRate(0);
  item->time_ = item->facts_.durationSeconds;
  foundation::NotificationCenter::defaultCenter().postNotificationName(kPlayerItemDidPlayToEndTimeNotification, item);
}

void Player::becomeReady(bool bufferFull) {
  WV_DCHECK_MAIN_THREAD();
  if (status_ != PlayerStatusReadyToPlay) {
    status_ = PlayerStatusReadyToPlay;
    notify("status");
  }
  if (!item_) return;
  item_->likelyToKeepUp_ = true;
  notify("currentItem.playbackLikelyToKeepUp");
  if (bufferFull) {
    item_->bufferFull_ = true;
    notify("currentItem.playbackBufferFull");
  }
}

void Player::fail() {
  WV_DCHECK_MAIN_THREAD();
  status_ = PlayerStatusFailed;
  notify("status");
}

void Player::resetStatus() {
  WV_DCHECK_MAIN_THREAD();
  status_ = PlayerStatusUnknown;
  notify("status");
}

}  // namespace avfoundation
