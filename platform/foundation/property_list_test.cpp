#include "platform/foundation/property_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/foundation/log.h"

namespace foundation {
namespace {

Value sample() {
  Dictionary d;
  d["flag"] = true;
  d["off"] = false;
  d["count"] = -7;
  d["large"] = 4294967296LL * 3;
  d["ratio"] = 2.5;
  d["tiny"] = 1e-300;
  d["name"] = "Caf\xC3\xA9 \xF0\x9F\x8E\xAE";  // two- and four-byte UTF-8
  d["controls"] = std::string("a\0b\x01\r\n\t<&>", 10);
  d["blob"] = Bytes{0, 1, 2, 255};
  d["when"] = Date::fromReferenceDate(600000000);
  d["first day"] = Date{kEarliestStoredDate};
  d["last second"] = Date{kLatestStoredDate};
  d["list"] = Array{1, "two", Dictionary{{"three", 3}}, Array{}, Dictionary{}};
  d[std::string("key\0with nul", 12)] = "";
  return d;
}

// Nested arrays, `depth` of them, around one integer.
Value nested(int depth) {
  Value v(1);
  for (int i = 0; i < depth; ++i) v = Value(Array{std::move(v)});
  return v;
}

std::string xmlNested(int depth) {
  std::string s = "<plist version=\"1.0\">";
  for (int i = 0; i < depth; ++i) s += "<array>";
  s += "<true/>";
  for (int i = 0; i < depth; ++i) s += "</array>";
  return s + "</plist>";
}

void appendBigEndian(std::string& out, std::uint64_t v, unsigned width) {
  for (unsigned i = width; i-- > 0;) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::string ref(std::uint64_t index, unsigned width) {
  std::string out;
  appendBigEndian(out, index, width);
  return out;
}

std::string bigEndianDouble(double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  std::string out;
  appendBigEndian(out, bits, 8);
  return out;
}

// A binary property list of the given objects, written by hand; object 0 is the root.
std::string bplist(const std::vector<std::string>& objects, unsigned refSize = 1) {
  std::string out = "bplist00";
  std::vector<std::uint64_t> offsets;
  for (const auto& o : objects) {
    offsets.push_back(out.size());
    out += o;
  }
  std::uint64_t table = out.size();
  for (auto off : offsets) appendBigEndian(out, off, 8);
  out.append(6, '\0');
  out.push_back(8);
  out.push_back(static_cast<char>(refSize));
  appendBigEndian(out, objects.size(), 8);
  appendBigEndian(out, 0, 8);
  appendBigEndian(out, table, 8);
  return out;
}

// `depth` arrays: array `i` holds array `i + 1`, and the last is empty.
std::string binaryNested(int depth) {
  std::vector<std::string> objects;
  for (int i = 0; i + 1 < depth; ++i) objects.push_back("\xA1" + ref(static_cast<std::uint64_t>(i) + 1, 4));
  objects.push_back("\xA0");
  return bplist(objects, 4);
}

// Captures the system log, so a test can see why input was refused.
struct PropertyListTest : ::testing::Test {
  std::vector<std::string> lines;
  LogSink previous;
  std::filesystem::path dir;

  void SetUp() override {
    previous = setLogSink([this](const std::string& line) { lines.push_back(line); });
    char tmpl[] = "/tmp/wv-plist-XXXXXX";
    ASSERT_TRUE(::mkdtemp(tmpl));
    dir = tmpl;
  }
  void TearDown() override {
    setLogSink(previous);
    std::filesystem::remove_all(dir);
  }
  std::string log() const {
    std::string all;
    for (const auto& l : lines) all += l + "\n";
    return all;
  }
  std::optional<Value> parse(const std::string& bytes) { return propertyListFromData(bytes.data(), bytes.size()); }
  static mode_t modeOf(const std::filesystem::path& p) {
    struct stat st{};
    ::stat(p.c_str(), &st);
    return st.st_mode & 07777;
  }
};

TEST_F(PropertyListTest, RoundTripsEveryTypeThroughBothForms) {
  for (auto format : {PropertyListFormat::XML, PropertyListFormat::Binary}) {
    auto bytes = dataFromPropertyList(sample(), format);
    auto back = propertyListFromData(bytes);
    ASSERT_TRUE(back.has_value()) << log();
    EXPECT_EQ(*back, sample());
  }
  // Non-finite reals, and binary dates to the fraction of a second (XML keeps seconds).
  Dictionary odd{{"inf", -HUGE_VAL}, {"nan", std::nan("")}, {"when", Date{1709636400.25}}};
  auto bin = propertyListFromData(dataFromPropertyList(odd, PropertyListFormat::Binary));
  ASSERT_TRUE(bin);
  EXPECT_EQ(*bin->get("inf")->asReal(), -HUGE_VAL);
  EXPECT_TRUE(std::isnan(*bin->get("nan")->asReal()));
  EXPECT_EQ(*bin->get("when")->asDate(), Date{1709636400.25});
  auto xml = propertyListFromData(dataFromPropertyList(odd, PropertyListFormat::XML));
  ASSERT_TRUE(xml);
  EXPECT_TRUE(std::isnan(*xml->get("nan")->asReal()));
  EXPECT_EQ(*xml->get("when")->asDate(), Date{1709636400});
}

TEST_F(PropertyListTest, ReadsXmlAsOtherWritersLayItOut) {
  const char* text = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Example//DTD PLIST 1.0//EN" "http://example.com/PropertyList-1.0.dtd">
<!-- a comment -->
<plist version="1.0">
<dict>
	<key>escaped</key>   <string>&lt;a&gt; &amp; &#233;&#x1F3AE; <![CDATA[<raw>]]></string>
	<key>empty</key><string/>
	<key>hex</key><integer>0x1F</integer>
	<key>huge</key><integer>18446744073709551615</integer>
	<key>real</key><real> -1.5E3 </real>
	<key>when</key><date>2024-03-05T11:00:00Z</date>
	<key>data</key><data>
	AAEC
	/w
	</data>
	<key>yes</key><true></true>
</dict>
</plist>
)";
  auto v = parse(text);
  ASSERT_TRUE(v) << log();
  EXPECT_EQ(*v->get("escaped")->asString(), "<a> & \xC3\xA9\xF0\x9F\x8E\xAE <raw>");
  EXPECT_EQ(*v->get("empty")->asString(), "");
  EXPECT_EQ(*v->get("hex")->asInteger(), 31);
  EXPECT_EQ(*v->get("huge")->asInteger(), -1);  // unsigned 64-bit values keep their bits
  EXPECT_EQ(*v->get("real")->asReal(), -1500.0);
  EXPECT_EQ(*v->get("when")->asDate(), Date{1709636400});
  EXPECT_EQ(*v->get("data")->asData(), (Bytes{0, 1, 2, 255}));
  EXPECT_EQ(*v->get("yes")->asBoolean(), true);
  // A value need not be wrapped in <plist>.
  EXPECT_EQ(parse("<array><integer>-3</integer></array>"), Value(Array{-3}));
}

TEST_F(PropertyListTest, StringsHoldingUPlus0000AreReadWhole) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string expected;
  } cases[] = {
      {"XML reference", "<string>a&#0;b</string>", std::string("a\0b", 3)},
      {"binary ASCII", bplist({std::string("\x53" "a\0b", 4)}), std::string("a\0b", 3)},
      {"binary UTF-16", bplist({std::string("\x62\x00\x41\x00\x00", 5)}), std::string("A\0", 2)},
  };
  for (const auto& c : cases) {
    auto v = parse(c.bytes);
    ASSERT_TRUE(v) << c.what << "\n" << log();
    EXPECT_EQ(*v->asString(), c.expected) << c.what;
  }
}

