// What the headless UIKit draws by itself: a toolbar with its items in the bar's tint (off
// items faded), the spinner only while it turns, image views and buttons with their images.

#include "platform/uikit/toolbar.h"

#include <gtest/gtest.h>

#include "platform/uikit/controls.h"
#include "platform/uikit/graphics_context.h"
#include "platform/uikit/image.h"

namespace uikit {
namespace {

using Px = std::array<std::uint8_t, 4>;

// A picture of `side` x `side` pixels, one colour, opaque.
std::shared_ptr<Image> square(std::uint32_t side, Px colour) {
  std::vector<std::uint8_t> rgba;
  for (std::uint32_t i = 0; i < side * side; ++i) rgba.insert(rgba.end(), colour.begin(), colour.end());
  return std::make_shared<Image>(side, side, std::move(rgba));
}

// The darkest opaque-enough pixel of the rectangle (device pixels), as its grey level; 255
// when every pixel is lighter.
int darkest(const GraphicsContext& ctx, int x0, int y0, int x1, int y1) {
  int least = 255;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      const Px p = ctx.pixelAt(std::uint32_t(x), std::uint32_t(y));
      least = std::min(least, (p[0] + p[1] + p[2]) / 3);
    }
  return least;
}

struct Bar {
  std::shared_ptr<Toolbar> toolbar = std::make_shared<Toolbar>(Rect{0, 0, 200, 44});
  std::shared_ptr<BarButtonItem> picture, flexible, refresh, done;
  Bar() {
    picture = std::make_shared<BarButtonItem>(square(20, {0, 0, 0, 255}), BarButtonItemStyle::Plain, nullptr);
    picture->setWidth(40);
    flexible = std::make_shared<BarButtonItem>(BarButtonSystemItem::FlexibleSpace, nullptr);
    refresh = std::make_shared<BarButtonItem>(BarButtonSystemItem::Refresh, nullptr);
    refresh->setWidth(40);
    done = std::make_shared<BarButtonItem>(BarButtonSystemItem::Done, nullptr);
    done->setWidth(40);
    toolbar->setItems({picture, flexible, refresh, flexible, done});
    toolbar->setTintColor(Color::blackColor());
  }
  std::unique_ptr<GraphicsContext> render(double scale) const {
    auto ctx = std::make_unique<GraphicsContext>(std::uint32_t(200 * scale), std::uint32_t(44 * scale));
    ctx->scaleCTM(scale, scale);
    toolbar->setContentScaleFactor(scale);
    toolbar->renderInContext(*ctx);
    return ctx;
  }
};

TEST(Toolbar, DrawsItsBarHairlineAndItemsInItsTintFadingItemsThatAreOff) {
  for (double scale : {1.0, 2.0}) {
    SCOPED_TRACE(scale);
    Bar bar;
    bar.picture->setEnabled(false);
    auto ctx = bar.render(scale);
    const auto s = [&](double points) { return int(points * scale); };
    const Px barColour{247, 247, 247, 255};
    EXPECT_EQ(ctx->pixelAt(s(60), s(22)), barColour) << "a flexible space shows the bar";
    EXPECT_EQ(ctx->pixelAt(s(60), s(40)), barColour);
    // One device pixel of hairline along the top.
    EXPECT_LT(ctx->pixelAt(s(60), 0)[0], 200);
    EXPECT_EQ(ctx->pixelAt(s(60), 1), barColour);
    // The tint (black) inside the enabled items, in their middles only.
    EXPECT_LT(darkest(*ctx, s(80), s(11), s(120), s(33)), 30) << "refresh";
    EXPECT_LT(darkest(*ctx, s(160), s(11), s(200), s(33)), 30) << "done";
    EXPECT_EQ(darkest(*ctx, s(160), s(1), s(200), s(8)), 247) << "the glyph keeps to the bar's middle";
    // The switched-off picture is there, but faded: grey, never black.
    const int faded = darkest(*ctx, 0, s(1), s(40), s(44));
    EXPECT_GT(faded, 100);
    EXPECT_LT(faded, 200);
    bar.picture->setEnabled(true);
    EXPECT_LT(darkest(*bar.render(scale), 0, s(1), s(40), s(44)), 10);
  }
}

TEST(Toolbar, ItemsTakeTheBarsTintAndABackgroundColourReplacesTheBar) {
  Bar bar;
  bar.toolbar->setTintColor(Color{1, 0, 0, 1});
  bar.toolbar->setBackgroundColor(Color{0, 0, 1, 1});
  auto ctx = bar.render(1);
  EXPECT_EQ(ctx->pixelAt(60, 22), (Px{0, 0, 255, 255}));
  bool red = false;
  for (std::uint32_t y = 0; y < 44; ++y)
    for (std::uint32_t x = 0; x < 40; ++x) red = red || ctx->pixelAt(x, y) == Px{255, 0, 0, 255};
  EXPECT_TRUE(red) << "the black picture drawn in the bar's red";
}

TEST(ActivityIndicatorView, ShowsItsSpokesOnlyWhileItTurns) {
  auto spinner = std::make_shared<ActivityIndicatorView>(ActivityIndicatorViewStyle::Gray);
  auto drawn = [&] {
    GraphicsContext ctx(40, 40);
    ctx.scaleCTM(2, 2);
    spinner->renderInContext(ctx);
    int painted = 0;
    for (std::uint32_t y = 0; y < 40; ++y)
      for (std::uint32_t x = 0; x < 40; ++x) painted += ctx.pixelAt(x, y)[3] > 0;
    return painted;
  };
  EXPECT_EQ(drawn(), 0);
  spinner->startAnimating();
  EXPECT_GT(drawn(), 40);
  spinner->stopAnimating();
  EXPECT_EQ(drawn(), 0);
}

TEST(ImageView, StretchesItsImageAndAButtonCentresItsOwn) {
  // A 2 x 2 picture: red, green / blue, white.
  auto picture = std::make_shared<Image>(
      2, 2, std::vector<std::uint8_t>{255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255});
  auto imageView = std::make_shared<ImageView>(Rect{0, 0, 20, 10});
  imageView->setImage(picture);
  GraphicsContext ctx(20, 10);
  imageView->renderInContext(ctx);
  EXPECT_EQ(ctx.pixelAt(9, 4), (Px{255, 0, 0, 255}));
  EXPECT_EQ(ctx.pixelAt(10, 4), (Px{0, 255, 0, 255}));
  EXPECT_EQ(ctx.pixelAt(0, 9), (Px{0, 0, 255, 255}));
  EXPECT_EQ(ctx.pixelAt(19, 5), (Px{255, 255, 255, 255}));

  auto button = std::make_shared<Button>(Rect{0, 0, 32, 32});
  button->setImage(square(20, {0, 128, 0, 255}));
  GraphicsContext b(32, 32);
  button->renderInContext(b);
  EXPECT_EQ(b.pixelAt(5, 16), (Px{0, 0, 0, 0}));
  EXPECT_EQ(b.pixelAt(6, 6), (Px{0, 128, 0, 255}));
  EXPECT_EQ(b.pixelAt(25, 25), (Px{0, 128, 0, 255}));
  EXPECT_EQ(b.pixelAt(26, 16), (Px{0, 0, 0, 0}));
  // A picture larger than the button is shrunk to fit it.
  auto small = std::make_shared<Button>(Rect{0, 0, 10, 10});
  small->setImage(square(20, {0, 128, 0, 255}));
  GraphicsContext c(10, 10);
  small->renderInContext(c);
  EXPECT_EQ(c.pixelAt(0, 0), (Px{0, 128, 0, 255}));
  EXPECT_EQ(c.pixelAt(9, 9), (Px{0, 128, 0, 255}));
}

}  // namespace
}  // namespace uikit
