#include "ads/present/intrinsic_images.h"

#include <cmath>

#include "ads/services/device.h"
#include "ads/services/string_encoding.h"
#include "platform/dispatch/thread_checks.h"

namespace {

double screenDensity() {
  const auto& device = QMADevice::sharedInstance();
  device->cacheStaticParameters();
  const double density = device->mainScreenDensity();
  return density > 0 ? density : 1;
}

// Made by scripts/make-intrinsic-images.
const std::string kBrowserBackButton =
    "iVBORw0KGgoAAAANSUhEUgAAABsAAAAbCAYAAACN1PRVAAAAWklEQVR42mNgGAW4gQEQrwfi+UAsQGuL3gPxfyieTy+LQHg/vSwC"
    "4QJ6WTR/1KJRi2hmkQK9LAKBBCwW3adVCUFXn9E1zkYtHLVw8NdndK+p6d4GoXvravACAHscdKgWE5HWAAAAAElFTkSuQmCC"
    ;
const std::string kBrowserBackButton2x =
    "iVBORw0KGgoAAAANSUhEUgAAADYAAAA2CAYAAACMRWrdAAAArElEQVR42u3aQQ2EMBgF4UpAwkpAAhKQshJwUAlIQcJKQQK0CSQN"
    "4QAntsNM8gR8gXAgfwhm9pbatCGtT2sIoIyY0pZi8watGvU7oErch4baNxBRy/aK4lB5kYjK64ioSESNokSJEiVKlChRokT9W18i"
    "Kpz8fEGg0DDsq4j9eIgTJ06cOHHixIkT9yQuknEdFVfVU7uDm0KFIc8hruCqPWApcbiTozLckZgZuRWTkdPsNyfAjwAAAABJRU5E"
    "rkJggg=="
    ;
const std::string kBrowserForwardButton =
    "iVBORw0KGgoAAAANSUhEUgAAABsAAAAbCAYAAACN1PRVAAAAV0lEQVR42mNgGKlAAIjnA/F6IDagtWUgi/5D8XtaW7gfyTKaW1iA"
    "ZhnNLZw/auGohUPWQgVaWXgfi4UJQ9pndIuzUYtGLRqY+mz/QBVJNG+D0LV1NXQBAJg7dKg121iWAAAAAElFTkSuQmCC"
    ;
const std::string kBrowserForwardButton2x =
    "iVBORw0KGgoAAAANSUhEUgAAADYAAAA2CAYAAACMRWrdAAAAq0lEQVR42u3aXQmAMBSG4UUwghGMYASjGGENFsEoi2AUI+gGDgT/"
    "duGF5+N94QR4QIRxjnNE9PeaNEMan6ZTQWXIkmY9TNyxZmsvUGVmyzh/gzKPiy8ws7hQATOJ6ythJnFBGTeBAwcOHDhw4MCBAwfu"
    "W9xo7aFai4vA+BT5eYACBQoUKFCgQIECdUpyjdSrPvFlV7Wyy3XvRM8hWid6wJKTPDkqSR6JEdFzG7tJ0+zjKz9YAAAAAElFTkSu"
    "QmCC"
    ;
const std::string kCloseButton =
    "iVBORw0KGgoAAAANSUhEUgAAABkAAAAZCAYAAADE6YVjAAABD0lEQVR42r1WOw6DMAzNURg5BkdgYs5R4B6cg2vA2oluZehSoS6V"
    "qjQPheo1giT92dIbkjh+tmMnUSpBjDGZRWlREzDO1LdijWiL3oQF6/oT44XFuFqZ5/k+DMO1bdvzCowxT2TQL97xfpFpmm5N05zy"
    "PD/sAevQIzKdTABvQ8Z9QD9K5FK0SMz7UFREVGyRjH4EVVUdgZBhX4ciGjfThNzy5lhk7DkT0RlpJul9Y0yyReSl5oWE1nputKVM"
    "Izl+Eu3NM6i8M+U616DuEw7TdF13iREAsOdUSuWuiGDJ+kQpVUgFUCeRAH4EGCf2TS0WiciZ/L+6RPpErONF7i6xW1jkPRF7GcXe"
    "eLHfyq//XQ/Gv/jZPAc5GwAAAABJRU5ErkJggg=="
    ;
const std::string kCloseButton2x =
    "iVBORw0KGgoAAAANSUhEUgAAADIAAAAyCAYAAAAeP4ixAAACLklEQVR42u1aQWrDMBDME/IEH3PMMT/ID3z2JfdAPpC8QB8I5Ck5"
    "5AE5l4amFEpTKOjgSykUVwNykZ2VLDvrNF2yMBBia71jrVZjSYPB3apWFEVikBkog63BsTi3o72m7L3JrQQ/NJgb7Ivutrc+hn/1"
    "9jcGuuAzbX0m1yKxZCZAEVr2SWDclEKHw+FzvV5/LBaL1zRNn0ej0YML/IdruAf3RqTcmJtE5uuF0+n0pZR6n06nT/XAm4A2aAsf"
    "gd7JOEmcWZ7n36vV6q1t8D7AF3x6CGW9kNjtdvlkMnnkIlECPuGblYyPBGcvhHqHhYwd2LqeSrPZ7KVvEiXwLCLVdKsCQFWna5Jw"
    "yVDVrM08cfV0aplmy5gZW9cHNvUAzAe4BuB310Bj/BAFQAcVgJUIlXFBVSc8kKPXqLdNkUEMxHjZhASgjgnOVyLbkPFVJl8GEPdr"
    "UmhaBVqZsX1BBGp9FJlAefUSAQgFMG+sVJAOobwOiaQQmRAJX2qVQEzBCmYHecWatFNTQBSZLm3q2oxolnhncSjTC2fgs8AuJVGC"
    "UM2ZS0S5VyCzGeTEb4BcJADEVmuuXCLb2DztQoaLhGd8bl0ilYUC6qOoDzJd5h7EVl/QcIlUrAfVyqqi677YicSSuVS73Yn8p9QS"
    "M9jFlF8xE6IYiSJDNIqR8dI+rGR86opZfBC1HCRmgU7UkqmoRWwx2wqiNnpEbb2J2gwVtT0t6sCAuCMcog7ViDvmdEv2A3/jAbo2"
    "aCyTAAAAAElFTkSuQmCC"
    ;

}  // namespace

