// source-scout: looks for NDI sources for two seconds and rewrites the two source-list
// files of the web UI after every change of the list that the finder reports.
#include <Processing.NDI.Lib.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "common/helpers.h"
#include "common/ndi_config.h"
#include "common/source_list.h"

namespace {

constexpr auto kWindow = std::chrono::seconds(2);
constexpr uint32_t kWaitMs = 1000;

} // namespace

int main()
{
    initDebugSwitch();
    if (!NDIlib_initialize())
        return 0;

    const std::string config = getNDIRxSettings();
    DebugLog("NDI conf data for find: %s\n", config.c_str());
    NDIlib_find_create_t create;
    create.show_local_sources = true;
    create.p_groups = strFindGroups.empty() ? nullptr : strFindGroups.c_str();
    create.p_extra_ips = strFindExtraIPs.empty() ? nullptr : strFindExtraIPs.c_str();
    NDIlib_find_instance_t finder = NDIlib_find_create_v3(&create, config.c_str());
    if (finder == nullptr) {
        NDIlib_destroy();
        return 0;
    }

    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < kWindow) {
        if (!NDIlib_find_wait_for_sources(finder, kWaitMs)) {
            DebugLog("No change to the sources found.\n");
            continue;
        }
        uint32_t count = 0;
        const NDIlib_source_t* sources = NDIlib_find_get_current_sources(finder, &count);
        DebugLog("Network sources (%u found).\n", count);
        writeSourceListFiles(sources, count);
    }

    NDIlib_find_destroy(finder);
    NDIlib_destroy();
    return 0;
}
