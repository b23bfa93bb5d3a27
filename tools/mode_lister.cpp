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
        // The shared-file writer has said why on standard error.
        return writeDisplayResolutions() ? 0 : 1;
    } catch (const std::runtime_error& error) {
        // The web interface keeps offering the modes of the last good run.
        std::fprintf(stderr, "mode-lister: %s, the mode list is left as it was\n", error.what());
        return 1;
    }
}
