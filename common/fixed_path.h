// Every fixed path of the appliance ("/etc/...", "/tmp/...", "/srv/...", "/opt/...",
// "/bin/tarnvik-...", "/var/run/...") is resolved here, so that tests can move the
// whole file system view under a temporary directory.
#pragma once

#include <cstdlib>
#include <string>
#include <string_view>

namespace tarnvik {

// TARNVIK_ROOT, when set and not empty, is put in front of the path (tests only).
// Unset, the path comes back unchanged: production never sets it.
inline std::string fixedPath(std::string_view path)
{
    const char* root = std::getenv("TARNVIK_ROOT");
    if (root == nullptr || *root == '\0')
        return std::string(path);
    std::string prefixed(root);
    while (!prefixed.empty() && prefixed.back() == '/')
        prefixed.pop_back();
    prefixed.append(path);
    return prefixed;
}

} // namespace tarnvik
