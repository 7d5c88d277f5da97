#pragma once
// A change of an MRAID ad's state reaching its creative. The new state travels in one
// message ("onStateChanged") with everything the creative reads of its ad as it stands
// then (its position, its resting position, its maximum size, the screen), taken from the
// ad's MRAID event handler: the page's script takes all of them in before it fires any
// event, so a listener of the change ("stateChange", "sizeChange") reads only new values.
//
// Threads: main thread.

#include <memory>
#include <string>

class QMAAdView;
class QMAMRAIDEventHandling;

// Queued on the view's event queue, behind what the view was sent before. Without a
// handler, the state alone.
void QMADispatchMRAIDState(const std::shared_ptr<QMAAdView>& view, const std::string& state,
                           const std::shared_ptr<QMAMRAIDEventHandling>& handler);
