#include "gui/ndisourcefinder.h"

#include "gui/popups.h"

#include <chrono>

#include "common/source_list.h"

NDISourceFinder::NDISourceFinder(QObject* parent)
    : QObject(parent)
{
    findInstance = NDIlib_find_create_v2(nullptr);
    if (findInstance == nullptr)
        informCentred(nullptr, "Error", "Can not create NDI finder");
}

NDISourceFinder::~NDISourceFinder()
{
    if (findInstance != nullptr)
        NDIlib_find_destroy(findInstance);
}

void NDISourceFinder::start()
{
    using Clock = std::chrono::system_clock;
    found = false;
    // Without a finder there is nothing to wait on: the run finds nothing.
    if (findInstance == nullptr || stopRequested) {
        emit finished();
        return;
    }
    const auto t0 = Clock::now();
    while (std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count() <= 4999999999LL &&
           !stopRequested) {
        if (NDIlib_find_wait_for_sources(findInstance, 5000)) {
            sources = NDIlib_find_get_current_sources(findInstance, &count);
            found = true;
        }
    }
    emit finished();
    if (!found)
        return;
    if (count > kMaxSources)
        count = kMaxSources;
    names.clear();
    urls.clear();
    for (uint32_t i = 0; i < count; ++i) {
        // Decoded as the source-list files and the web UI read them, so the files decoder-ui
        // writes from these names hold the same text as source-scout's.
        const char* name = sources[i].p_ndi_name != nullptr ? sources[i].p_ndi_name : "";
        const char* url = sources[i].p_url_address != nullptr ? sources[i].p_url_address : "";
        names.append(QString::fromStdString(validUtf8(name)));
        urls.append(QString::fromStdString(validUtf8(url)));
    }
    emit didFindNIDSources(names, urls);
}
