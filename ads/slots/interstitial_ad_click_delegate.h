#pragma once
// Adopted by whoever wants to hear of clicks on interstitials: the built-in mediation
// adapters hear through it of clicks on the interstitials they show. The interstitial sends
// its one message to its delegate when the delegate adopts this protocol and implements
// the message (it says so through its own responds query), directly on the thread of the
// click.

class QMAInterstitial;

class QMAInterstitialAdClickDelegate {
 public:
  static constexpr const char* kInterstitialDidReceiveAdClick = "interstitialDidReceiveAdClick:";
  virtual ~QMAInterstitialAdClickDelegate() = default;
  virtual void interstitialDidReceiveAdClick(QMAInterstitial&) {}
};
