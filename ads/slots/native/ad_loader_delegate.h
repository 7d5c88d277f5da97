#pragma once
// The host's side of the ad loader: the delegate protocols a host adopts for the kinds of
// native ad it asks for. A loader only accepts a delegate that adopts the typed protocol of
// every kind it was created for (the C++ class adopting the protocol class). Every message
// comes on the main thread.

#include <memory>
#include <optional>
#include <string>

#include "ads/model/request_error.h"
#include "platform/foundation/value.h"

class QMAAdLoader;
class QMANativeContentAd;
class QMANativeAppInstallAd;
class QMANativeCustomTemplateAd;

// Protocol names, as the loader's conformance message gives them.
inline constexpr const char* kQMAAdLoaderDelegateProtocol = "QMAAdLoaderDelegate";
inline constexpr const char* kQMANativeContentAdLoaderDelegateProtocol = "QMANativeContentAdLoaderDelegate";
inline constexpr const char* kQMANativeAppInstallAdLoaderDelegateProtocol = "QMANativeAppInstallAdLoaderDelegate";
inline constexpr const char* kQMANativeCustomTemplateAdLoaderDelegateProtocol = "QMANativeCustomTemplateAdLoaderDelegate";

class QMAAdLoaderDelegate {
 public:
  virtual ~QMAAdLoaderDelegate() = default;
  virtual void adLoaderDidFailToReceiveAdWithError(QMAAdLoader& adLoader, const QMARequestError& error) = 0;
  // The delegate's class name for messages (the C++ type's name unless overridden).
  virtual std::string delegateClassName() const;
};

class QMANativeContentAdLoaderDelegate : public virtual QMAAdLoaderDelegate {
 public:
  virtual void adLoaderDidReceiveNativeContentAd(QMAAdLoader& adLoader,
                                                 const std::shared_ptr<QMANativeContentAd>& ad) = 0;
};

class QMANativeAppInstallAdLoaderDelegate : public virtual QMAAdLoaderDelegate {
 public:
  virtual void adLoaderDidReceiveNativeAppInstallAd(QMAAdLoader& adLoader,
                                                    const std::shared_ptr<QMANativeAppInstallAd>& ad) = 0;
};

class QMANativeCustomTemplateAdLoaderDelegate : public virtual QMAAdLoaderDelegate {
 public:
  // The template IDs the host can show (strings, or numbers taken as their decimal text);
  // none: no template.
  virtual std::optional<foundation::Array> nativeCustomTemplateIDsForAdLoader(QMAAdLoader& adLoader) = 0;
  virtual void adLoaderDidReceiveNativeCustomTemplateAd(QMAAdLoader& adLoader,
                                                        const std::shared_ptr<QMANativeCustomTemplateAd>& ad) = 0;
};
