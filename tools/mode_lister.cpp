// mode-lister: writes every progressive mode of every connected display to the
// display-mode list file that the web UI offers, and prints the same lines.
#include <cstdio>
#include <stdexcept>

#include "common/display_modes.h"
#include "common/helpers.h"

int main()
{
    isDebug = false;
    try {
        writeDisplayResolutions();
    } catch (const std::runtime_error& error) {
        std::fprintf(stderr, "mode-lister: %s\n", error.what());
        return 1;
    }
    return 0;
}