// Each input is refused whole, with a log line that says why.
TEST_F(PropertyListTest, HostileInputIsRefusedWholeWithTheReasonLogged) {
  std::vector<std::string> explode;  // 40 levels of [x, x]: 2^40 values from 41 objects
  for (int i = 0; i < 40; ++i) explode.push_back("\xA2" + ref(i + 1, 1) + ref(i + 1, 1));
  explode.push_back("\x09");
  std::string many = "\xAF\x10\x40";  // 64 references to one 1 MiB data object
  for (int i = 0; i < 64; ++i) many += ref(1, 1);
  std::string mib = "\x4F\x12" + ref(1u << 20, 4) + std::string(1u << 20, 'x');

  struct Case {
    const char* what;
    std::string bytes;
    const char* reason;
  } cases[] = {
      {"XML 100,000 deep", xmlNested(100000), "nesting deeper than 512"},
      {"XML 513 deep", xmlNested(513), "nesting deeper than 512"},
      {"binary 100,000 deep", binaryNested(100000), "nesting deeper than 512"},
      {"binary 513 deep", binaryNested(513), "nesting deeper than 512"},
      {"binary array holding itself", bplist({"\xA1" + ref(0, 1)}), "nesting deeper than 512"},
      {"binary shared arrays", bplist(explode), "more than 262144 values"},
      {"binary shared data", bplist({many, mib}), "expand past the allowed size"},
      {"XML not UTF-8", "<string>caf\xE9</string>", "not UTF-8"},
      {"XML surrogate reference", "<string>&#xD800;</string>", "outside Unicode"},
      {"binary ASCII not UTF-8", bplist({"\x52\xC3\x28"}), "not UTF-8"},
      {"binary unpaired surrogate", bplist({std::string("\x61\xD8\x00", 3)}), "unpaired surrogate"},
      {"binary date past year 9999", bplist({"\x33" + bigEndianDouble(1e300)}), "date outside years"},
      {"binary date NaN", bplist({"\x33" + bigEndianDouble(std::nan(""))}), "date outside years"},
      {"XML date year 0", "<date>0000-01-01T00:00:00Z</date>", "<date>"},
      {"XML date 31 February", "<date>2024-02-31T00:00:00Z</date>", "<date>"},
      {"XML internal DOCTYPE subset", "<!DOCTYPE plist [<!ENTITY a \"b\">]><string>&a;</string>", "internal subset"},
      {"XML a million bare ampersands", "<string>" + std::string(1u << 20, '&') + "</string>", "malformed entity"},
      {"XML integer past 64 bits", "<integer>18446744073709551616</integer>", "<integer>"},
      {"binary offset past the table", bplist({"\x09"}).replace(8 + 1, 8, ref(1u << 30, 8)), "offset"},
      {"binary reference past the objects", bplist({"\xA1" + ref(9, 1)}), "reference outside"},
      {"binary count past the end", bplist({"\x4F\x13" + ref(~0ull, 8)}), "truncated data"},
      {"binary key not a string", bplist({"\xD1" + ref(1, 1) + ref(1, 1), "\x09"}), "key that is not a string"},
  };
  for (const auto& c : cases) {
    lines.clear();
    EXPECT_FALSE(parse(c.bytes)) << c.what;
    ASSERT_EQ(lines.size(), 1u) << c.what << "\n" << log();
    EXPECT_NE(lines[0].find(c.reason), std::string::npos) << c.what << ": " << lines[0];
  }
  // At the limit itself everything is read.
  EXPECT_EQ(parse(xmlNested(512)), [] {
    Value v(true);
    for (int i = 0; i < 512; ++i) v = Value(Array{std::move(v)});
    return v;
  }());
  EXPECT_TRUE(parse(binaryNested(512)));
  // Plain garbage is refused too.
  EXPECT_FALSE(propertyListFromData(Bytes{}));
  EXPECT_FALSE(parse("not a plist at all <<<"));
  EXPECT_FALSE(parse("<plist><true/><true/></plist>"));
  EXPECT_FALSE(parse("bplist00"));
}

