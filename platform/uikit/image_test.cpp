#include "platform/uikit/image.h"

#include <gtest/gtest.h>

namespace uikit {
namespace {

std::shared_ptr<Image> checker(std::uint32_t w, std::uint32_t h) {
  std::vector<std::uint8_t> rgba(std::size_t(w) * h * 4);
  for (std::size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<std::uint8_t>(i * 7);
  return std::make_shared<Image>(w, h, std::move(rgba));
}

TEST(Image, DecodesPngAndRefusesAnythingElse) {
  Image red(2, 1, {255, 0, 0, 255, 0, 0, 255, 128});
  auto png = Image::pngRepresentation(std::make_shared<Image>(red));
  ASSERT_TRUE(png);
  auto back = Image::imageWithData(*png);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->size(), (Size{2, 1}));
  EXPECT_EQ(back->rgba(), red.rgba());
  EXPECT_EQ(Image::imageWithData({}), nullptr);
  EXPECT_EQ(Image::imageWithData({'n', 'o', 't', ' ', 'p', 'n', 'g'}), nullptr);
  foundation::Bytes truncated(png->begin(), png->begin() + std::ptrdiff_t(png->size() / 2));
  EXPECT_EQ(Image::imageWithData(truncated), nullptr);
}

TEST(Image, PngRoundTripAndNearestNeighbourScaling) {
  auto b = checker(5, 3);
  auto png = Image::pngRepresentation(b);
  ASSERT_TRUE(png);
  EXPECT_EQ((*png)[1], 'P');
  auto back = Image::imageWithData(*png);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->pixelWidth(), 5u);
  EXPECT_EQ(back->rgba(), b->rgba());
  EXPECT_FALSE(Image::imageWithData(foundation::Bytes{1, 2, 3}));
  EXPECT_FALSE(Image::pngRepresentation(std::make_shared<Image>(0, 2, std::vector<std::uint8_t>{})));
  EXPECT_FALSE(Image::pngRepresentation(nullptr));

  auto big = Image::imageScaledToPixelSize(b, 10, 6);
  ASSERT_TRUE(big);
  EXPECT_EQ(big->rgba().size(), 10u * 6 * 4);
  EXPECT_EQ(std::vector<std::uint8_t>(big->rgba().begin(), big->rgba().begin() + 4),
            std::vector<std::uint8_t>(b->rgba().begin(), b->rgba().begin() + 4));
  // Each target pixel takes the source pixel its top-left corner falls in.
  auto small = Image::imageScaledToPixelSize(b, 2, 1);
  ASSERT_TRUE(small);
  auto pixel = [](const Image& im, std::size_t x, std::size_t y) {
    auto at = im.rgba().begin() + std::ptrdiff_t((y * im.pixelWidth() + x) * 4);
    return std::vector<std::uint8_t>(at, at + 4);
  };
  EXPECT_EQ(pixel(*small, 1, 0), pixel(*b, 2, 0));
  EXPECT_EQ(Image::imageScaledToPixelSize(b, 0, 4), nullptr);
  EXPECT_EQ(Image::imageScaledToPixelSize(nullptr, 4, 4), nullptr);
}

}  // namespace
}  // namespace uikit

namespace uikit {
namespace {

TEST(Image, ShareOfPixelsOfAColourAllowsTheGivenSlackPerChannel) {
  // Four pixels: the colour itself, one step off in red, two steps off in blue, transparent.
  Image image(2, 2, {200, 100, 50, 255, 201, 100, 50, 255, 200, 100, 52, 255, 0, 0, 0, 0});
  const Color c = Color::colorWithRedGreenBlueAlpha(200 / 255.0, 100 / 255.0, 50 / 255.0, 1);
  struct Row {
    int tolerance;
    double share;
  };
  for (const Row& row : {Row{0, 0.25}, Row{1, 0.5}, Row{2, 0.75}}) {
    EXPECT_DOUBLE_EQ(image.shareOfPixelsOfColor(c, row.tolerance), row.share) << row.tolerance;
  }
  EXPECT_DOUBLE_EQ(image.shareOfPixelsOfColor(Color::clearColor(), 0), 0.25);
  EXPECT_DOUBLE_EQ(Image(0, 0, {}).shareOfPixelsOfColor(c), 0);
}

}  // namespace
}  // namespace uikit
