#include "ads/services/location.h"

#include <gtest/gtest.h>

#include <cmath>
#include <unordered_set>

#include "ads/services/test_support.h"
#include "platform/foundation/clock.h"

using foundation::Value;

TEST(Location, PreciseLocationsNeedValidCoordinatesOffTheAxes) {
  struct {
    double lat, lon;
    bool ok;
  } cases[] = {{91, 10, false}, {10, 200, false}, {0, 10, false},  {10, 0, false},
               {NAN, 10, false}, {-90, 180, true}, {12.5, -3, true}};
  for (auto c : cases) EXPECT_EQ(QMALocation::initWithLatitudeLongitudeAccuracy(c.lat, c.lon, 5) != nullptr, c.ok) << c.lat << "," << c.lon;
  EXPECT_EQ(QMALocation::initWithLocationDescription(""), nullptr);
}

TEST(Location, RequestFormCutsTowardZeroAndCopiesKeepTheTime) {
  {
    qma_test::ScopedManualClock clock(1'400'000'000.5);
    auto l = QMALocation::initWithLatitudeLongitudeAccuracy(12.34567891, -12.34567891, 65);
    auto d = *l->dictionaryRepresentation();
    EXPECT_EQ(d.at("lat"), Value(123456789));
    EXPECT_EQ(d.at("long"), Value(-123456789));
    EXPECT_EQ(d.at("radius"), Value(65000.0));
    EXPECT_EQ(d.at("time"), Value(1'400'000'000.5 * 1e6));
    EXPECT_EQ(l->locationDescription(), "12.345679,-12.345679");
    foundation::Clock::advance(100);
    auto copy = l->copy();
    EXPECT_EQ(copy->dictionaryRepresentation(), l->dictionaryRepresentation());
  }

  auto text = QMALocation::initWithLocationDescription("Main Street");
  EXPECT_EQ(text->dictionaryRepresentation(), std::nullopt);
  EXPECT_EQ(text->locationDescription(), "Main Street");
}

TEST(Location, EqualLocationsHashAlikeWhateverTheirTime) {
  std::shared_ptr<QMALocation> a, b;
  {
    qma_test::ScopedManualClock clock(1000);
    a = QMALocation::initWithLatitudeLongitudeAccuracy(45, 7, 10);
    foundation::Clock::advance(60);
    b = QMALocation::initWithLatitudeLongitudeAccuracy(45, 7, 10);
  }
  a->dictionaryRepresentation();
  b->dictionaryRepresentation();
  EXPECT_TRUE(a->isEqual(*b));
  EXPECT_EQ(a->hash(), b->hash());
  EXPECT_FALSE(a->isEqual(*QMALocation::initWithLatitudeLongitudeAccuracy(45, 7.001, 10)));
  EXPECT_FALSE(a->isEqual(*QMALocation::initWithLocationDescription("45.000000,7.000000")));
  EXPECT_TRUE(QMALocation::initWithLocationDescription("x")->isEqual(*QMALocation::initWithLocationDescription("x")));
}
