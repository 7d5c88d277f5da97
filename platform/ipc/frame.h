#pragma once
// The messaging centre's wire format. Each message is one frame: a 4-byte big-endian
// length and that many bytes of property list. A request frame holds
// {name: string, userInfo: dictionary}; a reply frame holds the handler's dictionary, or
// nothing at all for an absent reply. One connection carries one request and its reply.
//
// The reader takes the bytes of exactly one frame and refuses a declared length over its
// limit before taking any of the payload, so a peer can never make it hold more than the
// limit, whatever it sends.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

namespace ipc {

// A request is a message name and a small dictionary; nothing honest comes near this.
inline constexpr std::uint32_t kMaxRequestFrame = 64u << 10;
// A reply carries the app list with its icons (about 9 KB an app); this leaves room for
// thousands of apps and still bounds what a client holds for a server that lies.
inline constexpr std::uint32_t kMaxReplyFrame = 32u << 20;

// The frame of `payload`: its length, then the bytes.
std::string encodeFrame(std::string_view payload);

class FrameReader {
 public:
  enum class State {
    Reading,    // more bytes are wanted
    Complete,   // the whole frame is in: payload() holds it
    Oversized,  // the declared length is over the limit: the peer must be dropped
  };

  explicit FrameReader(std::uint32_t maxPayload) : max_(maxPayload) {}

  // Takes bytes of the frame from the front of `data`, never more than the frame still
  // needs; answers how many it took. Takes nothing once complete or oversized.
  std::size_t feed(const char* data, std::size_t size);
  // How many more bytes the frame needs (0 once complete or oversized).
  std::size_t bytesWanted() const;
  State state() const { return state_; }
  // The payload so far; the whole payload once complete.
  const std::string& payload() const { return payload_; }
  // The length the frame declared; meaningful once its 4 bytes are in.
  std::uint32_t declaredLength() const { return length_; }

 private:
  std::uint32_t max_;
  State state_ = State::Reading;
  unsigned char header_[4] = {};
  std::size_t headerBytes_ = 0;
  std::uint32_t length_ = 0;
  std::string payload_;
};

struct Request {
  std::string message;
  foundation::Dictionary userInfo;
};

// The payload of a request frame (a binary property list).
std::string encodeRequest(const std::string& message, const foundation::Dictionary& userInfo);
// The request in a request frame's payload; nullopt when the payload is no property-list
// dictionary with a string "name". A "userInfo" that is absent or no dictionary reads as
// an empty one.
std::optional<Request> decodeRequest(std::string_view payload);

// The payload of a reply frame: the binary property list of `reply`, or nothing for an
// absent reply.
std::string encodeReply(std::optional<foundation::Dictionary> reply);
// The reply in a reply frame's payload; nullopt for an absent reply or one that is no
// property-list dictionary.
std::optional<foundation::Dictionary> decodeReply(std::string_view payload);

}  // namespace ipc
