#pragma once
// What the web view needs of an HTML document, read in one pass without building a
// tree: the scripts in document order, the body's markup, the title, and the targets of
// links and forms. Input is untrusted: the scan is linear, never recurses and keeps at
// most `maxScripts` scripts.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace webkit {

struct HTMLScript {
  std::optional<std::string> src;  // an external script's reference, as written (entities decoded)
  std::string text;                // an inline script's source
};

struct HTMLForm {
  std::string action;
  std::string method;  // lower case; "get" when absent
  std::vector<std::pair<std::string, std::string>> fields;  // named inputs in order
};

struct HTMLDocumentParts {
  std::string title;
  std::string bodyHTML;
  std::vector<HTMLScript> scripts;
  std::vector<std::string> links;  // hrefs of <a> in order
  std::vector<HTMLForm> forms;
  std::size_t skippedScripts = 0;
};

HTMLDocumentParts scanHTML(std::string_view html, std::size_t maxScripts = 256);

// Decodes the character references an attribute or title may hold (&amp; &lt; &gt; &quot;
// &apos; &#39; &#NN; &#xNN;); anything else stays as written.
std::string decodeHTMLEntities(std::string_view text);

}  // namespace webkit
