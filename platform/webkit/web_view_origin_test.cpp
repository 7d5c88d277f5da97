// A document that was redirected takes the origin of the address it came from, frames
// and the top document alike: what the page's origin may not read stays unreadable
// through a frame, a fetch or a worker sent on to another origin by the page's own server.

#include "platform/webkit/test_pictures.h"
#include "platform/webkit/web_view.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/run_loop.h"
#include "platform/net/test_server.h"

namespace webkit::redirected_origin {
namespace {

struct LoadEnds : WebViewDelegate {
  std::vector<std::string> events;
  void webViewDidFinishLoad(WebView&) override { events.push_back("finish"); }
  void webViewDidFailLoadWithError(WebView&, const foundation::Error&) override { events.push_back("fail"); }
};

using test_pictures::redPixelPNG;

// The page's server ("site") sends some of its addresses on to another local service on
// another port ("service"), which sends no CORS header at all.
struct RedirectedOriginTest : ::testing::Test {
  std::mutex mu;
  std::map<std::string, int> serviceAsked;  // path -> requests the service got
  net::testing::TestServer site;
  net::testing::TestServer service;
  std::shared_ptr<WebView> view = WebView::create({{0, 0}, {320, 240}});
  std::shared_ptr<LoadEnds> ends = std::make_shared<LoadEnds>();

  void SetUp() override {
    view->setDelegate(ends);
    auto html = [](const std::string& body) {
      return [body](const httplib::Request&, httplib::Response& res) { res.set_content(body, "text/html"); };
    };
    auto sendOn = [](net::testing::TestServer& to, const std::string& path) {
      return [&to, path](const httplib::Request&, httplib::Response& res) { res.set_redirect(to.url(path)); };
    };
    // Frame A of the site's own, frame B sent on to the service, frame C the same in a
    // sandbox that keeps its origin but runs no script.
    // What the frames tell the page is kept from the start: the service's page may tell it
    // before the page's own load has ended.
    site.server().Get("/frames.html", html(R"(<body><script>
        var bLoads = 0, told = '', fromA = {};
        window.addEventListener('message', function (e) {
          if (e.source === frames[0]) fromA = e.data; else told = JSON.stringify(e.data);
        });
        function ask() {
          frames[0].postMessage('read', '*');
          return fromA.own === 'own' && document.readyState === 'complete' ? 'in' : '';
        }</script>
        <iframe id="a" src="/a.html"></iframe>
        <iframe id="b" src="/to-service" onload="bLoads++"></iframe>
        <iframe id="c" sandbox="allow-same-origin" src="/to-service"></iframe>
        <iframe id="d" src="/to-own"></iframe></body>)"));
    // Frame A reads its siblings when its parent asks, and answers what it saw.
    site.server().Get("/a.html", html(R"(<body>a<script>
        window.addEventListener('message', function (e) {
          if (e.data !== 'read') return;
          function read(f) { try { return String(f()); } catch (err) { return err.name; } }
          var f = parent.frames;
          parent.postMessage({
            service: read(function () { return f[1].document.body.textContent; }),
            serviceAddress: read(function () { return f[1].location.href; }),
            sandboxed: read(function () { return f[2].document.body.textContent; }),
            own: read(function () { return f[3].document.body.textContent; }),
            ownPath: read(function () { return f[3].location.pathname; }),
            ownPicture: read(function () { return f[3].document.getElementById('pic').naturalWidth; })
          }, '*');
        });</script></body>)"));
    site.server().Get("/to-service", sendOn(service, "/secret.html"));
    site.server().Get("/to-own", sendOn(site, "/sub/own.html"));
    site.server().Get("/sub/own.html", html(R"(<body>own<img id="pic" src="pic.png"></body>)"));
    site.server().Get("/sub/pic.png", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(redPixelPNG(), "image/png");
    });
    site.server().Get("/data.json", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("{\"site\": 1}", "application/json");
    });
    site.server().Get("/to-service-data", sendOn(service, "/data.json"));
    site.server().Get("/to-service-png", sendOn(service, "/red.png"));
    site.server().Get("/to-service-worker", sendOn(service, "/worker.js"));
    site.server().Get("/to-service-page", sendOn(service, "/page.html"));
    site.server().Get("/reader.html", html("<body>reader</body>"));

    auto counted = [this](auto answer) {
      return [this, answer](const httplib::Request& req, httplib::Response& res) {
        {
          std::lock_guard lock(mu);
          ++serviceAsked[req.path];
        }
        answer(req, res);
      };
    };
    // The service's page reads the service's own data and tells its parent what it saw.
    service.server().Get("/secret.html", counted([](const httplib::Request&, httplib::Response& res) {
      res.set_content(R"(<body>service secret<script>
          fetch('/data.json').then(function (r) { return r.text(); }, function () { return 'refused'; })
            .then(function (own) { parent.postMessage({href: location.href, own: own}, '*'); });
        </script></body>)",
                      "text/html");
    }));
    service.server().Get("/data.json", counted([](const httplib::Request&, httplib::Response& res) {
      res.set_content("{\"service\": 2}", "application/json");
    }));
    service.server().Get("/red.png", counted([](const httplib::Request&, httplib::Response& res) {
      res.set_content(redPixelPNG(), "image/png");
    }));
    service.server().Get("/worker.js", counted([](const httplib::Request&, httplib::Response& res) {
      res.set_content("postMessage('worker ran');", "application/javascript");
    }));
    service.server().Get("/page.html", counted([](const httplib::Request&, httplib::Response& res) {
      res.set_content("<body>service page</body>", "text/html");
    }));
    site.start();
    service.start();
  }

