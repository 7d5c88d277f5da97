// What a client sends the messaging centre, in, and the request the server would answer,
// out. The frame reader takes the same bytes the same way however the stream is cut,
// never more than one frame within the limit, and a request decoded from a frame keeps
// its name when sent again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/ipc/frame.h"

namespace {

// Feeds `stream` in pieces whose sizes come from the stream's own bytes.
ipc::FrameReader readInPieces(std::string_view stream, std::uint32_t max, std::size_t* taken) {
  ipc::FrameReader reader(max);
  *taken = 0;
  std::size_t pos = 0;
  while (pos < stream.size() && reader.state() == ipc::FrameReader::State::Reading) {
    std::size_t piece = 1 + static_cast<unsigned char>(stream[pos]) % 7;
    piece = std::min(piece, stream.size() - pos);
    std::size_t n = reader.feed(stream.data() + pos, piece);
    if (n > piece) std::abort();
    *taken += n;
    pos += piece;
    if (n < piece && reader.state() == ipc::FrameReader::State::Reading) std::abort();  // stopped early
  }
  return reader;
}

void checkRequest(std::string_view payload) {
  auto request = ipc::decodeRequest(payload);
  if (!request) return;
  auto again = ipc::decodeRequest(ipc::encodeRequest(request->message, request->userInfo));
  if (!again || again->message != request->message) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view stream(reinterpret_cast<const char*>(data), size);
  // A small limit, so the fuzzer reaches both sides of it.
  constexpr std::uint32_t kMax = 1024;

  ipc::FrameReader whole(kMax);
  std::size_t takenWhole = whole.feed(stream.data(), stream.size());
  std::size_t takenPieces = 0;
  auto pieces = readInPieces(stream, kMax, &takenPieces);
  if (whole.state() != pieces.state() || takenWhole != takenPieces || whole.payload() != pieces.payload()) std::abort();
  if (takenWhole > 4 + kMax || whole.payload().size() > kMax) std::abort();
  switch (whole.state()) {
    case ipc::FrameReader::State::Complete:
      if (whole.payload().size() != whole.declaredLength() || takenWhole != 4 + whole.payload().size()) std::abort();
      checkRequest(whole.payload());
      break;
    case ipc::FrameReader::State::Oversized:
      if (whole.declaredLength() <= kMax || takenWhole != 4) std::abort();
      break;
    case ipc::FrameReader::State::Reading:
      if (takenWhole != stream.size() || whole.bytesWanted() == 0) std::abort();
      break;
  }

  // The same bytes as the payload of a well-formed frame, so the request decoder sees
  // every input whatever its first four bytes.
  if (stream.size() > ipc::kMaxRequestFrame) return 0;
  ipc::FrameReader framed(ipc::kMaxRequestFrame);
  auto frame = ipc::encodeFrame(stream);
  if (framed.feed(frame.data(), frame.size()) != frame.size()) std::abort();
  if (framed.state() != ipc::FrameReader::State::Complete || framed.payload() != stream) std::abort();
  checkRequest(framed.payload());
  return 0;
}