TEST_F(PropertyListTest, ValuesThatCouldNotBeReadBackAreNotWritten) {
  auto path = dir / "v.plist";
  ASSERT_TRUE(writePropertyListFile(path, Dictionary{{"kept", 1}}));
  struct Case {
    const char* what;
    Value value;
    const char* reason;
  } cases[] = {
      {"date past year 9999", Dictionary{{"d", Date{kLatestStoredDate + 1}}}, "date outside"},
      {"date before year 1", Dictionary{{"d", Date{kEarliestStoredDate - 1}}}, "date outside"},
      {"date NaN", Array{Date{std::nan("")}}, "date outside"},
      {"string not UTF-8", Array{"\xFF"}, "not UTF-8"},
      {"key not UTF-8", Dictionary{{"\xC0\x80", 1}}, "key that is not UTF-8"},
      {"too deep", nested(513), "nesting deeper than 512"},
      {"null root", Value(), "null"},
  };
  for (const auto& c : cases) {
    for (auto format : {PropertyListFormat::XML, PropertyListFormat::Binary}) {
      lines.clear();
      EXPECT_TRUE(dataFromPropertyList(c.value, format).empty()) << c.what;
      ASSERT_EQ(lines.size(), 1u) << c.what;
      EXPECT_NE(lines[0].find(c.reason), std::string::npos) << c.what << ": " << lines[0];
    }
    EXPECT_FALSE(writePropertyListFile(path, c.value)) << c.what;
  }
  EXPECT_EQ(readDictionaryFile(path), (Dictionary{{"kept", 1}})) << "the file in place stays";
  EXPECT_FALSE(dataFromPropertyList(nested(512)).empty());
}

