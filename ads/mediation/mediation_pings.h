#pragma once
// Mediation's pings: templates with "@fk_...@" macros, expanded with the event's values and
// followed through the click-tracker collection. A list of templates from the mediation
// configuration is used when it is given (an empty list sends nothing); the built-in
// template, on the ad network's event server, only when no list is.
//
// Any thread; the sequence numbers and the session come from the application object.

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/value.h"
#include "platform/net/url.h"

// The built-in templates' paths and queries.
inline constexpr const char* kQMAMClickTemplatePath =
    "/clk?ad_loc=@fk_adlocid@&qdata=@fk_qdata@&ad_network_id=@fk_adnetid@&js=@fk_sdkver@&session_id=@fk_sessid@"
    "&seq_num=@fk_seqnum@&nr=@fk_adnetrefresh@";
inline constexpr const char* kQMAMImpressionTemplatePath =
    "/imp?ad_loc=@fk_adlocid@&qdata=@fk_qdata@&ad_network_id=@fk_adnetid@&js=@fk_sdkver@&session_id=@fk_sessid@"
    "&seq_num=@fk_seqnum@&nr=@fk_adnetrefresh@&adt=@fk_adt@&aec=@fk_aec@";
inline constexpr const char* kQMAMNoFillTemplatePath =
    "/nofill?ad_loc=@fk_adlocid@&qdata=@fk_qdata@&js=@fk_sdkver@&session_id=@fk_sessid@&seq_num=@fk_seqnum@"
    "&aec=@fk_aec@&adt=@fk_adt@";

class QMAMUtilities {
 public:
  // A built-in template on the event server: the ad network's base URL with the path.
  static std::string defaultTemplate(const char* path);
  // The eleven macros replaced in order; a value of none leaves its macro. No URL for text
  // that is empty or no URL afterwards.
  static std::optional<net::URL> mediationURLFrom(std::string templ, const std::optional<std::string>& adLocationID,
                                                  bool adNetworkRefresh, const std::optional<std::string>& allocationID,
                                                  const std::optional<std::string>& adNetworkID,
                                                  const std::optional<std::string>& qData,
                                                  const std::optional<std::string>& sessionID,
                                                  const std::optional<std::string>& sequenceNumber,
                                                  const std::optional<std::string>& exitCodes,
                                                  const std::optional<std::string>& durations);
};

// The click-tracker collection's mediation pings: one ping per template that is text
// (none: the default template alone), each with its own sequence number.
void QMATrackMediationURLsFromTemplates(const std::optional<foundation::Array>& templates,
                                        const std::optional<std::string>& defaultTemplate,
                                        const std::optional<std::string>& networkID,
                                        const std::optional<std::string>& allocationID,
                                        const std::optional<std::string>& qData,
                                        const std::optional<std::string>& appKey, bool refresh,
                                        const std::optional<std::string>& durations,
                                        const std::optional<std::string>& exitCodes);
// The text of a stored value that is text (qdata, allocation IDs); none otherwise.
std::optional<std::string> QMAMTextOf(const foundation::Value& value);
