// Measures what carrying the ad component costs the two deliverables at start-up, against
// bench-only builds of both without it (libWardvane-without-ads.so, WardvaneApp-without-ads):
//  - homescreen loading the plug-in: from spawn to its "ready" line (plug-in loaded, launch
//    posted) and to the answer of a first "clock" (the main run loop serving commands);
//  - WardvaneApp: from spawn to the end of the answer of a first "screen" (launched, the
//    list screen up);
//  - for both, from spawn to the answer of the same command a second time, written once
//    the first answer came: by then the ad component has started too (its early
//    activities wait until the host has served what was ready at its launch);
//  - from "quit" to the exit of the process;
//  - and the processor time of the whole run, all threads (less disturbed by a busy
//    machine than the times on the clock, which wait for the processor too).
// The first command is written at once, so each time is the earliest the program can
// answer.
// Each variant runs in a device root of its own kept across its runs, as a phone keeps its
// files, after a few warm-up runs that are not counted; the variants take turns so a
// slower spell of the machine falls on both. Prints the median, the 25th-75th percentiles
// and the least of each, and the difference of the medians.
// Then it plays a short command script through both deliverables together, with and
// without the component, and prints "outputs identical" or the first difference (answers
// and standard error; --print-script prints them).
//   bench_startup [--runs N] [--no-compare] [--print-script]

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench/options/options.h"
#include "tools/testsupport/spawn_on_pipes.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0, Clock::time_point t1) {
  return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

// A program on two pipes: commands in, answer lines out, standard error to a file.
class Child {
 public:
  Child(const std::string& path, const std::vector<std::string>& args, const fs::path& root,
        const fs::path& stderrFile) {
    // The program sees this device root and time zone only.
    const auto program =
        testsupport::spawnOnPipes(path, args, {"WARDVANE_DEVICE_ROOT=" + root.string(), "TZ=UTC"}, stderrFile);
    pid_ = program.pid;
    toChild_ = program.toChild;
    fromChild_ = program.fromChild;
    if (pid_ < 0) throw std::runtime_error("cannot start " + path + ": " + std::strerror(program.error));
  }

  ~Child() {
    closeInput();
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (fromChild_ >= 0) ::close(fromChild_);
  }

  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  void write(const std::string& line) {
    std::string s = line + "\n";
    if (::write(toChild_, s.data(), s.size()) != static_cast<ssize_t>(s.size()))
      throw std::runtime_error("cannot write \"" + line + "\"");
  }

  void closeInput() {
    if (toChild_ >= 0) ::close(toChild_);
    toChild_ = -1;
  }

  // The next line without its newline; nullopt at the end of the output. A program that
  // says nothing for ten seconds is a failure.
  std::optional<std::string> readLine() {
    std::string line;
    switch (lines_.next(fromChild_, std::chrono::seconds(10), line)) {
      case testsupport::LineReader::Status::Line:
        return line;
      case testsupport::LineReader::Status::TimedOut:
        throw std::runtime_error("no answer within 10 s");
      case testsupport::LineReader::Status::Closed:
        break;
    }
    return std::nullopt;
  }


  std::string expectLine() {
    auto line = readLine();
    if (!line) throw std::runtime_error("the program closed its output");
    return *line;
  }

  // Reads to the end of the output and waits for the exit, which must be a clean one.
  // Answers the processor time the program used, all its threads, in milliseconds.
  double finish() {
    while (readLine()) {
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid_, &status, 0, &usage);
    pid_ = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      throw std::runtime_error("the program ended with status " + std::to_string(status));
    auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
  }

 private:

  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  testsupport::LineReader lines_;
};

const fs::path kSettingsFile = "var/mobile/Library/Preferences/com.brimcote.wardvane.plist";

// A device root with the demo's settings file, as a phone that has the tool set up.
fs::path makeRoot(const fs::path& parent, const std::string& name) {
  auto root = parent / name;
  fs::create_directories(root / kSettingsFile.parent_path());
  fs::copy_file(fs::path(DEMO_DATA_DIR) / "settings.plist", root / kSettingsFile);
  fs::permissions(root / kSettingsFile, fs::perms::owner_read | fs::perms::owner_write);
  return root;
}

struct Variant {
  Variant(std::string p, std::vector<std::string> a, fs::path r)
      : path(std::move(p)), args(std::move(a)), root(std::move(r)) {}
  std::string path;
  std::vector<std::string> args;
  fs::path root;
  std::vector<double> ready, answer, second, exit, cpu;
};

