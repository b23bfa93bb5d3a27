#include "gui/waiting.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTime>

void delay(int ms)
{
    const QTime target = QTime::currentTime().addMSecs(ms);
    while (QTime::currentTime() < target)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
}

void sleepFor(qint64 ms)
{
    const qint64 target = QDateTime::currentMSecsSinceEpoch() + ms;
    while (QDateTime::currentMSecsSinceEpoch() < target)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
}