TEST_F(PropertyListTest, OnlyRegularFilesOfBoundedSizeAreRead) {
  auto fifo = dir / "fifo.plist";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto device = dir / "zero.plist";
  std::filesystem::create_symlink("/dev/zero", device);
  auto large = dir / "large.plist";
  {
    std::ofstream(large).put('x');
    std::filesystem::resize_file(large, kMaxReadFileSize + 1);
  }
  struct Case {
    std::filesystem::path path;
    const char* reason;
  } cases[] = {
      {fifo, "not a regular file"},  // never blocks waiting for a writer
      {device, "not a regular file"},
      {dir, "not a regular file"},
      {large, "larger than 16777216 bytes"},
  };
  for (const auto& c : cases) {
    lines.clear();
    EXPECT_FALSE(readFileBytes(c.path)) << c.path;
    EXPECT_FALSE(readDictionaryFile(c.path)) << c.path;
    ASSERT_FALSE(lines.empty()) << c.path;
    EXPECT_NE(lines[0].find(c.reason), std::string::npos) << lines[0];
  }
  std::filesystem::resize_file(large, kMaxReadFileSize);
  auto bytes = readFileBytes(large);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), kMaxReadFileSize);
  EXPECT_EQ(readFileBytes(large, 1000), std::nullopt);
  lines.clear();
  EXPECT_FALSE(readFileBytes(dir / "missing.plist"));
  EXPECT_TRUE(lines.empty()) << "a missing file is no refusal";
}

TEST_F(PropertyListTest, AtomicWriteReplacesTheWholeFileAndLeavesNoTemporaryFile) {
  auto path = dir / "sub" / "settings.plist";
  EXPECT_FALSE(readDictionaryFile(path).has_value());
  ASSERT_TRUE(writePropertyListFile(path, sample()));
  auto read = readDictionaryFile(path);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(intForKey(*read, "count"), -7);
  ASSERT_TRUE(writePropertyListFile(path, Array{1, 2}));
  EXPECT_FALSE(readDictionaryFile(path).has_value());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "sub"), {}), 1) << "no temporary left behind";

  // A writer that died half way left its temporary file, or something else took its
  // name: the next write takes the name over and leaves nothing behind.
  auto tmp = path.string() + ".tmp";
  { std::ofstream(tmp) << "<dict><key>half"; }
  ASSERT_TRUE(writePropertyListFile(path, Dictionary{{"after", true}}));
  EXPECT_FALSE(std::filesystem::exists(tmp));
  std::filesystem::create_symlink(dir / "elsewhere", tmp);
  ASSERT_TRUE(writePropertyListFile(path, Dictionary{{"again", true}}));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(tmp)));
  EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));
  EXPECT_EQ(readDictionaryFile(path), (Dictionary{{"again", true}}));
}

