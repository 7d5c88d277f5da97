#pragma once
// Loading URLs. A connection runs one request over libcurl (or a registered URL
// protocol) and reports to a weak delegate. Every report goes through the `Deliver`
// the caller names (a run loop, a queue), in order. The request goes out from the thread
// that starts the load; fetches to one host share a kept-alive connection where the
// server allows it.
//
// Redirects are not followed by libcurl: each 3xx answer with a Location goes to the
// delegate, whose answer decides whether and where the next request goes. After
// cancel() returns, no report reaches the delegate. The request's timeoutInterval is
// the longest the server may stay silent, measured on the process clock, so a
// hand-driven clock runs time-outs too.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/executor.h"
#include "platform/net/http.h"
#include "platform/net/url_protocol.h"

namespace net {

// Runs a block on the caller's chosen thread, in the order given.
using Deliver = std::function<void(std::function<void()>)>;
// Reports on the loop's thread, which also reads the answer off the socket itself (so
// the answer wakes no other thread). Keep the loop running while a load is out.
Deliver deliverOnRunLoop(dispatch::RunLoop& loop);
// A dispatch queue or an operation queue.
Deliver deliverOn(std::shared_ptr<foundation::Executor> executor);

class URLConnection;

class URLConnectionDelegate {
 public:
  virtual ~URLConnectionDelegate() = default;
  // Asked before each request goes out: the first with no redirect response, then once
  // per redirect. The answer is sent; nullopt stops following, and the redirect response
  // is then delivered as the final response.
  virtual std::optional<URLRequest> connectionWillSendRequest(URLConnection&, const URLRequest& request,
                                                              const URLResponsePtr& redirectResponse) {
    return request;
  }
  virtual void connectionDidReceiveResponse(URLConnection&, const URLResponsePtr&) {}
  virtual void connectionDidReceiveData(URLConnection&, const Bytes&) {}
  virtual void connectionDidFinishLoading(URLConnection&) {}
  virtual void connectionDidFailWithError(URLConnection&, const Error&) {}
};

class URLConnection : public std::enable_shared_from_this<URLConnection> {
 public:
  // Null when nothing can load the request: no registered protocol takes it and it is
  // not http or https.
  static std::shared_ptr<URLConnection> create(URLRequest request, std::weak_ptr<URLConnectionDelegate> delegate,
                                               Deliver deliver);
  ~URLConnection();

  // Starts the load once; later calls do nothing. The delegate is asked about the first
  // request on its delivery thread before it goes out.
  void start();
  // The same without that first question: the request goes out from here at once, so the
  // delivery thread need not be free (fire-and-forget loads).
  void startImmediately();
  // Stops the load. Callable from any thread (a report already running finishes first).
  void cancel();

  const URLRequest& originalRequest() const { return original_; }
  // The request now being loaded (the last one sent after redirects).
  URLRequest currentRequest() const;

  // Internal to the transfer machinery.
  struct Impl;

 private:
  URLConnection(URLRequest request, std::weak_ptr<URLConnectionDelegate> delegate, Deliver deliver);
  std::unique_ptr<Impl> impl_;
  URLRequest original_;
};

// One load whose outcome arrives as a single completion through `deliver`: the response
// (null on a transport error), the body, and the error (null on success; an HTTP error
// status is still a success here).
using CompletionHandler = std::function<void(URLResponsePtr, Bytes, std::optional<Error>)>;
void sendAsynchronousRequest(URLRequest request, Deliver deliver, CompletionHandler completion);

struct SynchronousResult {
  URLResponsePtr response;
  Bytes data;
  std::optional<Error> error;
};
// Loads on the calling thread's behalf and waits; redirects are followed. Never call it
// from the thread that a protocol in use delivers to.
SynchronousResult sendSynchronousRequest(URLRequest request);

// The pages' line now (URLRequest::waitsInPagesLine): requests gone out, and waiting.
// For tests and benches. Any thread.
struct PagesLineState {
  std::size_t running = 0;
  std::size_t waiting = 0;
  // Requests that took their place in line, and that left it, since the process started.
  std::uint64_t added = 0;
  std::uint64_t ended = 0;
};
PagesLineState pagesLineState();

}  // namespace net