  bool load(const std::string& url) {
    ends->events.clear();
    view->loadRequest(net::URLRequest(*net::URL::fromString(url)));
    // A bound, not a speed: the first load starts the display server and the engine.
    return dispatch::RunLoop::main().runUntil([&] { return !ends->events.empty(); }, 60) &&
           ends->events.back() == "finish";
  }
  std::string eval(const std::string& script) { return view->stringByEvaluatingJavaScriptFromString(script); }
  // The value of `script` once it is not empty.
  std::string until(const std::string& script, double seconds = 20) {
    std::string value;
    dispatch::RunLoop::main().runUntil([&] { return !(value = eval(script)).empty(); }, seconds);
    return value;
  }
  int asked(const std::string& path) {
    std::lock_guard lock(mu);
    return serviceAsked[path];
  }
};

TEST_F(RedirectedOriginTest, AFrameSentToAnotherOriginTakesThatOrigin) {
  ASSERT_TRUE(load(site.url("/frames.html")));
  // The service's page runs as the service's: it reads its own data.
  EXPECT_EQ(until("told"),
            "{\"href\":\"wardvane-" + service.url("/secret.html") + "\",\"own\":\"{\\\"service\\\": 2}\"}");
  ASSERT_EQ(until("ask()"), "in");
  const struct {
    const char* what;
    const char* script;
    const char* expected;
  } reads[] = {
      {"frame A reads the service's frame", "fromA.service", "SecurityError"},
      {"frame A reads its address", "fromA.serviceAddress", "SecurityError"},
      {"the top reads the service's frame", "try { frames[1].document.body.textContent } catch (e) { e.name }",
       "SecurityError"},
      {"the top asks for its document", "String(document.getElementById('b').contentDocument)", "null"},
      // Without script the frame is never sent on: it stays empty, the service's page unread.
      {"frame A reads the sandboxed frame", "fromA.sandboxed", ""},
      // Sent on within the site: the frame is of A's origin, its address is the last one,
      // and its relative addresses resolve against it.
      {"frame A reads the site's frame sent on", "fromA.own", "own"},
      {"its address", "fromA.ownPath", "/sub/own.html"},
      {"its picture", "fromA.ownPicture", "1"},
      // A redirect is one load of the frame.
      {"load events of the service's frame", "String(bLoads)", "1"},
  };
  for (const auto& r : reads) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(eval(r.script), r.expected);
  }
  // The service's page was fetched once for each frame sent to it (the sandboxed one too),
  // although each such frame loaded twice.
  EXPECT_EQ(asked("/secret.html"), 2);
}

TEST_F(RedirectedOriginTest, ScriptsReadNothingOfAnotherOriginThroughAHop) {
  ASSERT_TRUE(load(site.url("/reader.html")));
  eval(R"(
    var results = {};
    function note(name, p) {
      p.then(function (v) { results[name] = String(v); }, function () { results[name] = 'refused'; });
    }
    function text(r) { return r.text(); }
    function picture(src, crossOrigin) {
      return new Promise(function (resolve, reject) {
        var img = new Image();
        if (crossOrigin) img.crossOrigin = crossOrigin;
        img.onload = function () { resolve('width ' + img.naturalWidth); };
        img.onerror = reject;
        img.src = src;
      });
    }
    note('fetch', fetch('/to-service-data').then(text));
    note('fetchNoCors', fetch('/to-service-data', {mode: 'no-cors'}).then(text));
    note('xhr', new Promise(function (resolve, reject) {
      var x = new XMLHttpRequest();
      x.open('GET', '/to-service-data');
      x.onload = function () { resolve(x.responseText); };
      x.onerror = reject;
      x.send();
    }));
    note('worker', new Promise(function (resolve, reject) {
      var w = new Worker('/to-service-worker');
      w.onmessage = function (e) { resolve(e.data); };
      w.onerror = function (e) { e.preventDefault(); reject(); };
    }));
    note('picture', picture('/to-service-png'));
    note('pictureForReading', picture('/to-service-png', 'anonymous'));
    note('ownData', fetch('/data.json').then(text));
  )");
  const struct {
    const char* read;
    const char* expected;
  } cases[] = {
      {"fetch", "refused"},
      {"xhr", "refused"},
      // A browser's answer is opaque: neither status nor body reach the page.
      {"fetchNoCors", ""},
      {"worker", "refused"},
      // Pictures show from anywhere; one asked for reading needs the other origin's leave.
      {"picture", "width 1"},
      {"pictureForReading", "refused"},
      {"ownData", "{\"site\": 1}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.read);
    EXPECT_EQ(until("(results['" + std::string(c.read) + "'] !== undefined) ? '=' + results['" + c.read + "'] : ''"),
              std::string("=") + c.expected);
  }
}

TEST_F(RedirectedOriginTest, ATopDocumentSentToAnotherOriginTakesThatOrigin) {
  ASSERT_TRUE(load(site.url("/to-service-page")));
  EXPECT_EQ(view->documentURL(), service.url("/page.html"));
  EXPECT_EQ(eval("location.origin"), service.url(""));
  eval(R"(
    var results = {};
    function read(name, url) {
      fetch(url).then(function (r) { return r.text(); })
        .then(function (t) { results[name] = t; }, function () { results[name] = 'refused'; });
    }
    read('own', '/data.json');
    read('site', ')" + site.url("/data.json") + R"(');
  )");
  EXPECT_EQ(until("results.own || ''"), "{\"service\": 2}");
  EXPECT_EQ(until("results.site || ''"), "refused");
  EXPECT_EQ(asked("/page.html"), 1);
}

}  // namespace
}  // namespace webkit::redirected_origin
