#pragma once
// A request whose answer matters for its status alone: a ping, a crash or purchase report, a
// latency report. The completion hears the final response as soon as its head is in, and
// the transfer is cut there: a body of any size, or one that never ends, is never read and
// never a reason to fail. Redirects are followed as any load follows them.
//
// Threads: starts from any thread; the completion runs once, through `deliver`.

#include <functional>
#include <optional>

#include "platform/foundation/error.h"
#include "platform/net/connection.h"

// The response (null on a transport error) and the error (null when a response came, of
// whatever status).
using QMAPingCompletion = std::function<void(net::URLResponsePtr response, std::optional<foundation::Error> error)>;

void QMASendPingRequest(net::URLRequest request, net::Deliver deliver, QMAPingCompletion completion);
