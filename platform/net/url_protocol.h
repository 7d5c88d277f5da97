#pragma once
// URL protocols: loaders of our own that a connection asks before the network. The
// most recently registered protocol that accepts a request loads it; when none does,
// http and https go to the network and every other scheme is refused.

#include <functional>
#include <memory>

#include "platform/net/http.h"

namespace net {

// How a protocol reports its load. Callable from any thread; the connection hands
// each report to its delegate on the delegate's own queue or run loop, in order.
class URLProtocolClient {
 public:
  virtual ~URLProtocolClient() = default;
  virtual void protocolWasRedirected(URLRequest newRequest, URLResponsePtr redirectResponse) = 0;
  virtual void protocolDidReceiveResponse(URLResponsePtr response) = 0;
  virtual void protocolDidLoadData(Bytes data) = 0;
  virtual void protocolDidFinishLoading() = 0;
  virtual void protocolDidFail(Error error) = 0;
};

class URLProtocol {
 public:
  virtual ~URLProtocol() = default;
  // Runs on the connection's delivery queue or run loop.
  virtual void startLoading(const URLRequest& request, std::shared_ptr<URLProtocolClient> client) = 0;
  // The connection was cancelled: reports made after this are dropped anyway.
  virtual void stopLoading() {}
};

struct URLProtocolClass {
  std::function<bool(const URLRequest&)> canInitWithRequest;
  std::function<std::shared_ptr<URLProtocol>()> make;
};

class URLProtocolRegistry {
 public:
  // Returns a token for unregisterClass.
  static int registerClass(URLProtocolClass protocolClass);
  static void unregisterClass(int token);
  // A fresh protocol object for the request, or null when no registered class takes it.
  static std::shared_ptr<URLProtocol> protocolForRequest(const URLRequest& request);
};

}  // namespace net
