// Waits that keep the GUI responsive: pending events are processed while they wait.
#pragma once

#include <QtGlobal>

void delay(int ms);
void sleepFor(qint64 ms);