struct Subject {
  std::string title;
  std::string command;  // the first command
  std::function<bool(const std::string&)> answerEnds;
  std::string readyPrefix;  // a line printed before serving, if any
  Variant with, without;
};

void timeOneRun(const Subject& s, Variant& v, bool record) {
  auto t0 = Clock::now();
  Child child(v.path, v.args, v.root, v.root / "stderr.txt");
  child.write(s.command);
  std::optional<double> ready;
  for (;;) {
    auto line = child.expectLine();
    if (!s.readyPrefix.empty() && !ready && line.rfind(s.readyPrefix, 0) == 0) ready = msSince(t0, Clock::now());
    if (s.answerEnds(line)) break;
  }
  auto t1 = Clock::now();
  child.write(s.command);
  while (!s.answerEnds(child.expectLine())) {
  }
  auto t2 = Clock::now();
  child.write("quit");
  double cpu = child.finish();
  auto t3 = Clock::now();
  if (!record) return;
  if (ready) v.ready.push_back(*ready);
  v.answer.push_back(msSince(t0, t1));
  v.second.push_back(msSince(t0, t2));
  v.exit.push_back(msSince(t2, t3));
  v.cpu.push_back(cpu);
}

double quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  double pos = q * static_cast<double>(v.size() - 1);
  auto i = static_cast<std::size_t>(pos);
  if (i + 1 >= v.size()) return v.back();
  return v[i] + (pos - static_cast<double>(i)) * (v[i + 1] - v[i]);
}

void printRow(const char* label, const std::vector<double>& v) {
  std::printf("  %-32s %8.2f   %6.2f-%-6.2f %8.2f\n", label, quantile(v, 0.5), quantile(v, 0.25), quantile(v, 0.75),
              quantile(v, 0.0));
}

void printMeasure(const std::string& what, const std::vector<double>& with, const std::vector<double>& without) {
  if (with.empty() || without.empty()) return;
  std::printf("%s, ms (%zu runs)\n", what.c_str(), with.size());
  std::printf("  %-32s %8s   %-13s %8s\n", "", "median", "p25-p75", "least");
  printRow("with the ad component", with);
  printRow("without it", without);
  double diff = quantile(with, 0.5) - quantile(without, 0.5);
  double base = quantile(without, 0.5);
  double spread = quantile(without, 0.75) - quantile(without, 0.25);
  std::printf("  %-32s %+8.2f   (%+.1f%%; %s the spread without it)\n", "difference of the medians", diff,
              100.0 * diff / base, std::abs(diff) <= spread ? "within" : "beyond");
}

// ---- the same commands with and without the component

struct Transcript {
  std::vector<std::string> lines;

  // Sends a command and records it with its answer (a "=== screen" block whole).
  void exchange(Child& child, const std::string& who, const std::string& command) {
    child.write(command);
    lines.push_back(who + " > " + command);
    auto line = child.expectLine();
    lines.push_back(who + " < " + line);
    if (line == "=== screen") {
      do {
        line = child.expectLine();
        lines.push_back(who + " | " + line);
      } while (line != "=== end");
    }
  }

  void addFile(const std::string& label, const fs::path& file) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(label + " " + line);
  }
};

// The restriction story in short: the home screen refuses a restricted app in its window,
// lets the others through, and the settings application lists, opens and changes records.
Transcript playScript(const std::string& homescreen, const std::string& plugin, const std::string& app,
                      const fs::path& root) {
  Transcript t;
  Child hs(homescreen,
           {"--apps", std::string(DEMO_DATA_DIR) + "/apps.json", "--plugin", plugin, "--clock", "2024-03-01 10:00"},
           root, root / "homescreen-stderr.txt");
  t.lines.push_back("homescreen < " + hs.expectLine());
  for (const char* c : {"unlock", "clock", "clock advance 1", "launch com.example.game", "alert", "alert tap Ok",
                        "clock advance 1", "launch com.example.notes", "clock advance 1", "press com.example.game",
                        "press com.example.notes", "clock advance 1", "tap card com.example.game", "alert",
                        "alert tap Ok", "clock advance 1", "tap item com.example.notes", "clock advance 1",
                        "tap icon com.example.game", "alert tap Ok", "switcher load", "home vc", "apps changed"})
    t.exchange(hs, "homescreen", c);
  {
    Child wa(app, {}, root, root / "app-stderr.txt");
    for (const char* c : {"screen", "tap 0", "screen", "switch 0 off", "back", "button Settings", "screen",
                          "switch 1 off", "tap 4", "choose Dark", "theme", "back", "button Sort", "screen",
                          "choose Data Usage", "screen", "background", "foreground", "screen", "quit"})
      t.exchange(wa, "WardvaneApp", c);
    wa.finish();
  }
  for (const char* c : {"clock advance 1", "launch com.example.game", "notifications", "log", "quit"})
    t.exchange(hs, "homescreen", c);
  hs.finish();
  t.addFile("homescreen stderr:", root / "homescreen-stderr.txt");
  t.addFile("WardvaneApp stderr:", root / "app-stderr.txt");
  return t;
}

