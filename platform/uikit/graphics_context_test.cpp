#include "platform/uikit/graphics_context.h"

#include <gtest/gtest.h>

#include "platform/uikit/image.h"
#include "platform/uikit/view.h"

namespace uikit {
namespace {

using Px = std::array<std::uint8_t, 4>;

TEST(GraphicsContext, FillsPixelCentresUnderTransformClipAndAlpha) {
  GraphicsContext ctx(8, 8);
  ctx.scaleCTM(2, 2);
  ctx.fillRect({1, 1, 2, 1}, Color::whiteColor());  // pixels x 2..5, y 2..3
  EXPECT_EQ(ctx.pixelAt(1, 2), (Px{0, 0, 0, 0}));
  EXPECT_EQ(ctx.pixelAt(2, 2), (Px{255, 255, 255, 255}));
  EXPECT_EQ(ctx.pixelAt(5, 3), (Px{255, 255, 255, 255}));
  EXPECT_EQ(ctx.pixelAt(6, 3), (Px{0, 0, 0, 0}));
  EXPECT_EQ(ctx.pixelAt(2, 4), (Px{0, 0, 0, 0}));

  ctx.saveGState();
  ctx.clipToRect({0, 0, 1, 4});
  ctx.multiplyAlpha(0.5);
  ctx.fillRect({0, 0, 4, 4}, Color::colorWithRedGreenBlueAlpha(1, 0, 0, 1));
  ctx.restoreGState();
  // Half red over transparent is stored premultiplied; over white it mixes.
  EXPECT_EQ(ctx.pixelAt(0, 7), (Px{128, 0, 0, 128}));
  EXPECT_EQ(ctx.pixelAt(7, 7), (Px{0, 0, 0, 0}));
  ctx.fillRect({0, 0, 1, 1}, Color::colorWithRedGreenBlueAlpha(1, 0, 0, 0.5));
  EXPECT_EQ(ctx.pixelAt(0, 0), (Px{192, 0, 0, 192}));

  auto image = ctx.makeImage();
  ASSERT_EQ(image->pixelWidth(), 8u);
  EXPECT_EQ(image->rgba()[0], 255);  // straight alpha again
  EXPECT_EQ(image->rgba()[3], 192);
}

TEST(View, RendersBackgroundsSubviewsAlphaClippingAndHiddenViews) {
  auto root = std::make_shared<View>(Rect{0, 0, 10, 10});
  root->setBackgroundColor(Color::whiteColor());
  auto child = std::make_shared<View>(Rect{2, 2, 4, 4});
  child->setBackgroundColor(Color::blackColor());
  child->setClipsToBounds(true);
  auto grandchild = std::make_shared<View>(Rect{3, 3, 10, 10});  // sticks out of the child
  grandchild->setBackgroundColor(Color::colorWithRedGreenBlueAlpha(0, 0, 1, 1));
  child->addSubview(grandchild);
  auto hidden = std::make_shared<View>(Rect{0, 0, 10, 1});
  hidden->setBackgroundColor(Color::blackColor());
  hidden->setHidden(true);
  root->addSubview(child);
  root->addSubview(hidden);

  GraphicsContext ctx(10, 10);
  root->renderInContext(ctx);
  EXPECT_EQ(ctx.pixelAt(0, 0), (Px{255, 255, 255, 255}));
  EXPECT_EQ(ctx.pixelAt(2, 2), (Px{0, 0, 0, 255}));
  EXPECT_EQ(ctx.pixelAt(5, 5), (Px{0, 0, 255, 255}));
  EXPECT_EQ(ctx.pixelAt(6, 6), (Px{255, 255, 255, 255}));  // clipped by the child

  child->setAlpha(0.5);
  child->setBounds({1, 1, 4, 4});  // scrolled: the grandchild moves up and left
  GraphicsContext half(10, 10);
  root->renderInContext(half);
  EXPECT_EQ(half.pixelAt(2, 2), (Px{128, 128, 128, 255}));
  // The child's alpha applies to it and the grandchild as one layer.
  EXPECT_EQ(half.pixelAt(4, 4), (Px{128, 128, 255, 255}));
}

}  // namespace
}  // namespace uikit
