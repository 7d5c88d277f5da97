#include "platform/net/request_line.h"

namespace net {

std::pair<RequestLine::Ticket, bool> RequestLine::add(const std::string& name) {
  const Ticket ticket = next_++;
  auto [it, inserted] = hosts_.try_emplace(name);
  Host& host = it->second;
  if (inserted) host.name = name;
  Entry& entry = entries_[ticket];
  entry.host = &host;
  // Whoever waits already came first; with nobody ready, a host with room starts at once.
  if (host.waiting.empty() && host.running < limits_.perHost && running_ < limits_.total) {
    entry.running = true;
    ++host.running;
    ++running_;
    return {ticket, true};
  }
  entry.place = host.waiting.insert(host.waiting.end(), ticket);
  refresh(host);
  return {ticket, false};
}

void RequestLine::remove(Ticket ticket, std::vector<Ticket>& started) {
  auto found = entries_.find(ticket);
  if (found == entries_.end()) return;
  Host& host = *found->second.host;
  if (found->second.running) {
    --host.running;
    --running_;
  } else {
    host.waiting.erase(found->second.place);
  }
  entries_.erase(found);
  ++ended_;
  refresh(host);
  promote(started);
  forget(host);
}

bool RequestLine::isRunning(Ticket ticket) const {
  auto found = entries_.find(ticket);
  return found != entries_.end() && found->second.running;
}

void RequestLine::refresh(Host& host) {
  const Ticket key = !host.waiting.empty() && host.running < limits_.perHost ? host.waiting.front() : 0;
  if (key == host.readyKey) return;
  if (host.readyKey) ready_.erase({host.readyKey, &host});
  if (key) ready_.insert({key, &host});
  host.readyKey = key;
}

void RequestLine::promote(std::vector<Ticket>& started) {
  while (running_ < limits_.total && !ready_.empty()) {
    Host& host = *ready_.begin()->second;
    const Ticket ticket = host.waiting.front();
    host.waiting.pop_front();
    Entry& entry = entries_.at(ticket);
    entry.running = true;
    ++host.running;
    ++running_;
    refresh(host);
    started.push_back(ticket);
  }
}

void RequestLine::forget(Host& host) {
  if (host.running != 0 || !host.waiting.empty()) return;
  const std::string name = std::move(host.name);  // not a key that goes with its element
  hosts_.erase(name);
}

}  // namespace net
