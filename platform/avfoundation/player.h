#pragma once
// The media player: plays a media item from a URL, reports its status, rate, buffering and
// time to observers, and announces the item's end. This system decodes no media, so the
// player is a stand-in: it records every request it gets (calls()), and what the media
// does (ready, failed, its duration and tracks) is what whoever stands in for the media
// (tests, drivers) says. While it plays, its time advances on the process clock in the
// steps of its periodic time observers, and at the item's duration it stops and posts
// kPlayerItemDidPlayToEndTimeNotification with the item as object.
//
// Threads: main thread only; observers and time observers are told on the main thread.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace avfoundation {

inline constexpr const char* kPlayerItemDidPlayToEndTimeNotification = "AVPlayerItemDidPlayToEndTimeNotification";

enum PlayerStatus : long { PlayerStatusUnknown = 0, PlayerStatusReadyToPlay = 1, PlayerStatusFailed = 2 };

struct Size {
  double width = 0, height = 0;
};

// What a media file holds, as far as the player tells.
struct MediaFacts {
  double durationSeconds = 10;
  bool durationKnown = true;
  std::vector<Size> videoTrackSizes{{640, 360}};
  int audioTrackCount = 1;
};
// Facts for a URL's media (every other URL has the defaults above); thread-safe.
void setMediaFactsForURL(const std::string& url, const MediaFacts& facts);
// Default facts for every URL, and players with their own volume again.
void resetMediaFacts();

class PlayerItem {
 public:
  explicit PlayerItem(std::string url);
  const std::string& url() const { return url_; }
  const MediaFacts& facts() const { return facts_; }
  bool isPlaybackLikelyToKeepUp() const { return likelyToKeepUp_; }
  bool isPlaybackBufferFull() const { return bufferFull_; }
  double currentTime() const { return time_; }
  // The volumes of the audio mix set on the item, one per audio track; none when unset.
  const std::optional<std::vector<float>>& audioMixVolumes() const { return audioMixVolumes_; }
  void setAudioMixVolumes(std::optional<std::vector<float>> volumes) { audioMixVolumes_ = std::move(volumes); }

 private:
  friend class Player;
  std::string url_;
  MediaFacts facts_;
  bool likelyToKeepUp_ = false;
  bool bufferFull_ = false;
  double time_ = 0;
  std::optional<std::vector<float>> audioMixVolumes_;
};

class Player : public std::enable_shared_from_this<Player> {
 public:
  // A change of one observed property: "status", "rate", "currentItem.duration",
  // "currentItem.playbackLikelyToKeepUp", "currentItem.playbackBufferFull".
  using Observer = std::function<void(const std::string& keyPath)>;
  using TimeObserver = std::function<void(double seconds)>;
  using Id = std::uint64_t;

  // No URL: a player without an item.
  static std::shared_ptr<Player> playerWithURL(const std::optional<std::string>& url);
  // Whether players made from now on offer a volume and mute of their own (as today's
  // systems do; older ones only take an item's audio mix). Yes unless set.
  static void setNewPlayersHaveOwnVolume(bool own);
  // Whether an item, once a player has it, is ready on its own (right after, on the main
  // queue, buffered full), as a small local file would be; off unless set, so tests say
  // when media is ready. Hosts that show ads without a test behind them switch it on.
  static void setItemsBecomeReadyOnTheirOwn(bool on);
  ~Player();

  const std::shared_ptr<PlayerItem>& currentItem() const { return item_; }
  void replaceCurrentItemWithItem(std::shared_ptr<PlayerItem> item);
  PlayerStatus status() const { return status_; }
  double rate() const { return rate_; }
  void play();
  void pause();
  void seekToTime(double seconds);
  bool hasOwnVolume() const { return hasOwnVolume_; }
  // Only on a player that has its own volume (recorded either way).
  void setVolume(float volume);
  void setMuted(bool muted);
  float volume() const { return volume_; }
  bool isMuted() const { return muted_; }

  Id addObserver(Observer observer);
  void removeObserver(Id id);
  Id addPeriodicTimeObserver(double interval, TimeObserver observer);
  void removeTimeObserver(Id id);
  std::size_t observerCount() const { return observers_.size() + timeObservers_.size(); }

  // What the player was asked, in order: "play", "pause", "seek 12.5", "volume 0.5",
  // "muted 1", "item <url>", "item none".
  const std::vector<std::string>& calls() const { return calls_; }

  // For the stand-in media: the item is buffered and can play (status ready, likely to
  // keep up), or the media cannot be played (status failed), or the player's status goes
  // back to unknown.
  void becomeReady(bool bufferFull = false);
  void fail();
  void resetStatus();
  // The players made so far and still alive, newest last.
  static std::vector<std::shared_ptr<Player>> livePlayers();

 private:
  explicit Player(bool hasOwnVolume) : hasOwnVolume_(hasOwnVolume) {}
  void notify(const std::string& keyPath);
  void setRate(double rate);
  // The item's time now (it runs on the process clock while the rate is not 0).
  double itemTime() const;
  void startTimers();
  void stopTimers();
  void reachEnd();
  void becomeReadyLaterWhenItemsDo();

  std::shared_ptr<PlayerItem> item_;
  PlayerStatus status_ = PlayerStatusUnknown;
  double rate_ = 0;
  double playStartedAt_ = 0;  // process clock when the rate last left 0
  bool hasOwnVolume_;
  float volume_ = 1;
  bool muted_ = false;
  Id nextId_ = 1;
  std::map<Id, Observer> observers_;
  struct TimeObserverEntry {
    double interval;
    TimeObserver block;
    std::uint64_t timer = 0;
  };
  std::map<Id, TimeObserverEntry> timeObservers_;
  std::uint64_t endTimer_ = 0;
  std::vector<std::string> calls_;
};

}  // namespace avfoundation
