#pragma once
// What adserver plays for banners whose pages flood the network: creatives that start
// `burst` (or 2,000) requests to `silent`, a server that takes connections and never
// answers; a picture that never ends; an answer redirected to a body that never ends; and
// a plain banner beside them. Each unit is named after its ad. Shared by the end-to-end
// test of the pages' line and by the benchmark of many hostile banners at once.

#include <string>

#include <nlohmann/json.hpp>

namespace adhost_test {

// `silent` is the silent server's base URL ending in "/". The burst pages count what they
// sent in `window.sent`.
inline nlohmann::json hostileRequestsScenario(const std::string& silent, int burst) {
  auto flood = [&silent](int n) {
    return "<body>Burst<script>window.sent = 0;"
           "for (let i = 0; i < " + std::to_string(n) + "; i++) {"
           "  fetch('" + silent + "' + i).catch(() => {}); window.sent++; }"
           "</script></body>";
  };
  return {{"ads",
           {{"burst", {{"body", flood(burst)}}},
            {"small-burst", {{"body", flood(2000)}}},
            {"plain", {{"body", "<body>Plain</body>"}}},
            {"endless-picture",
             {{"body", "<body style='margin:0'><div>Still here</div><img src='{base}/hostile/endless.png'></body>"}}},
            {"to-endless", {{"status", 302}, {"headers", {{"Location", "{base}/hostile/endless-answer"}}}}}}},
          {"files",
           {{"/hostile/endless-answer", {{"body", "<body>"}, {"endless", true}}},
            {"/hostile/endless.png", {{"content_type", "image/png"}, {"endless", true}}}}},
          {"ad_rules",
           {{{"when", {{"slotname", "burst"}}}, {"ad", "burst"}},
            {{"when", {{"slotname", "small-burst"}}}, {"ad", "small-burst"}},
            {{"when", {{"slotname", "plain"}}}, {"ad", "plain"}},
            {{"when", {{"slotname", "endless-picture"}}}, {"ad", "endless-picture"}},
            {{"when", {{"slotname", "endless-answer"}}}, {"ad", "to-endless"}}}}};
}

}  // namespace adhost_test
