#pragma once
// Labels, image views, controls (switches, date pickers) that send their
// actions on value changes, and the visual-effect view.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/value.h"
#include "platform/uikit/image.h"
#include "platform/uikit/view.h"

namespace uikit {

enum class TextAlignment { Left = 0, Center = 1, Right = 2 };

class Label : public View {
 public:
  using View::View;
  std::string className() const override { return "Label"; }

  const std::string& text() const { return text_; }
  void setText(std::string t) { text_ = std::move(t); }
  std::optional<Color> textColor() const { return textColor_; }
  void setTextColor(std::optional<Color> c) { textColor_ = c; }
  const Font& font() const { return font_; }
  void setFont(Font f) { font_ = std::move(f); }
  TextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(TextAlignment a) { alignment_ = a; }
  int numberOfLines() const { return numberOfLines_; }
  void setNumberOfLines(int n) { numberOfLines_ = n; }

 private:
  std::string text_;
  std::optional<Color> textColor_ = Color::blackColor();
  Font font_ = Font::systemFontOfSize(17);
  TextAlignment alignment_ = TextAlignment::Left;
  int numberOfLines_ = 1;
};

// Draws its image stretched over its bounds.
class ImageView : public View {
 public:
  using View::View;
  std::string className() const override { return "ImageView"; }
  std::shared_ptr<Image> image() const { return image_; }
  void setImage(std::shared_ptr<Image> image) { image_ = std::move(image); }
  void drawRect(GraphicsContext& ctx, Rect rect) const override;

 private:
  std::shared_ptr<Image> image_;
};

enum class ControlEvents : std::uint32_t { TouchUpInside = 1 << 6, ValueChanged = 1 << 12 };

// A view that sends actions to the blocks registered for its events.
class Control : public View {
 public:
  using Action = std::function<void(const std::shared_ptr<Control>& sender)>;
  using View::View;

  bool isEnabled() const { return enabled_; }
  void setEnabled(bool on) { enabled_ = on; }
  void addTargetActionForControlEvents(Action action, ControlEvents events);
  void sendActionsForControlEvents(ControlEvents events);
  // Whether a finger can work the control: enabled, interactive, and shown.
  bool acceptsTouches() const;

 private:
  bool enabled_ = true;
  std::vector<std::pair<ControlEvents, Action>> actions_;
};

class Switch : public Control {
 public:
  Switch() : Control(Rect{0, 0, 51, 31}) {}
  explicit Switch(Rect frame) : Control(Rect{frame.origin, {51, 31}}) {}
  std::string className() const override { return "Switch"; }

  bool isOn() const { return on_; }
  void setOn(bool on) { on_ = on; }
  void setOnAnimated(bool on, bool animated) { on_ = on; }
  std::optional<Color> onTintColor() const { return onTint_; }
  void setOnTintColor(std::optional<Color> c) { onTint_ = c; }

  // A finger flips the switch: refused when it does not take touches; otherwise the
  // value changes and the value-changed actions run. Answers whether it flipped.
  bool userToggle();

 private:
  bool on_ = false;
  std::optional<Color> onTint_;
};

// A button: a title or an image, an accessibility label, and its touch-up-inside actions.
// It draws its image in its middle at the image's own size, shrunk to fit (no title: the
// headless UIKit draws no text).
class Button : public Control {
 public:
  using Control::Control;
  std::string className() const override { return "Button"; }
  void drawRect(GraphicsContext& ctx, Rect rect) const override;

  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  std::shared_ptr<Image> image() const { return image_; }
  void setImage(std::shared_ptr<Image> image) { image_ = std::move(image); }
  const std::string& accessibilityLabel() const { return accessibilityLabel_; }
  void setAccessibilityLabel(std::string label) { accessibilityLabel_ = std::move(label); }
  bool showsTouchWhenHighlighted() const { return showsTouchWhenHighlighted_; }
  void setShowsTouchWhenHighlighted(bool on) { showsTouchWhenHighlighted_ = on; }

  // A finger taps the button: refused when it does not take touches; otherwise the
  // touch-up-inside actions run. Answers whether it was tapped.
  bool userTap();

 private:
  std::string title_;
  std::shared_ptr<Image> image_;
  std::string accessibilityLabel_;
  bool showsTouchWhenHighlighted_ = false;
};

enum class DatePickerMode { Time = 0, Date = 1, DateAndTime = 2, CountDownTimer = 3 };

class DatePicker : public Control {
 public:
  DatePicker();
  explicit DatePicker(Rect frame);
  std::string className() const override { return "DatePicker"; }

  DatePickerMode datePickerMode() const { return mode_; }
  void setDatePickerMode(DatePickerMode m) { mode_ = m; }
  foundation::Date date() const { return date_; }
  void setDate(foundation::Date d) { date_ = d; }
  void setDateAnimated(foundation::Date d, bool animated) { date_ = d; }
  std::optional<Color> textColor() const { return textColor_; }
  void setTextColor(std::optional<Color> c) { textColor_ = c; }

  // A finger turns the wheels to `d` (in time mode, the seconds of the wheel are 0):
  // refused when the picker does not take touches; otherwise the value-changed actions run.
  bool userSetDate(foundation::Date d);

 private:
  DatePickerMode mode_ = DatePickerMode::DateAndTime;
  foundation::Date date_;
  std::optional<Color> textColor_;
};

enum class BlurEffectStyle { ExtraLight = 0, Light = 1, Dark = 2 };

struct BlurEffect {
  BlurEffectStyle style = BlurEffectStyle::Light;
  static BlurEffect effectWithStyle(BlurEffectStyle s) { return {s}; }
};

class VisualEffectView : public View {
 public:
  explicit VisualEffectView(std::optional<BlurEffect> effect) : effect_(effect) {}
  std::string className() const override { return "VisualEffectView"; }
  std::optional<BlurEffect> effect() const { return effect_; }
  // Subviews go in here, above the effect.
  std::shared_ptr<View> contentView();

 private:
  std::optional<BlurEffect> effect_;
  std::shared_ptr<View> content_;
};

}  // namespace uikit