bool compareOutputs(const fs::path& work, bool print) {
  auto with = playScript(HOMESCREEN_PATH, PLUGIN_PATH, WARDVANEAPP_PATH, makeRoot(work, "script-with"));
  auto without = playScript(HOMESCREEN_PATH, PLUGIN_WITHOUT_ADS_PATH, WARDVANEAPP_WITHOUT_ADS_PATH,
                            makeRoot(work, "script-without"));
  if (print)
    for (const auto& l : with.lines) std::printf("%s\n", l.c_str());
  std::printf("the same commands with and without the ad component (%zu lines): ", with.lines.size());
  for (std::size_t i = 0; i < std::max(with.lines.size(), without.lines.size()); ++i) {
    auto a = i < with.lines.size() ? with.lines[i] : "<nothing>";
    auto b = i < without.lines.size() ? without.lines[i] : "<nothing>";
    if (a != b) {
      std::printf("first difference at line %zu\n  with:    %s\n  without: %s\n", i + 1, a.c_str(), b.c_str());
      return false;
    }
  }
  std::printf("outputs identical\n");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr const char* kUsage = "bench_startup [--runs N (40)] [--no-compare] [--print-script]";
  const auto options =
      bench::parseOptionsOrExit(argc, argv, {{"--runs", true}, {"--no-compare"}, {"--print-script"}}, 0, kUsage);
  const int runs = options.has("--runs") ? static_cast<int>(bench::wholeNumberOrExit(
                                               "bench_startup", "--runs", *options.value("--runs"), 1, 10000, kUsage))
                                         : 40;
  const bool compare = !options.has("--no-compare");
  const bool printScript = options.has("--print-script");

  auto work = fs::temp_directory_path() / ("wv-bench-startup-" + std::to_string(::getpid()));
  fs::create_directories(work);
  bool ok = true;
  try {
    const std::string fixture = std::string(DEMO_DATA_DIR) + "/apps.json";
    std::vector<Subject> subjects;
    subjects.push_back(Subject{
        "homescreen loading the plug-in",
        "clock",
        [](const std::string& l) { return l.rfind("clock ", 0) == 0; },
        "homescreen ready:",
        Variant(HOMESCREEN_PATH, {"--apps", fixture, "--plugin", PLUGIN_PATH}, makeRoot(work, "homescreen-with")),
        Variant(HOMESCREEN_PATH, {"--apps", fixture, "--plugin", PLUGIN_WITHOUT_ADS_PATH},
                makeRoot(work, "homescreen-without"))});
    subjects.push_back(Subject{"WardvaneApp", "screen", [](const std::string& l) { return l == "=== end"; }, "",
                               Variant(WARDVANEAPP_PATH, {}, makeRoot(work, "app-with")),
                               Variant(WARDVANEAPP_WITHOUT_ADS_PATH, {}, makeRoot(work, "app-without"))});

    const int warmUp = 3;
    for (auto& s : subjects) {
      for (int r = 0; r < warmUp + runs; ++r) {
        // Each takes the first turn every other run.
        bool withFirst = r % 2 == 0;
        timeOneRun(s, withFirst ? s.with : s.without, r >= warmUp);
        timeOneRun(s, withFirst ? s.without : s.with, r >= warmUp);
      }
      std::printf("== %s\n", s.title.c_str());
      printMeasure("spawn to \"" + s.readyPrefix + "\"", s.with.ready, s.without.ready);
      printMeasure("spawn to the answer of \"" + s.command + "\"", s.with.answer, s.without.answer);
      printMeasure("spawn to the answer of a second \"" + s.command + "\"", s.with.second, s.without.second);
      printMeasure("\"quit\" to exit", s.with.exit, s.without.exit);
      printMeasure("processor time of the whole run, all threads", s.with.cpu, s.without.cpu);
    }
    if (compare) ok = compareOutputs(work, printScript);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_startup: %s\n", e.what());
    ok = false;
  }
  fs::remove_all(work);
  return ok ? 0 : 1;
}
