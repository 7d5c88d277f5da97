#include "ads/mediation/mediation_pings.h"

#include "ads/services/application.h"
#include "ads/services/click_tracker_collection.h"
#include "ads/services/sdk_version.h"
#include "ads/services/utilities.h"
#include "platform/net/ad_network.h"

std::string QMAMUtilities::defaultTemplate(const char* path) { return qma_stripTrailingSlash(net::adNetworkBaseURL()) + path; }

std::optional<net::URL> QMAMUtilities::mediationURLFrom(
    std::string text, const std::optional<std::string>& adLocationID, bool adNetworkRefresh,
    const std::optional<std::string>& allocationID, const std::optional<std::string>& adNetworkID,
    const std::optional<std::string>& qData, const std::optional<std::string>& sessionID,
    const std::optional<std::string>& sequenceNumber, const std::optional<std::string>& exitCodes,
    const std::optional<std::string>& durations) {
  qma_replaceAtQuotedKeywordPatternWithString(text, "fk_adlocid", adLocationID);
  qma_replaceAtQuotedKeywordPatternWithString(text, "fk_qdata", qData);
  qma_replaceAtQuotedKeywordPatternWithString(text, "fk_sdkver", std::string(kQMASDKVersion));
  qma_replaceAtQuotedKeywordPatternWithString(text, "fk_sessid", sessionID);
  qma_replaceAtQuotedKeywordPatternWithString(text, "fk_seqnum", sequenceNumber);
  qma_replaceAtQuotedKeywordPatternWithString(text, "fk_devid", std::string());
  qma_replaceAtQuotedKeywordPatternWithString(text, "fk_adnetrefresh", std::string(adNetworkRefresh ? "1" : "0"));
  qma_replaceAtQuotedKeywordPatternWithString(text, "fk_adnetid", adNetworkID);
  qma_replaceAtQuotedKeywordPatternWithString(text, "fk_allocid", allocationID);
  qma_replaceAtQuotedKeywordPatternWithString(text, "fk_aec", exitCodes);
  qma_replaceAtQuotedKeywordPatternWithString(text, "fk_adt", durations);
  if (text.empty()) return std::nullopt;
  return net::URL::fromString(text);
}

std::optional<std::string> QMAMTextOf(const foundation::Value& value) {
  if (const auto* s = value.asString()) return *s;
  return std::nullopt;
}

void QMATrackMediationURLsFromTemplates(const std::optional<foundation::Array>& templates,
                                        const std::optional<std::string>& defaultTemplate,
                                        const std::optional<std::string>& networkID,
                                        const std::optional<std::string>& allocationID,
                                        const std::optional<std::string>& qData,
                                        const std::optional<std::string>& appKey, bool refresh,
                                        const std::optional<std::string>& durations,
                                        const std::optional<std::string>& exitCodes) {
  foundation::Array list;
  if (templates) {
    list = *templates;
  } else if (defaultTemplate) {
    list.push_back(*defaultTemplate);
  }
  auto application = QMAApplication::sharedInstance();
  for (const auto& entry : list) {
    const auto* text = entry.asString();
    if (!text) continue;
    const std::string sequence = application->nextSequenceNumberAsString();
    const auto& session = application->currentSession();
    auto url = QMAMUtilities::mediationURLFrom(*text, appKey, refresh, allocationID, networkID, qData.value_or(""),
                                               session ? std::optional<std::string>(session->uniqueID()) : std::nullopt,
                                               sequence, exitCodes, durations);
    if (url) QMAClickTrackerCollection::sharedInstance()->trackURLCacheEnabled(url, true);
  }
}
