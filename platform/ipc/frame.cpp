#include "platform/ipc/frame.h"

#include <algorithm>

#include "platform/foundation/property_list.h"

namespace ipc {

std::string encodeFrame(std::string_view payload) {
  auto n = static_cast<std::uint32_t>(payload.size());
  std::string out;
  out.reserve(4 + payload.size());
  out.push_back(static_cast<char>(n >> 24));
  out.push_back(static_cast<char>(n >> 16));
  out.push_back(static_cast<char>(n >> 8));
  out.push_back(static_cast<char>(n));
  out.append(payload);
  return out;
}

std::size_t FrameReader::feed(const char* data, std::size_t size) {
  std::size_t taken = 0;
  while (state_ == State::Reading && taken < size) {
    if (headerBytes_ < sizeof header_) {
      header_[headerBytes_++] = static_cast<unsigned char>(data[taken++]);
      if (headerBytes_ < sizeof header_) continue;
      length_ = std::uint32_t{header_[0]} << 24 | std::uint32_t{header_[1]} << 16 | std::uint32_t{header_[2]} << 8 |
                std::uint32_t{header_[3]};
      if (length_ > max_) {
        state_ = State::Oversized;
        break;
      }
    } else {
      std::size_t n = std::min(size - taken, static_cast<std::size_t>(length_) - payload_.size());
      payload_.append(data + taken, n);
      taken += n;
    }
    if (headerBytes_ == sizeof header_ && payload_.size() == length_) state_ = State::Complete;
  }
  return taken;
}

std::size_t FrameReader::bytesWanted() const {
  if (state_ != State::Reading) return 0;
  if (headerBytes_ < sizeof header_) return sizeof header_ - headerBytes_;
  return static_cast<std::size_t>(length_) - payload_.size();
}

std::string encodeRequest(const std::string& message, const foundation::Dictionary& userInfo) {
  foundation::Dictionary request;
  request["name"] = message;
  request["userInfo"] = userInfo;
  auto bytes = foundation::dataFromPropertyList(foundation::Value(std::move(request)),
                                                foundation::PropertyListFormat::Binary);
  return std::string(bytes.begin(), bytes.end());
}

std::optional<Request> decodeRequest(std::string_view payload) {
  if (payload.empty()) return std::nullopt;
  auto value = foundation::propertyListFromData(payload.data(), payload.size());
  auto* dict = value ? value->asDictionary() : nullptr;
  const std::string* name = dict ? foundation::stringForKey(*dict, "name") : nullptr;
  if (!name) return std::nullopt;
  Request request;
  request.message = *name;
  if (auto it = dict->find("userInfo"); it != dict->end()) {
    if (auto* info = it->second.asDictionary()) request.userInfo = std::move(*info);
  }
  return request;
}

std::string encodeReply(std::optional<foundation::Dictionary> reply) {
  if (!reply) return {};
  auto bytes =
      foundation::dataFromPropertyList(foundation::Value(std::move(*reply)), foundation::PropertyListFormat::Binary);
  return std::string(bytes.begin(), bytes.end());
}

std::optional<foundation::Dictionary> decodeReply(std::string_view payload) {
  if (payload.empty()) return std::nullopt;
  auto value = foundation::propertyListFromData(payload.data(), payload.size());
  auto* dict = value ? value->asDictionary() : nullptr;
  if (!dict) return std::nullopt;
  return std::move(*dict);
}

}  // namespace ipc
