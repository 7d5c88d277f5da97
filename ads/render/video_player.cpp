#include "ads/render/video_player.h"

#include <algorithm>
#include <cstdio>

#include "ads/render/ad_view.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/uikit/color.h"

std::string QMAVideoSecondsText(double seconds) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%f", seconds);
  return buffer;
}

std::shared_ptr<QMAVideoPlayer> QMAVideoPlayer::initWithAdViewDelegate(
    const std::shared_ptr<QMAAdView>& adView, const std::shared_ptr<QMAVideoPlayerDelegate>& delegate) {
  WV_DCHECK_MAIN_THREAD();
  std::shared_ptr<QMAVideoPlayer> player(new QMAVideoPlayer());
  player->adView_ = adView;
  player->delegate_ = delegate;
  return player;
}

QMAVideoPlayer::~QMAVideoPlayer() {
  stopObservingPlayer();
  stopListeningForEndOfItem();
}

void QMAVideoPlayer::sendEvent(const std::string& event, foundation::Dictionary parameters) {
  auto view = adView_.lock();
  if (!view) return;
  parameters.insert_or_assign("event", event);
  view->postJSNotificationUserInfo("onVideoEvent", parameters);
}

void QMAVideoPlayer::setSourceURL(const std::optional<net::URL>& url) {
  WV_DCHECK_MAIN_THREAD();
  sourceURL_ = url;
  const std::optional<std::string> text = url ? std::optional<std::string>(url->absoluteString()) : std::nullopt;
  if (player_) {
    stopListeningForEndOfItem();
    // No source is no item: the player stays, with nothing to play.
    player_->replaceCurrentItemWithItem(text ? std::make_shared<avfoundation::PlayerItem>(*text) : nullptr);
    if (player_->currentItem()) listenForEndOfCurrentItem();
    return;
  }
  player_ = avfoundation::Player::playerWithURL(text);
  observePlayer();
  auto self = shared_from_this();
  if (auto d = delegate_.lock()) d->playerDidCreateAVPlayer(*this, player_);
  if (player_->currentItem()) listenForEndOfCurrentItem();
}

void QMAVideoPlayer::listenForEndOfCurrentItem() {
  auto item = player_ ? player_->currentItem() : nullptr;
  if (!item) return;
  std::weak_ptr<QMAVideoPlayer> weak = weak_from_this();
  endObserver_ = foundation::NotificationCenter::defaultCenter().addObserverForName(
      avfoundation::kPlayerItemDidPlayToEndTimeNotification, item.get(), nullptr,
      [weak](const foundation::Notification&) {
        if (auto self = weak.lock()) self->sendEvent("ended");
      });
}

void QMAVideoPlayer::stopListeningForEndOfItem() {
  if (endObserver_) foundation::NotificationCenter::defaultCenter().removeObserver(*endObserver_);
  endObserver_.reset();
}

void QMAVideoPlayer::observePlayer() {
  if (observing_ || !player_) return;
  observing_ = true;
  std::weak_ptr<QMAVideoPlayer> weak = weak_from_this();
  observer_ = player_->addObserver([weak](const std::string& keyPath) {
    if (auto self = weak.lock()) self->observeValueForKeyPath(keyPath);
  });
  timeObserver_ = player_->addPeriodicTimeObserver(kTimeUpdateInterval, [weak](double seconds) {
    if (auto self = weak.lock()) self->sendEvent("timeupdate", {{"time", QMAVideoSecondsText(seconds)}});
  });
}

void QMAVideoPlayer::stopObservingPlayer() {
  if (!observing_) return;
  if (player_) {
    player_->removeObserver(observer_);
    player_->removeTimeObserver(timeObserver_);
  }
  observer_ = timeObserver_ = 0;
  observing_ = false;
}

void QMAVideoPlayer::observeValueForKeyPath(const std::string& keyPath) {
  WV_DCHECK_MAIN_THREAD();
  if (!player_) return;
  if (keyPath == "status") {
    if (player_->status() != avfoundation::PlayerStatusReadyToPlay) sendEvent("error");
    return;
  }
  if (keyPath == "rate") {
    sendEvent(player_->rate() != 0 ? "play" : "pause");
    return;
  }
  if (keyPath.rfind("currentItem.", 0) != 0 || sentReadiness_) return;
  const auto& item = player_->currentItem();
  if (!item || !item->facts().durationKnown) return;
  if (!item->isPlaybackBufferFull() && !item->isPlaybackLikelyToKeepUp()) return;
  double width = -1, height = -1;
  for (const auto& track : item->facts().videoTrackSizes) {
    if (track.width == 0 && track.height == 0) continue;
    width = track.width;
    height = track.height;
  }
  sentReadiness_ = true;
  sendEvent("canplaythrough", {{"duration", QMAVideoSecondsText(item->facts().durationSeconds)},
                               {"videoWidth", width},
                               {"videoHeight", height}});
}

