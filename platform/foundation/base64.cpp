#include "platform/foundation/base64.h"

#include <array>

namespace foundation {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> makeReverse() {
  std::array<int8_t, 256> r{};
  for (auto& x : r) x = -1;
  for (int i = 0; i < 64; ++i) r[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
  return r;
}
constexpr auto kReverse = makeReverse();

std::string encode(const uint8_t* p, size_t n) {
  std::string out;
  out.reserve((n + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (n - i == 1) {
    uint32_t v = p[i] << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (n - i == 2) {
    uint32_t v = (p[i] << 16) | (p[i + 1] << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

}  // namespace

std::string base64Encode(const Bytes& data) { return encode(data.data(), data.size()); }
std::string base64Encode(std::string_view data) {
  return encode(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

std::optional<Bytes> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  Bytes out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      char c = text[i + k];
      if (c == '=') {
        // Padding only in the last group's last one or two places.
        if (i + 4 != text.size() || k < 2) return std::nullopt;
        ++pad;
        v[k] = 0;
      } else {
        if (pad) return std::nullopt;
        v[k] = kReverse[static_cast<unsigned char>(c)];
        if (v[k] < 0) return std::nullopt;
      }
    }
    uint32_t w = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
    out.push_back(static_cast<uint8_t>(w >> 16));
    if (pad < 2) out.push_back(static_cast<uint8_t>(w >> 8));
    if (pad < 1) out.push_back(static_cast<uint8_t>(w));
  }
  return out;
}

}  // namespace foundation
