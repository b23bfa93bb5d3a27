// The two source-list files that the web UI reads, written by source-scout and by
// decoder-ui after a discovery pass:
//   "/etc/tarnvik_ndi_src.json"                       {"name": "address", ...}, one pair a line
//   "/srv/tarnvik-web-ui-resources/decoder-src.html"  var DecoderSrc = [{ID:'...',Decoder:'...'},];
// names[i] and addresses[i] describe one source, in the order the finder listed them.
#pragma once

#include <Processing.NDI.Lib.h>

#include <cstdint>
#include <string>
#include <vector>

// Text of the JSON file. Names and addresses are JSON-escaped.
std::string formatSourceListJson(const std::vector<std::string>& names, const std::vector<std::string>& addresses);

// Text of the web-UI page. Names and addresses are escaped for single-quoted script
// strings; "<" is escaped too, so a name cannot close the page's script element.
std::string formatSourceListScript(const std::vector<std::string>& names, const std::vector<std::string>& addresses);

// In both texts a byte sequence that is not UTF-8 stands as U+FFFD (one for each maximal
// invalid subpart, as browsers decode it); valid text keeps its bytes. validUtf8 is that
// rule on its own, for readers of the names that must agree with the files.
std::string validUtf8(const std::string& text);

// The one writer of both files: logs "%u. %s:%s\n" (1-based number, name, URL address)
// for each of the count sources, then replaces the page file and then the JSON file
// through writeSharedFile (common/shared_file.h). A null name or address counts as
// empty. A file that cannot be written leaves the old one in place and does not stop
// the other. True when both were written.
bool writeSourceListFiles(const NDIlib_source_t* sources, uint32_t count);
