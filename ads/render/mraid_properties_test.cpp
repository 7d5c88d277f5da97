// A creative's resize and calendar properties as the system reads and judges them.
#include <gtest/gtest.h>

#include "ads/render/mraid_calendar_properties.h"
#include "ads/render/mraid_resize_properties.h"

namespace {

foundation::Dictionary resize(const char* width, const char* height, const char* x, const char* y,
                              const char* position, const char* offscreen) {
  return {{"width", width}, {"height", height}, {"offsetX", x}, {"offsetY", y}, {"customClosePosition", position},
          {"allowOffscreen", offscreen}};
}

// The application frame of a portrait phone below its status bar.
const uikit::Rect kScreen{0, 20, 320, 548};

TEST(MRAIDResizeProperties, NeedAllSixKeysAndReadNumbersAsThePlatformDoes) {
  auto p = QMAMRAIDResizeProperties::MRAIDResizePropertiesWithDictionary(
      resize(" 320.5px", "abc", "-10", "1e2", "bottom-center", "YES"));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->size(), (uikit::Size{320.5, 0}));
  EXPECT_EQ(p->offset(), (uikit::Point{-10, 100}));
  EXPECT_EQ(p->customClosePosition(), QMAMRAIDCustomClosePositionBottomCenter);
  EXPECT_TRUE(p->allowOffscreen());
  EXPECT_EQ(p->description(),
            "{width: 320.5, height: 0, offsetX: -10, offsetY: 100, customClosePosition: bottom-center, "
            "allowOffscreen: true}");
  for (const char* key : {"width", "height", "offsetX", "offsetY", "customClosePosition", "allowOffscreen"}) {
    auto d = resize("1", "1", "1", "1", "center", "true");
    d.erase(key);
    EXPECT_FALSE(QMAMRAIDResizeProperties::MRAIDResizePropertiesWithDictionary(d)) << "without " << key;
  }
  EXPECT_FALSE(QMAMRAIDResizeProperties::MRAIDResizePropertiesWithDictionary(resize("1e999", "50", "0", "0", "", "")))
      << "a number no double holds is refused, not turned into infinity";
  auto unknown =
      QMAMRAIDResizeProperties::MRAIDResizePropertiesWithDictionary(resize("50", "50", "0", "0", "TOP-LEFT", "no"));
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->customClosePosition(), QMAMRAIDCustomClosePositionTopRight);
  EXPECT_FALSE(unknown->allowOffscreen());
}

TEST(MRAIDResizeProperties, CloseAreaAndItsMarginsForEachPosition) {
  const uikit::Rect f{0, 0, 320, 250};
  struct Case {
    std::int64_t position;
    uikit::Point origin;
    unsigned mask;
  } cases[] = {
      {0, {270, 0}, 33}, {1, {135, 0}, 37},   {2, {0, 0}, 36},    {3, {135, 100}, 45},
      {4, {270, 200}, 9}, {5, {135, 200}, 13}, {6, {0, 200}, 12}, {7, {0, 0}, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QMAMRAIDResizeProperties::closeButtonRectForPositionContentFrame(c.position, f),
              (uikit::Rect{c.origin, {50, 50}}))
        << c.position;
    EXPECT_EQ(QMAMRAIDResizeProperties::autoresizingMaskForClosePosition(c.position), c.mask) << c.position;
  }
}

TEST(MRAIDResizeProperties, AreJudgedAgainstTheScreenAndMovedOnToItWhenTheyMayNotLeaveIt) {
  struct Case {
    const char* name;
    foundation::Dictionary properties;
    bool valid;
    uikit::Rect adjusted;  // the frame moved inside the screen
  } cases[] = {
      {"inside", resize("320", "50", "0", "20", "top-right", "false"), true, {0, 20, 320, 50}},
      {"10 points past the right edge", resize("320", "50", "10", "20", "top-right", "false"), true, {0, 20, 320, 50}},
      {"above the top, moved down", resize("300", "100", "0", "-40", "center", "false"), true, {0, 20, 300, 100}},
      {"off screen allowed, close area off screen", resize("320", "50", "10", "20", "top-right", "true"), false,
       {0, 20, 320, 50}},
      {"off screen allowed, close area off the left edge", resize("600", "400", "-300", "20", "top-left", "true"), false,
       {0, 20, 600, 400}},
      {"off screen allowed, close area at the left on screen", resize("600", "400", "0", "20", "top-left", "true"),
       true, {-280, 20, 600, 400}},
      {"larger than the screen", resize("400", "600", "0", "0", "top-right", "false"), false, {-80, 20, 400, 600}},
  };
  for (const auto& c : cases) {
    auto p = QMAMRAIDResizeProperties::MRAIDResizePropertiesWithDictionary(c.properties);
    ASSERT_TRUE(p) << c.name;
    EXPECT_EQ(p->areValidInBounds(kScreen), c.valid) << c.name;
    const uikit::Rect moved = QMAMRAIDResizeProperties::adjustedContentFrameInBounds(p->requestedContentFrame(), kScreen);
    EXPECT_EQ(moved, c.adjusted) << c.name << ": moved, never resized";
  }
}

TEST(MRAIDCalendarProperties, ReadOnlyTheOneDateFormAndKeepTheTexts) {
  struct Case {
    const char* text;
    std::optional<double> since1970;
  } cases[] = {
      {"2016-05-01T10:00:00+02:00", 1462089600},
      {"2016-05-01T08:00:00Z", 1462089600},
      {"2016-05-01T03:30:00-04:30", 1462089600},
      {"2024-02-29T00:00:00Z", 1709164800},
      {"2016-05-01 10:00", std::nullopt},
      {"2016-05-01T10:00:00", std::nullopt},
      {"2016-05-01T10:00Z", std::nullopt},
      {"2023-02-29T00:00:00Z", std::nullopt},
      {"2016-13-01T00:00:00Z", std::nullopt},
      {"2016-05-01T24:00:00Z", std::nullopt},
      {"2016-05-01T10:00:00+0200", std::nullopt},
      {"2016-05-01T10:00:00Z trailing", std::nullopt},
      {"+016-05-01T10:00:00Z", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    auto date = QMAMRAIDCalendarProperties::dateFromString(c.text);
    ASSERT_EQ(date.has_value(), c.since1970.has_value()) << c.text;
    if (date) {
      EXPECT_EQ(date->timeIntervalSince1970, *c.since1970) << c.text;
    }
  }
  QMAMRAIDCalendarProperties p(foundation::Dictionary{{"start", "2016-05-01T10:00:00+02:00"},
                                                      {"end", "tomorrow"},
                                                      {"summary", "Sale"},
                                                      {"description", "Half price"}});
  ASSERT_TRUE(p.startTime());
  EXPECT_FALSE(p.endTime());
  EXPECT_EQ(p.summary(), "Sale");
  EXPECT_EQ(p.eventDescription(), "Half price");
  EXPECT_EQ(p.location(), std::nullopt);
}

}  // namespace
