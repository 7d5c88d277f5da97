#include "ads/render/video_qomb_handler.h"

#include <cfloat>
#include <cmath>

#include "ads/model/string_values.h"
#include "ads/render/ad_view.h"
#include "platform/dispatch/thread_checks.h"

namespace {

// A number the page sent, or nullopt when the parameter is missing.
std::optional<double> number(const QMANotification& note, std::string_view key) {
  auto text = note.parameter(key);
  if (!text) return std::nullopt;
  return QMAStringDoubleValue(*text).value_or(0);
}

float floatNumber(const QMANotification& note, std::string_view key) {
  const double v = number(note, key).value_or(0);
  return std::fabs(v) <= FLT_MAX ? static_cast<float>(v) : 0.0f;
}

void position(const QMAQOMBArguments& a) {
  uikit::Rect frame;
  if (a.note->parameter("x") && a.note->parameter("y") && a.note->parameter("w") && a.note->parameter("h"))
    frame = {floatNumber(*a.note, "x"), floatNumber(*a.note, "y"), floatNumber(*a.note, "w"), floatNumber(*a.note, "h")};
  a.adView->setCachedVideoPlayerFrame(frame);
}

template <void (QMAVideoPlayer::*Method)()>
QMAQOMBAction onPlayer() {
  return [](QMAQOMBHandler&, const QMAQOMBArguments& a) {
    if (auto& player = a.adView->videoPlayer()) ((*player).*Method)();
  };
}

}  // namespace

const QMAActionBlockDictionary* QMAVideoPlayerQOMBHandler::actionBlockDictionary() const {
  static const QMAActionBlockDictionary table = {
      {"video", [](QMAQOMBHandler& h, const QMAQOMBArguments& a) {
         static_cast<QMAVideoPlayerQOMBHandler&>(h).didReceiveVideoNotification(a);
       }}};
  return &table;
}

const QMAActionBlockDictionary& QMAVideoPlayerQOMBHandler::subActionBlockDictionary() {
  static const QMAActionBlockDictionary table = {
      {"new",
       [](QMAQOMBHandler&, const QMAQOMBArguments& a) {
         position(a);
         if (!a.adView->videoPlayer()) a.adView->setUpVideoPlayerWithURL(std::nullopt);
       }},
      {"position", [](QMAQOMBHandler&, const QMAQOMBArguments& a) { position(a); }},
      {"src",
       [](QMAQOMBHandler&, const QMAQOMBArguments& a) {
         std::optional<net::URL> url;
         if (auto text = a.note->parameter("src")) {
           const auto& page = a.adView->URL();
           url = page ? page->resolve(*text) : net::URL::fromString(*text);
         }
         a.adView->setUpVideoPlayerWithURL(url);
       }},
      {"load", onPlayer<&QMAVideoPlayer::load>()},
      {"play", onPlayer<&QMAVideoPlayer::play>()},
      {"pause", onPlayer<&QMAVideoPlayer::pause>()},
      {"volume",
       [](QMAQOMBHandler&, const QMAQOMBArguments& a) {
         auto& player = a.adView->videoPlayer();
         if (player && a.note->parameter("volume")) player->setVolume(floatNumber(*a.note, "volume"));
       }},
      {"muted",
       [](QMAQOMBHandler&, const QMAQOMBArguments& a) {
         auto& player = a.adView->videoPlayer();
         if (auto text = a.note->parameter("muted"); player && text) player->setMuted(QMAStringBoolValue(*text));
       }},
      {"currentTime",
       [](QMAQOMBHandler&, const QMAQOMBArguments& a) {
         if (auto& player = a.adView->videoPlayer()) player->seekToTime(number(*a.note, "time").value_or(0));
       }},
      {"hide", [](QMAQOMBHandler&, const QMAQOMBArguments& a) { a.adView->hideVideo(); }},
      {"show", [](QMAQOMBHandler&, const QMAQOMBArguments& a) { a.adView->showVideo(); }},
  };
  return table;
}

void QMAVideoPlayerQOMBHandler::didReceiveVideoNotification(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!arguments.note || !arguments.adView) return;
  const auto action = arguments.note->parameter("action");
  if (!action) return;
  const auto& table = subActionBlockDictionary();
  if (auto it = table.find(*action); it != table.end()) it->second(*this, arguments);
}
