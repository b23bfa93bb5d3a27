// NDI discovery on a worker thread: one run per start of the thread.
#pragma once

#include <Processing.NDI.Lib.h>

#include <QObject>
#include <QStringList>

#include <atomic>
#include <cstdint>

class NDISourceFinder : public QObject {
    Q_OBJECT
public:
    static constexpr uint32_t kMaxSources = 18;

    explicit NDISourceFinder(QObject* parent = nullptr);
    ~NDISourceFinder() override;

    // Thread-safe: the run under way ends after its current wait; later runs end at once.
    void stop() { stopRequested = true; }

    bool found = true;
    NDIlib_find_instance_t findInstance = nullptr;
    const NDIlib_source_t* sources = nullptr;
    uint32_t count = 0;
    QStringList names;
    QStringList urls;

signals:
    // The names and addresses travel as copies, so the GUI never reads the lists that the
    // next run rebuilds.
    void didFindNIDSources(QStringList names, QStringList urls);
    void finished();

public slots:
    void start();

private:
    std::atomic<bool> stopRequested{false};
};
