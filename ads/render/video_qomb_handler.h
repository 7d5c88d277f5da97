#pragma once
// "video": a creative drives the native video player of its ad view (QMAVideoPlayer).
// The parameter "action" picks one of: "new" (place, and make the player once), "position"
// ("x", "y", "w", "h"; without all four the whole ad view), "src", "load", "play",
// "pause", "volume", "muted", "currentTime" ("time", 0 without one), "hide", "show". An
// unknown or missing action is taken and does nothing; an action that needs a player does
// nothing before one exists. Numbers are read as the platform reads them from text (the
// leading number, 0 without one); one beyond what the player's type holds counts as none.
// A relative "src" is resolved against the ad's page, as a page's own video would be.
//
// Threads: main thread (checked); the tables are built once, from any thread.

#include <memory>

#include "ads/render/qomb.h"

class QMAVideoPlayerQOMBHandler : public QMAQOMBHandler {
 public:
  const QMAActionBlockDictionary* actionBlockDictionary() const override;
  static const QMAActionBlockDictionary& subActionBlockDictionary();

  void didReceiveVideoNotification(const QMAQOMBArguments& arguments);
};