void QMAVideoPlayer::play() {
  WV_DCHECK_MAIN_THREAD();
  if (player_) player_->play();
}

void QMAVideoPlayer::pause() {
  WV_DCHECK_MAIN_THREAD();
  if (player_) player_->pause();
}

void QMAVideoPlayer::seekToTime(double seconds) {
  WV_DCHECK_MAIN_THREAD();
  if (player_) player_->seekToTime(seconds);
}

void QMAVideoPlayer::setVolume(float volume) {
  WV_DCHECK_MAIN_THREAD();
  if (player_ && player_->hasOwnVolume())
    player_->setVolume(volume);
  else
    setAudioMixVolume(volume);
  volume_ = volume;
}

void QMAVideoPlayer::setMuted(bool muted) {
  WV_DCHECK_MAIN_THREAD();
  if (player_ && player_->hasOwnVolume())
    player_->setMuted(muted);
  else
    setAudioMixVolume(muted ? 0 : volume_);
  muted_ = muted;
}

void QMAVideoPlayer::setAudioMixVolume(float volume) {
  WV_DCHECK_MAIN_THREAD();
  if (!(volume >= 0 && volume <= 1)) return;
  auto item = player_ ? player_->currentItem() : nullptr;
  if (!item) return;
  if (volume == 1) {
    item->setAudioMixVolumes(std::nullopt);
    return;
  }
  item->setAudioMixVolumes(std::vector<float>(static_cast<std::size_t>(std::max(0, item->facts().audioTrackCount)), volume));
}

// ---- The ad view's video

void QMAAdView::setUpVideoPlayerWithURL(const std::optional<net::URL>& url) {
  WV_DCHECK_MAIN_THREAD();
  if (!videoPlayer_) videoPlayer_ = QMAVideoPlayer::initWithAdViewDelegate(self(), self());
  videoPlayer_->setSourceURL(url);
}

void QMAAdView::playerDidCreateAVPlayer(QMAVideoPlayer&, const std::shared_ptr<avfoundation::Player>&) {
  WV_DCHECK_MAIN_THREAD();
  // Below the web view: the page draws over the picture and leaves its place clear.
  videoPlayerLayer_ = std::make_shared<uikit::View>(uikit::Rect{});
  videoPlayerLayer_->setBackgroundColor(uikit::Color::blackColor());
  videoPlayerLayer_->setUserInteractionEnabled(false);
  insertSubviewAtIndex(videoPlayerLayer_, 0);
  setCachedVideoPlayerFrame(cachedVideoPlayerFrame_);
}

void QMAAdView::setCachedVideoPlayerFrame(uikit::Rect frame) {
  WV_DCHECK_MAIN_THREAD();
  cachedVideoPlayerFrame_ = frame;
  setNeedsLayout();
  std::weak_ptr<QMAAdView> weak = self();
  dispatch::Queue::main()->async([weak] {
    if (auto view = weak.lock()) view->layoutIfNeeded();
  });
}

void QMAAdView::layoutSubviews() {
  uikit::View::layoutSubviews();
  if (videoPlayerLayer_) setVideoPlayerFrame(cachedVideoPlayerFrame_);
}

void QMAAdView::setVideoPlayerFrame(uikit::Rect frame) {
  WV_DCHECK_MAIN_THREAD();
  if (!videoPlayerLayer_) return;
  videoPlayerLayer_->setFrame(frame == uikit::Rect{} ? bounds() : frame);
}

void QMAAdView::hideVideo() {
  WV_DCHECK_MAIN_THREAD();
  if (videoPlayerLayer_) videoPlayerLayer_->setHidden(true);
}

void QMAAdView::showVideo() {
  WV_DCHECK_MAIN_THREAD();
  if (videoPlayerLayer_) videoPlayerLayer_->setHidden(false);
}
