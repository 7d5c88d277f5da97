#include "ads/slots/native/native_ad_image.h"

#include "ads/services/utilities.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/format.h"
#include "platform/net/connection.h"

namespace {

std::optional<double> numberForKey(const foundation::Value& object, std::string_view key) {
  const foundation::Value* v = object.get(key);
  if (!v) return std::nullopt;
  return v->doubleValue();  // a number or a Boolean; none for anything else
}

}  // namespace

std::shared_ptr<QMANativeAdImage> QMANativeAdImage::initWithDictionary(const foundation::Value& imageObject) {
  const foundation::Value* urlValue = imageObject.get("url");
  if (!urlValue || !urlValue->asString()) return nullptr;
  auto url = net::URL::fromString(*urlValue->asString());
  if (!url) return nullptr;
  bool required = true;
  if (const foundation::Value* r = imageObject.get("require")) required = r->boolValue().value_or(true);
  const double scale = numberForKey(imageObject, "scale").value_or(1.0);
  return std::make_shared<QMANativeAdImage>(std::move(*url), required, scale);
}

std::optional<std::vector<std::shared_ptr<QMANativeAdImage>>> QMANativeAdImage::nativeAdImagesFromImageConfigurationArray(
    const foundation::Array& images, const QMANativeAdImageAdLoaderOptions* options) {
  std::vector<std::shared_ptr<QMANativeAdImage>> result;
  const bool multiple = options && options->shouldRequestMultipleImages();
  for (const auto& element : images) {
    if (auto image = initWithDictionary(element)) result.push_back(std::move(image));
    if (!multiple) break;
  }
  if (result.empty()) return std::nullopt;
  return result;
}

std::string QMANativeAdImage::description() const {
  return foundation::stringWithFormat("<%@: %p scale: %f URL: %@>", "QMANativeAdImage",
                                      static_cast<const void*>(this), scale_, imageURL_.absoluteString());
}

void QMANativeAdImage::loadImageWithCompletionHandler(CompletionHandler handler) {
  auto scheme = imageURL_.scheme();
  if (!scheme || (*scheme != "http" && *scheme != "https")) {
    // No request can be made for it: answer on a later turn, as a download would.
    auto error = qma_errorWithCodeDescription(
        2, foundation::stringWithFormat("Couldn't create URL request for %@.", imageURL_.absoluteString()));
    dispatch::Queue::main()->async([handler, error] {
      if (handler) handler(error);
    });
    return;
  }
  net::URLRequest request(imageURL_);
  request.timeoutInterval = kRequestTimeout;
  request.maxBodySize = kMaxImageBytes;
  auto self = shared_from_this();
  net::sendAsynchronousRequest(
      request, net::deliverOn(dispatch::OperationQueue::mainQueue()),
      [self, handler](net::URLResponsePtr, net::Bytes data, std::optional<foundation::Error> error) {
        self->finishLoad(error, data, handler);
      });
}

void QMANativeAdImage::finishLoad(const std::optional<foundation::Error>& transportError, const foundation::Bytes& data,
                                  const CompletionHandler& handler) {
  if (transportError) {
    if (handler) handler(transportError);
    return;
  }
  // A download that does not decode clears an earlier picture, so success always means
  // this download's bytes gave the picture.
  image_.reset();
  if (!data.empty()) {
    if (auto decoded = uikit::Image::imageWithData(data)) {
      const double scale = scale_ > 0 ? scale_ : 1.0;
      image_ = std::make_shared<uikit::Image>(decoded->pixelWidth(), decoded->pixelHeight(), decoded->rgba(), scale);
    }
  }
  if (!handler) return;
  if (image_) {
    handler(std::nullopt);
  } else {
    handler(qma_errorWithCodeDescription(
        2, foundation::stringWithFormat("Failed to load %@. Received %lu bytes.", description(),
                                        static_cast<unsigned long>(data.size()))));
  }
}

std::optional<uikit::Color> QMANativeAdColorFromDictionary(const foundation::Value& colorObject) {
  auto r = numberForKey(colorObject, "r");
  auto g = numberForKey(colorObject, "g");
  auto b = numberForKey(colorObject, "b");
  if (!r || !g || !b) return std::nullopt;
  const double a = numberForKey(colorObject, "a").value_or(1.0);
  return uikit::Color{*r / 255.0, *g / 255.0, *b / 255.0, a};
}

std::shared_ptr<QMANativeAdAttribution> QMANativeAdAttribution::initWithDictionary(
    const foundation::Value& attributionObject) {
  const foundation::Value* text = attributionObject.get("text");
  const foundation::Value* imageObject = attributionObject.get("image");
  if (!text || !text->asString() || !imageObject) return nullptr;
  auto icon = QMANativeAdImage::initWithDictionary(*imageObject);
  if (!icon) return nullptr;
  auto attribution = std::make_shared<QMANativeAdAttribution>();
  attribution->text_ = *text->asString();
  attribution->icon_ = std::move(icon);
  attribution->font_ = uikit::Font::systemFontOfSize(numberForKey(attributionObject, "text_size").value_or(kDefaultTextSize));
  const foundation::Value* textColor = attributionObject.get("text_color");
  const foundation::Value* bgColor = attributionObject.get("bg_color");
  attribution->textColor_ =
      (textColor ? QMANativeAdColorFromDictionary(*textColor) : std::nullopt).value_or(defaultTextColor());
  attribution->backgroundColor_ =
      (bgColor ? QMANativeAdColorFromDictionary(*bgColor) : std::nullopt).value_or(defaultBackgroundColor());
  return attribution;
}

void QMANativeAdAttribution::loadAssetsWithCompletionHandler(QMANativeAdImage::CompletionHandler handler) {
  icon_->loadImageWithCompletionHandler(std::move(handler));
}
