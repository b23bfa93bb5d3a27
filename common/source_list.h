// The two source-list files that the web UI reads, written by source-scout and by
// decoder-ui after a discovery pass:
//   "/etc/tarnvik_ndi_src.json"                       {"name": "address", ...}, one pair a line
//   "/srv/tarnvik-web-ui-resources/decoder-src.html"  var DecoderSrc = [{ID:'...',Decoder:'...'},];
// names[i] and addresses[i] describe one source, in the order the finder listed them.
#pragma once

#include <string>
#include <vector>

// Text of the JSON file. Names and addresses are JSON-escaped.
std::string formatSourceListJson(const std::vector<std::string>& names, const std::vector<std::string>& addresses);

// Text of the web-UI page. Names and addresses are escaped for single-quoted script
// strings; "<" is escaped too, so a name cannot close the page's script element.
std::string formatSourceListScript(const std::vector<std::string>& names, const std::vector<std::string>& addresses);

// Replaces the page file, then the JSON file. Each is written to a temporary file in
// its own directory and renamed over the old one, so a reader sees the old or the new
// text, never part of one. A file that cannot be written leaves the old one in place
// and does not stop the other. True when both were replaced.
bool writeSourceListFiles(const std::vector<std::string>& names, const std::vector<std::string>& addresses);
