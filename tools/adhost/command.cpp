#include "tools/adhost/command.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace adhost {
namespace {

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

bool isNameCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
}

// A name: letters, digits, "_", "-", "." (no spaces, no control characters).
bool isName(std::string_view text) {
  if (text.empty() || text.size() > kMaximumNameLength) return false;
  for (char c : text)
    if (!isNameCharacter(c)) return false;
  return true;
}

// Printable ASCII without spaces: what an ad unit ID, user ID, parameter or selector may be.
bool isToken(std::string_view text) {
  if (text.empty() || text.size() > kMaximumNameLength * 4) return false;
  for (char c : text)
    if (c <= ' ' || c > '~') return false;
  return true;
}

// A decimal number written plainly (digits, one point, an optional leading minus).
// A file name for a PNG: printable, no spaces, ending in ".png".
bool isPNGPath(std::string_view text) {
  constexpr std::string_view suffix = ".png";
  if (text.size() <= suffix.size() || text.size() > kMaximumPathLength) return false;
  for (char c : text)
    if (c <= ' ' || c > '~') return false;
  std::string tail(text.substr(text.size() - suffix.size()));
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == suffix;
}

std::optional<double> parseNumber(std::string_view text) {
  if (text.empty() || text.size() > 32) return std::nullopt;
  std::size_t i = text[0] == '-' ? 1 : 0;
  bool digits = false, point = false;
  for (std::size_t j = i; j < text.size(); ++j) {
    if (std::isdigit(static_cast<unsigned char>(text[j]))) {
      digits = true;
    } else if (text[j] == '.' && !point) {
      point = true;
    } else {
      return std::nullopt;
    }
  }
  if (!digits) return std::nullopt;
  const std::string copy(text);
  const double value = std::strtod(copy.c_str(), nullptr);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<std::size_t> parseIndex(std::string_view text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  std::size_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

ParseError usage(std::string_view text) { return ParseError{"usage: " + std::string(text)}; }

// The pieces of a comma-separated list (at most 16; empty pieces dropped).
std::vector<std::string_view> split(std::string_view list, char separator) {
  std::vector<std::string_view> out;
  while (!list.empty() && out.size() < 16) {
    const auto at = list.find(separator);
    if (at != 0) out.push_back(list.substr(0, at));
    list = at == std::string_view::npos ? std::string_view() : list.substr(at + 1);
  }
  return out;
}

}  // namespace

std::optional<QMAAdSize> parseAdSize(std::string_view text) {
  if (text == "banner") return kQMAAdSizeBanner;
  if (text == "largebanner") return kQMAAdSizeLargeBanner;
  if (text == "mrec") return kQMAAdSizeMediumRectangle;
  if (text == "fullbanner") return kQMAAdSizeFullBanner;
  if (text == "leaderboard") return kQMAAdSizeLeaderboard;
  if (text == "skyscraper") return kQMAAdSizeSkyscraper;
  if (text == "smart") return kQMAAdSizeSmartBannerPortrait;
  if (text == "smart-landscape") return kQMAAdSizeSmartBannerLandscape;
  const auto x = text.find('x');
  if (x == std::string_view::npos) return std::nullopt;
  const auto width = parseNumber(text.substr(0, x));
  const auto height = parseNumber(text.substr(x + 1));
  if (!width || !height || *width < 0 || *height < 0 || *width > kMaximumDimension || *height > kMaximumDimension)
    return std::nullopt;
  return QMAAdSizeFromCGSize({*width, *height});
}

std::optional<uikit::Point> parsePoint(std::string_view text) {
  const auto comma = text.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  const auto x = parseNumber(text.substr(0, comma));
  const auto y = parseNumber(text.substr(comma + 1));
  if (!x || !y || std::fabs(*x) > kMaximumDimension || std::fabs(*y) > kMaximumDimension) return std::nullopt;
  return uikit::Point{*x, *y};
}

std::optional<double> parseSeconds(std::string_view text) {
  const auto seconds = parseNumber(text);
  if (!seconds || !(*seconds > 0) || *seconds > kMaximumClockStep) return std::nullopt;
  return seconds;
}

std::variant<Command, ParseError> parseCommand(std::string_view line) {
  if (line.size() > kMaximumLineLength) return ParseError{"the line is longer than 4096 bytes"};
  for (char c : line)
    if (c == '\0' || c == '\n') return ParseError{"the line holds a control character"};
  const auto w = words(line);
  Command c;
  if (w.empty() || w[0][0] == '#') return c;
  const std::string_view verb = w[0];
  auto needName = [&](std::size_t at, const char* form) -> std::optional<ParseError> {
    if (w.size() <= at || !isName(w[at])) return usage(form);
    c.name = std::string(w[at]);
    return std::nullopt;
  };
  auto only = [&](std::size_t count, const char* form) -> std::optional<ParseError> {
    if (w.size() != count) return usage(form);
    return std::nullopt;
  };

  if (verb == "banner" || verb == "kvr-banner") {
    const char* form = verb == "banner" ? "banner NAME [SIZE] [at X,Y] [unit UNIT] [no-root]"
                                        : "kvr-banner NAME [SIZE] [at X,Y] [unit UNIT] [no-root] [sizes SIZE,SIZE...] "
                                          "[manual-impressions] [custom-rendering]";
    c.verb = verb == "banner" ? Verb::Banner : Verb::KVRBanner;
    if (auto e = needName(1, form)) return *e;
    std::size_t i = 2;
    if (i < w.size()) {
      if (auto size = parseAdSize(w[i])) {
        c.size = size;
        ++i;
      }
    }
    for (; i < w.size(); ++i) {
      if (w[i] == "at" && i + 1 < w.size() && parsePoint(w[i + 1])) {
        c.origin = parsePoint(w[++i]);
      } else if (w[i] == "unit" && i + 1 < w.size() && isToken(w[i + 1])) {
        c.unit = std::string(w[++i]);
      } else if (w[i] == "no-root") {
        c.noRoot = true;
      } else if (c.verb == Verb::KVRBanner && w[i] == "sizes" && i + 1 < w.size()) {
        std::string_view list = w[++i];
        while (!list.empty()) {
          const auto comma = list.find(',');
          auto size = parseAdSize(list.substr(0, comma));
          if (!size || c.validSizes.size() >= 16) return usage(form);
          c.validSizes.push_back(*size);
          list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        }
      } else if (c.verb == Verb::KVRBanner && w[i] == "manual-impressions") {
        c.manualImpressions = true;
      } else if (c.verb == Verb::KVRBanner && w[i] == "custom-rendering") {
        c.customRendering = true;
      } else {
        return usage(form);
      }
    }
    return c;
  }
  if (verb == "interstitial" || verb == "kvr-interstitial") {
    const char* form = verb == "interstitial" ? "interstitial NAME [unit UNIT]"
                                              : "kvr-interstitial NAME [unit UNIT] [custom-rendering]";
    c.verb = verb == "interstitial" ? Verb::Interstitial : Verb::KVRInterstitial;
    if (auto e = needName(1, form)) return *e;
    for (std::size_t i = 2; i < w.size(); ++i) {
      if (w[i] == "unit" && i + 1 < w.size() && isToken(w[i + 1])) {
        c.unit = std::string(w[++i]);
      } else if (c.verb == Verb::KVRInterstitial && w[i] == "custom-rendering") {
        c.customRendering = true;
      } else {
        return usage(form);
      }
    }
    return c;
  }
  if (verb == "load") {
    c.verb = Verb::Load;
    if (auto e = needName(1, "load NAME [KEY=VALUE ...]")) return *e;
    for (std::size_t i = 2; i < w.size(); ++i) {
      const auto eq = w[i].find('=');
      if (eq == std::string_view::npos || eq == 0 || !isToken(w[i])) return usage("load NAME [KEY=VALUE ...]");
      c.parameters.emplace_back(std::string(w[i].substr(0, eq)), std::string(w[i].substr(eq + 1)));
    }
    return c;
  }
  if (verb == "reward") {
    if (w.size() >= 3 && w.size() <= 4 && w[1] == "load" && isToken(w[2]) && (w.size() == 3 || isToken(w[3]))) {
      c.verb = Verb::RewardLoad;
      c.unit = std::string(w[2]);
      if (w.size() == 4) c.user = std::string(w[3]);
      return c;
    }
    if (w.size() == 2 && w[1] == "present") {
      c.verb = Verb::RewardPresent;
      return c;
    }
    return usage("reward load UNIT [USER] | reward present");
  }
  struct NameVerb {
    const char* word;
    Verb verb;
    const char* form;
  };
  static const NameVerb nameVerbs[] = {
      {"present", Verb::Present, "present NAME"},     {"cancel", Verb::Cancel, "cancel NAME"},
      {"hide", Verb::Hide, "hide NAME"},              {"show", Verb::Show, "show NAME"},
      {"remove", Verb::Remove, "remove NAME"},        {"impression", Verb::Impression, "impression NAME"},
  };
  for (const auto& nv : nameVerbs) {
    if (verb != nv.word) continue;
    c.verb = nv.verb;
    if (auto e = needName(1, nv.form)) return *e;
    if (auto e = only(2, nv.form)) return *e;
    return c;
  }
  if (verb == "tap") {
    constexpr const char* form = "tap NAME [LINK | ASSET | at X,Y]";
    c.verb = Verb::Tap;
    if (auto e = needName(1, form)) return *e;
    if (w.size() == 3) {
      c.link = parseIndex(w[2]);
      if (!c.link) {
        if (!isToken(w[2])) return usage(form);
        c.asset = std::string(w[2]);
      }
    } else if (w.size() == 4 && w[2] == "at") {
      c.origin = parsePoint(w[3]);
      if (!c.origin) return usage(form);
    } else if (w.size() != 2) {
      return usage(form);
    }
    return c;
  }
  if (verb == "native") {
    const char* form = "native NAME TYPE[,TYPE...] [unit UNIT] [templates ID,...] [multiple-images] [no-images]";
    c.verb = Verb::Native;
    if (auto e = needName(1, form)) return *e;
    if (w.size() < 3 || split(w[2], ',').empty()) return usage(form);
    for (const auto& type : split(w[2], ',')) {
      if (type != "content" && type != "app-install" && type != "custom") return usage(form);
      c.nativeTypes.emplace_back(type);
    }
    for (std::size_t i = 3; i < w.size(); ++i) {
      if (w[i] == "unit" && i + 1 < w.size() && isToken(w[i + 1])) {
        c.unit = std::string(w[++i]);
      } else if (w[i] == "templates" && i + 1 < w.size() && isToken(w[i + 1])) {
        for (const auto& id : split(w[++i], ',')) c.templateIDs.emplace_back(id);
      } else if (w[i] == "multiple-images") {
        c.multipleImages = true;
      } else if (w[i] == "no-images") {
        c.noImages = true;
      } else {
        return usage(form);
      }
    }
    return c;
  }
  if (verb == "browse") {
    c.verb = Verb::Browse;
    if (auto e = needName(1, "browse NAME URL")) return *e;
    if (w.size() != 3) return usage("browse NAME URL");
    c.url = std::string(w[2]);
    return c;
  }
  if (verb == "answer") {
    c.verb = Verb::Answer;
    if (w.size() < 2) return usage("answer TITLE");
    c.event = std::string(line.substr(static_cast<std::size_t>(w[1].data() - line.data())));
    return c;
  }
  if (verb == "calendar") {
    c.verb = Verb::Calendar;
    if (w.size() == 1) return c;
    if (w.size() != 2 || (w[1] != "grant" && w[1] != "deny")) return usage("calendar [grant|deny]");
    c.event = std::string(w[1]);
    return c;
  }
  if (verb == "js") {
    c.verb = Verb::Script;
    if (auto e = needName(1, "js NAME SCRIPT")) return *e;
    if (w.size() < 3) return usage("js NAME SCRIPT");
    // The script as written, from its first word to the end of the line.
    c.script = std::string(line.substr(static_cast<std::size_t>(w[2].data() - line.data())));
    return c;
  }
  if (verb == "frame") {
    c.verb = Verb::Frame;
    if (auto e = needName(1, "frame NAME X,Y WxH")) return *e;
    if (w.size() != 4) return usage("frame NAME X,Y WxH");
    c.origin = parsePoint(w[2]);
    const auto x = w[3].find('x');
    const auto width = x == std::string_view::npos ? std::nullopt : parseNumber(w[3].substr(0, x));
    const auto height = x == std::string_view::npos ? std::nullopt : parseNumber(w[3].substr(x + 1));
    if (!c.origin || !width || !height || *width < 0 || *height < 0 || *width > kMaximumDimension ||
        *height > kMaximumDimension)
      return usage("frame NAME X,Y WxH");
    c.frameSize = uikit::Size{*width, *height};
    return c;
  }
  if (verb == "size") {
    c.verb = Verb::Size;
    if (auto e = needName(1, "size NAME SIZE")) return *e;
    if (w.size() != 3 || !(c.size = parseAdSize(w[2]))) return usage("size NAME SIZE");
    return c;
  }
  if (verb == "autoload") {
    c.verb = Verb::Autoload;
    if (auto e = needName(1, "autoload NAME on|off")) return *e;
    if (w.size() != 3 || (w[2] != "on" && w[2] != "off")) return usage("autoload NAME on|off");
    c.on = w[2] == "on";
    return c;
  }
  if (verb == "implements") {
    c.verb = Verb::Implements;
    if (auto e = needName(1, "implements NAME all|none|SELECTOR...")) return *e;
    if (w.size() < 3 || w.size() > 12) return usage("implements NAME all|none|SELECTOR...");
    for (std::size_t i = 2; i < w.size(); ++i) {
      if (!isToken(w[i])) return usage("implements NAME all|none|SELECTOR...");
      c.selectors.emplace_back(w[i]);
    }
    return c;
  }
  if (verb == "configure") {
    c.verb = Verb::Configure;
    if (w.size() < 2 || w.size() > 3 || !isToken(w[1]) || (w.size() == 3 && !isToken(w[2])))
      return usage("configure CODE [TRACKING-ID]");
    c.unit = std::string(w[1]);
    if (w.size() == 3) c.user = std::string(w[2]);
    return c;
  }
  if (verb == "scroll") {
    c.verb = Verb::Scroll;
    if (w.size() != 2 || !(c.origin = parsePoint(w[1]))) return usage("scroll X,Y");
    return c;
  }
  if (verb == "swipe") {
    constexpr const char* form = "swipe NAME X,Y X,Y [cancelled]";
    c.verb = Verb::Swipe;
    if (auto e = needName(1, form)) return *e;
    if (w.size() < 4 || w.size() > 5 || !(c.origin = parsePoint(w[2])) || !(c.to = parsePoint(w[3])) ||
        (w.size() == 5 && w[4] != "cancelled"))
      return usage(form);
    c.on = w.size() == 5;
    return c;
  }
  if (verb == "clock") {
    c.verb = Verb::Clock;
    if (w.size() == 1) return c;
    if (w.size() == 3 && w[1] == "advance" && (c.seconds = parseSeconds(w[2]))) return c;
    return usage("clock [advance SECONDS]");
  }
  if (verb == "events") {
    c.verb = Verb::Events;
    if (w.size() == 1) return c;
    if (auto e = needName(1, "events [NAME]")) return *e;
    if (auto e = only(2, "events [NAME]")) return *e;
    return c;
  }
  if (verb == "wait") {
    c.verb = Verb::Wait;
    if (auto e = needName(1, "wait NAME [EVENT]")) return *e;
    if (w.size() == 3 && isToken(w[2])) c.event = std::string(w[2]);
    else if (w.size() != 2) return usage("wait NAME [EVENT]");
    return c;
  }
  if (verb == "snapshot") {
    // The last word is the file; a word before it names the ad.
    // A native ad's name alone describes its asset views in text.
    constexpr const char* form = "snapshot [NAME] FILE.png | snapshot NAME";
    c.verb = Verb::Snapshot;
    if (w.size() == 3) {
      if (auto e = needName(1, form)) return *e;
    } else if (w.size() != 2) {
      return usage(form);
    }
    // A lone word that looks like a file (a dot or a slash in it) is a file, and must be a PNG.
    if (w.size() == 2 && w[1].find_first_of("./") == std::string_view::npos) {
      if (auto e = needName(1, form)) return *e;
      return c;
    }
    if (!isPNGPath(w.back())) return usage(form);
    c.file = std::string(w.back());
    return c;
  }
  // Web processes ending.
  if (verb == "crash") {
    c.verb = Verb::Crash;
    if (auto e = needName(1, "crash NAME")) return *e;
    if (auto e = only(2, "crash NAME")) return *e;
    return c;
  }
  if (verb == "crash-sdk-core") {
    if (w.size() != 1) return usage("crash-sdk-core");
    c.verb = Verb::CrashSDKCore;
    return c;
  }
  // ---- the device and the store
  if (verb == "rotate") {
    constexpr const char* form = "rotate portrait|landscape-left|landscape-right|upside-down";
    c.verb = Verb::Rotate;
    if (w.size() != 2) return usage(form);
    static const std::pair<std::string_view, long> orientations[] = {
        {"portrait", 1}, {"upside-down", 2}, {"landscape-left", 3}, {"landscape-right", 4}};
    for (const auto& [word, value] : orientations)
      if (w[1] == word) c.deviceOrientation = value;
    if (!c.deviceOrientation) return usage(form);
    return c;
  }
  if (verb == "store") {
    constexpr const char* form = "store fail|load ITEM";
    c.verb = Verb::StorePage;
    if (w.size() != 3 || (w[1] != "fail" && w[1] != "load")) return usage(form);
    std::int64_t item = 0;
    auto [end, ec] = std::from_chars(w[2].data(), w[2].data() + w[2].size(), item);
    if (ec != std::errc() || end != w[2].data() + w[2].size() || item < 0) return usage(form);
    c.storeItem = item;
    c.on = w[1] == "fail";
    return c;
  }
  struct PlainVerb {
    const char* word;
    Verb verb;
  };
  static const PlainVerb plainVerbs[] = {
      {"close", Verb::Close},   {"correlator", Verb::Correlator}, {"background", Verb::Background},
      {"foreground", Verb::Foreground}, {"screen", Verb::Screen},  {"requests", Verb::Requests}, {"log", Verb::Log},
      {"help", Verb::Help},     {"quit", Verb::Quit},
  };
  for (const auto& pv : plainVerbs) {
    if (verb != pv.word) continue;
    if (w.size() != 1) return usage(pv.word);
    c.verb = pv.verb;
    return c;
  }
  return ParseError{"unknown command \"" + std::string(verb.substr(0, kMaximumNameLength)) + "\" (try help)"};
}

std::string helpLine() {
  return "commands: banner NAME [SIZE] [at X,Y] [unit UNIT] [no-root] | kvr-banner NAME [SIZE] [at X,Y] [unit UNIT] "
         "[no-root] [sizes SIZE,...] [manual-impressions] [custom-rendering] | interstitial NAME [unit UNIT] | "
         "kvr-interstitial NAME [unit UNIT] [custom-rendering] | load NAME [KEY=VALUE ...] | present NAME | "
         "cancel NAME | reward load UNIT [USER] | reward present | tap NAME [LINK | ASSET | at X,Y] | close | "
         "browse NAME URL | js NAME SCRIPT | answer TITLE | calendar [grant|deny] | frame NAME X,Y WxH | scroll X,Y | "
         "swipe NAME X,Y X,Y [cancelled] | "
         "native NAME content|app-install|custom[,...] [unit UNIT] [templates ID,...] [multiple-images] [no-images] | "
         "size NAME SIZE | hide NAME | show NAME | remove NAME | autoload NAME on|off | impression NAME | "
         "implements NAME all|none|SELECTOR... | correlator | configure CODE [TRACKING-ID] | clock [advance SECONDS] | "
         "background | foreground | screen | requests | snapshot [NAME] FILE.png | snapshot NAME | events [NAME] | wait NAME [EVENT] | log | help | quit | "
         "crash NAME | crash-sdk-core | "
         "rotate portrait|landscape-left|landscape-right|upside-down | store fail|load ITEM; "
         "SIZE: banner largebanner mrec fullbanner leaderboard skyscraper smart smart-landscape WxH";
}

}  // namespace adhost
