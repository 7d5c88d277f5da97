#pragma once
// The native video player of an ad view: a creative asks for it, places it, gives it a
// source and plays, pauses, seeks, mutes and sets its volume through the "video" bridge
// messages (QMAVideoPlayerQOMBHandler), and hears back through the page event
// "onVideoEvent" ("canplaythrough" once per player, "timeupdate" every quarter second of
// playback, "play", "pause", "ended", "error"). The picture shows in the ad view's video
// view, below its web view, so the creative's page lies over it and leaves its area clear.
//
// The platform's player tells this class of its changes on the main thread, so the
// once-only readiness report is never raced.
//
// Threads: main thread only (checked).

#include <memory>
#include <optional>
#include <string>

#include "platform/avfoundation/player.h"
#include "platform/foundation/notification_center.h"
#include "platform/net/url.h"

class QMAAdView;
class QMAVideoPlayer;

class QMAVideoPlayerDelegate {
 public:
  virtual ~QMAVideoPlayerDelegate() = default;
  // Once, right after the player made its platform player.
  virtual void playerDidCreateAVPlayer(QMAVideoPlayer& player, const std::shared_ptr<avfoundation::Player>& avPlayer) = 0;
};

class QMAVideoPlayer : public std::enable_shared_from_this<QMAVideoPlayer> {
 public:
  // Every quarter second of playback a "timeupdate".
  static constexpr double kTimeUpdateInterval = 0.25;

  // Both held weakly.
  static std::shared_ptr<QMAVideoPlayer> initWithAdViewDelegate(const std::shared_ptr<QMAAdView>& adView,
                                                               const std::shared_ptr<QMAVideoPlayerDelegate>& delegate);
  ~QMAVideoPlayer();

  const std::optional<net::URL>& sourceURL() const { return sourceURL_; }
  // Loads the source: the first one makes the platform player; a later one replaces its
  // item. No source leaves the player without an item (nothing plays, nothing breaks).
  void setSourceURL(const std::optional<net::URL>& url);
  // Loading starts with the source.
  void load() {}
  void play();
  void pause();
  void seekToTime(double seconds);
  float volume() const { return volume_; }
  void setVolume(float volume);
  bool muted() const { return muted_; }
  void setMuted(bool muted);
  // The volume through the current item's audio mix, for players without a volume of
  // their own: outside 0...1 ignored, 1 takes the mix away.
  void setAudioMixVolume(float volume);

  const std::shared_ptr<avfoundation::Player>& AVPlayer() const { return player_; }
  bool isObservingPlayer() const { return observing_; }

 private:
  QMAVideoPlayer() = default;
  void observePlayer();
  void stopObservingPlayer();
  void observeValueForKeyPath(const std::string& keyPath);
  void listenForEndOfCurrentItem();
  void stopListeningForEndOfItem();
  void sendEvent(const std::string& event, foundation::Dictionary parameters = {});

  std::weak_ptr<QMAVideoPlayerDelegate> delegate_;
  std::weak_ptr<QMAAdView> adView_;
  std::optional<net::URL> sourceURL_;
  float volume_ = 1;
  bool muted_ = false;
  std::shared_ptr<avfoundation::Player> player_;
  bool observing_ = false;
  avfoundation::Player::Id observer_ = 0;
  avfoundation::Player::Id timeObserver_ = 0;
  bool sentReadiness_ = false;
  std::optional<foundation::NotificationCenter::ObserverToken> endObserver_;
};

// "%f" text of a number of seconds, as the page events carry them.
std::string QMAVideoSecondsText(double seconds);
