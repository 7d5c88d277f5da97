// Fingerprinting one screen of about 5,000 words, next to tokenizing the same text
// alone. The fingerprint adds lower-casing, a hash per token, the rolling hash and the
// heap; the target is at most 3 times the tokenizer's time.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "ads/services/content.h"
#include "bench/options/options.h"
#include "platform/unicode/unicode.h"

namespace {

std::string makeScreen(int words) {
  static const char* const kVocabulary[] = {
      "the",     "News",    "of",       "day",     "market", "Opens",   "higher", "after",    "weather",
      "report",  "city",    "council",  "votes",   "on",     "new",     "budget", "for",      "schools",
      "café",    "naïve",   "Straße",   "東京",     "株価",    "上昇",     "서울",    "Ünïcödé",  "résumé",
      "2024",    "42",      "players",  "team",    "wins",   "final",   "score",  "update:",  "(live)",
  };
  std::mt19937 rng(7);
  std::uniform_int_distribution<size_t> pick(0, std::size(kVocabulary) - 1);
  std::uniform_int_distribution<int> lineLength(4, 24);
  std::string text;
  int written = 0;
  while (written < words) {
    const int n = lineLength(rng);
    for (int i = 0; i < n && written < words; ++i, ++written) {
      if (i) text += ' ';
      text += kVocabulary[pick(rng)];
    }
    text += '\n';
  }
  return text;
}

template <class F>
double medianMicroseconds(F&& f, int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    f();
    times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  bench::parseOptionsOrExit(argc, argv, {}, 0, "bench_fingerprint");
  const std::string screen = makeScreen(5000);
  size_t sink = 0;
  QMAContent::tokenize(u"warm up");  // builds the character sets once

  const double tokenize = medianMicroseconds(
      [&] {
        const std::u16string text = unicode::utf16FromUTF8(screen);
        std::u16string_view rest(text);
        for (;;) {
          const size_t end = rest.find(u'\n');
          sink += QMAContent::tokenize(rest.substr(0, end)).size();
          if (end == std::u16string_view::npos) break;
          rest.remove_prefix(end + 1);
        }
      },
      201);
  const double fingerprint = medianMicroseconds(
      [&] {
        QMAContent content(1, QMAContentConstants{});
        content.updateContentWithText(screen);
        sink += content.fingerprint().size();
      },
      201);

  std::printf("screen: %zu bytes, 5000 words\n", screen.size());
  std::printf("tokenize alone:  %8.1f us\n", tokenize);
  std::printf("fingerprint:     %8.1f us\n", fingerprint);
  std::printf("ratio fingerprint/tokenize: %.2f (target <= 3)\n", fingerprint / tokenize);
  return sink == 0;
}