TEST_F(PropertyListTest, WritersOfOneFileTakeTurnsAndReadersAlwaysSeeAWholeFile) {
  auto path = dir / "shared.plist";
  ASSERT_TRUE(writePropertyListFile(path, Dictionary{{"writer", -1}, {"pad", std::string(4000, 'p')}}));
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done.load()) {
      auto d = readDictionaryFile(path);
      if (!d || !intForKey(*d, "writer")) torn.fetch_add(1);
    }
  });
  std::vector<std::thread> writers;
  std::atomic<int> failed{0};
  for (int w = 0; w < 4; ++w)
    writers.emplace_back([&, w] {
      for (int i = 0; i < 50; ++i)
        if (!writePropertyListFile(path, Dictionary{{"writer", w}, {"pad", std::string(4000 + i, 'p')}}))
          failed.fetch_add(1);
    });
  for (auto& t : writers) t.join();
  done = true;
  reader.join();
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

TEST_F(PropertyListTest, PropertyListFilesAndTheirNewFoldersAreOwnerOnly) {
  auto existing = dir / "existing";
  std::filesystem::create_directory(existing);
  std::filesystem::permissions(existing, std::filesystem::perms(0755));
  auto path = existing / "new" / "deeper" / "prefs.plist";
  ASSERT_TRUE(writePropertyListFile(path, Dictionary{{"a", 1}}));
  EXPECT_EQ(modeOf(path), 0600u);
  EXPECT_EQ(modeOf(existing / "new"), 0700u);
  EXPECT_EQ(modeOf(existing / "new" / "deeper"), 0700u);
  EXPECT_EQ(modeOf(existing), 0755u) << "folders that were there stay as they were";

  // A file that was readable by others is replaced by an owner-only one.
  std::filesystem::permissions(path, std::filesystem::perms(0644));
  ASSERT_TRUE(writePropertyListFile(path, Dictionary{{"a", 2}}));
  EXPECT_EQ(modeOf(path), 0600u);

  // Other files keep the shared default.
  auto other = dir / "cache" / "blob";
  ASSERT_TRUE(writeFileAtomically(other, "x", 1));
  EXPECT_EQ(modeOf(other), 0644u);
}

TEST(Value, NumberConversionsFollowThePlatformNumberRules) {
  struct Case {
    Value v;
    std::optional<bool> b;
    std::optional<int32_t> i;
  };
  const Case cases[] = {
      {Value{true}, true, 1},          {Value{0}, false, 0},      {Value{2.9}, true, 2},
      {Value{-0.0}, false, 0},         {Value{"YES"}, std::nullopt, std::nullopt},
      {Value{Array{}}, std::nullopt, std::nullopt}, {Value{4294967297LL}, true, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.v.boolValue(), c.b);
    EXPECT_EQ(c.v.intValue(), c.i);
  }
}

TEST(Value, Utf8CheckRefusesOverlongSurrogateAndOutOfRangeForms) {
  struct Case {
    std::string text;
    bool valid;
  } cases[] = {
      {"", true},
      {std::string("\0", 1), true},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xAE\xF4\x8F\xBF\xBF", true},
      {"\xC0\xAF", false},          // overlong '/'
      {"\xE0\x80\xAF", false},      // overlong
      {"\xED\xA0\x80", false},      // surrogate
      {"\xF4\x90\x80\x80", false},  // past U+10FFFF
      {"\xC3", false},              // cut short
      {"\x80", false},              // stray continuation
  };
  for (const auto& c : cases) EXPECT_EQ(isValidUTF8(c.text), c.valid) << testing::PrintToString(c.text);
}

}  // namespace
}  // namespace foundation
