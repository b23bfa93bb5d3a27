// Writing the small files that the appliance's programs share with each other and with
// the web interface (source lists, status records, the control program's choices).
#pragma once

#include <string>
#include <string_view>

// Replaces the whole content of the file at path (already resolved, e.g. through
// tarnvik::fixedPath) with bytes; true when the new content landed.
//
// Where the directory allows it the bytes go to a temporary file beside it that is then
// renamed over the old one, so a reader sees the old or the new text whole; the old
// file's permission bits (and, where allowed, owner) carry over. Where it does not (a
// directory the writer may not create files in), or when path is a symbolic link (which
// a rename would turn into a plain file), or when the rename would take a provisioned
// file away from its owner, the file is opened for writing with truncation and written
// in place, through the link. A write that fails both ways prints one line
// "Cannot write <path>: <reason>" on standard error, debug switch or not.
bool writeSharedFile(const std::string& path, std::string_view bytes);
