#include "platform/net/url_protocol.h"

#include <mutex>
#include <vector>

namespace net {

namespace {
struct Registry {
  std::mutex mu;
  int nextToken = 1;
  std::vector<std::pair<int, URLProtocolClass>> classes;
};
Registry& registry() {
  static Registry* r = new Registry();
  return *r;
}
}  // namespace

int URLProtocolRegistry::registerClass(URLProtocolClass protocolClass) {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  int token = r.nextToken++;
  r.classes.emplace_back(token, std::move(protocolClass));
  return token;
}

void URLProtocolRegistry::unregisterClass(int token) {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  std::erase_if(r.classes, [&](const auto& entry) { return entry.first == token; });
}

std::shared_ptr<URLProtocol> URLProtocolRegistry::protocolForRequest(const URLRequest& request) {
  std::vector<URLProtocolClass> classes;
  {
    auto& r = registry();
    std::lock_guard lock(r.mu);
    for (auto it = r.classes.rbegin(); it != r.classes.rend(); ++it) classes.push_back(it->second);
  }
  // Asked outside the lock, so a protocol may register others from its own checks.
  for (const auto& c : classes)
    if (c.canInitWithRequest && c.canInitWithRequest(request)) return c.make ? c.make() : nullptr;
  return nullptr;
}

}  // namespace net
