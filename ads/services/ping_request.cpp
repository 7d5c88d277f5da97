#include "ads/services/ping_request.h"

#include <memory>
#include <utility>

namespace {

// Holds itself until its one completion has run: nobody else keeps it.
class PingLoader : public net::URLConnectionDelegate {
 public:
  explicit PingLoader(QMAPingCompletion completion) : completion_(std::move(completion)) {}
  std::shared_ptr<PingLoader> keepAlive;

  void connectionDidReceiveResponse(net::URLConnection& connection, const net::URLResponsePtr& response) override {
    response_ = response;
    // The status is known: whatever body follows is not wanted.
    connection.cancel();
    complete(response, std::nullopt);
  }
  void connectionDidFinishLoading(net::URLConnection&) override { complete(response_, std::nullopt); }
  void connectionDidFailWithError(net::URLConnection&, const foundation::Error& error) override { fail(error); }
  void fail(const foundation::Error& error) { complete(nullptr, error); }

 private:
  void complete(net::URLResponsePtr response, std::optional<foundation::Error> error) {
    auto hold = std::move(keepAlive);
    auto completion = std::exchange(completion_, nullptr);
    if (completion) completion(std::move(response), std::move(error));
  }
  QMAPingCompletion completion_;
  net::URLResponsePtr response_;
};

}  // namespace

void QMASendPingRequest(net::URLRequest request, net::Deliver deliver, QMAPingCompletion completion) {
  auto loader = std::make_shared<PingLoader>(std::move(completion));
  auto connection = net::URLConnection::create(request, loader, deliver);
  if (!connection) {
    auto error = net::makeLoadError(net::kErrorUnsupportedURL, "Unsupported URL: " + request.url.absoluteString());
    if (deliver) deliver([loader, error] { loader->fail(error); });
    return;
  }
  loader->keepAlive = loader;
  connection->startImmediately();
}