QMAIntrinsicImages& QMAIntrinsicImages::sharedInstance() {
  static auto* instance = new QMAIntrinsicImages();
  return *instance;
}

std::shared_ptr<uikit::Image> QMAIntrinsicImages::imageWithBase64EncodedString(const std::string& text) {
  auto bytes = QMA_KLVStringEncoding::rfc4648Base64StringEncoding()->decode(text);
  if (!bytes) return nullptr;
  auto decoded = uikit::Image::imageWithData(*bytes);
  if (!decoded) return nullptr;
  return std::make_shared<uikit::Image>(decoded->pixelWidth(), decoded->pixelHeight(), decoded->rgba(), screenDensity());
}

const std::string& QMAIntrinsicImages::chooseImageOrDoubleDensityImage(const std::string& single,
                                                                        const std::string& dual) {
  return screenDensity() == 1.0 ? single : dual;
}

std::shared_ptr<uikit::Image> QMAIntrinsicImages::browserBackButton() {
  WV_DCHECK_MAIN_THREAD();
  if (!browserBackButton_)
    browserBackButton_ = imageWithBase64EncodedString(chooseImageOrDoubleDensityImage(kBrowserBackButton, kBrowserBackButton2x));
  return browserBackButton_;
}

std::shared_ptr<uikit::Image> QMAIntrinsicImages::browserForwardButton() {
  WV_DCHECK_MAIN_THREAD();
  if (!browserForwardButton_)
    browserForwardButton_ =
        imageWithBase64EncodedString(chooseImageOrDoubleDensityImage(kBrowserForwardButton, kBrowserForwardButton2x));
  return browserForwardButton_;
}

std::shared_ptr<uikit::Image> QMAIntrinsicImages::closeButton() {
  WV_DCHECK_MAIN_THREAD();
  if (!closeButton_) closeButton_ = imageWithBase64EncodedString(chooseImageOrDoubleDensityImage(kCloseButton, kCloseButton2x));
  return closeButton_;
}

std::shared_ptr<uikit::Image> QMAIntrinsicImages::transparentImage() {
  WV_DCHECK_MAIN_THREAD();
  if (!transparentImage_) {
    const double scale = screenDensity();
    const auto side = static_cast<std::uint32_t>(std::lround(10 * scale));
    transparentImage_ = std::make_shared<uikit::Image>(side, side, std::vector<std::uint8_t>(std::size_t{side} * side * 4, 0), scale);
  }
  return transparentImage_;
}
