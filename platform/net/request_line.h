#pragma once
// Who of the pages' requests may hold a connection now, and who waits, as a browser
// schedules them: at most `perHost` at once to one host (scheme, host and port) and
// `total` in all; the rest wait in the order they came. When a slot frees, the earliest
// waiting request whose host has room goes next, so a host that never answers holds its
// own few slots and no more, and the requests of other hosts pass it.
//
// Adding, removing and finishing cost O(log n) whatever the number of requests held.
// Not synchronised: its owner's lock guards it.

#include <cstddef>
#include <cstdint>
#include <list>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace net {

class RequestLine {
 public:
  struct Limits {
    std::size_t perHost = 6;
    std::size_t total = 128;
  };
  // Tickets are handed out in increasing order; 0 is none.
  using Ticket = std::uint64_t;

  explicit RequestLine(Limits limits) : limits_(limits) {}
  RequestLine(const RequestLine&) = delete;
  RequestLine& operator=(const RequestLine&) = delete;

  // A request for `host`: its ticket, and whether it holds a slot at once (else it waits).
  std::pair<Ticket, bool> add(const std::string& host);
  // The request ended (its transfer finished, failed or was cancelled), whether it held a
  // slot or waited. The tickets that take the freed slots are appended to `started`, in
  // the order they go. An unknown ticket does nothing.
  void remove(Ticket ticket, std::vector<Ticket>& started);

  bool isRunning(Ticket ticket) const;
  std::size_t running() const { return running_; }
  std::size_t waiting() const { return entries_.size() - running_; }
  // Requests added and ended so far: what moved in the line, whatever it holds now.
  std::uint64_t added() const { return next_ - 1; }
  std::uint64_t ended() const { return ended_; }
  const Limits& limits() const { return limits_; }

 private:
  struct Host;
  struct Entry {
    Host* host = nullptr;
    bool running = false;
    std::list<Ticket>::iterator place;  // in host->waiting, while it waits
  };
  struct Host {
    std::string name;
    std::size_t running = 0;
    std::list<Ticket> waiting;
    Ticket readyKey = 0;  // its first waiting ticket while it is in ready_
  };

  // Puts the host in ready_ exactly when it has someone waiting and a free slot.
  void refresh(Host& host);
  void promote(std::vector<Ticket>& started);
  void forget(Host& host);

  Limits limits_;
  Ticket next_ = 1;
  std::uint64_t ended_ = 0;
  std::size_t running_ = 0;
  std::unordered_map<std::string, Host> hosts_;
  std::unordered_map<Ticket, Entry> entries_;
  // Hosts that could start their first waiting request, by that request's ticket.
  std::set<std::pair<Ticket, Host*>> ready_;
};

}  // namespace net
