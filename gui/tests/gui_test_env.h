// Private world of a decoder-ui test: its own Xvfb of the size given by "--screen WxH",
// a sandbox root with the fake commands first on PATH, settings in a temporary
// XDG_CONFIG_HOME and an NDI stand-in scenario; then the QApplication and QtTest.
#pragma once

#include "testsupport/sandbox.h"

#include <QObject>

#include <functional>
#include <string>

namespace guitest {

struct Env {
    testsupport::Sandbox* box = nullptr;
    int width = 1920;
    int height = 1080;
    std::string ndiLog;
};

// The world of the running test program.
Env& env();

// Runs the QtTest object made by makeTest inside the private world; returns qExec's result.
int run(int argc, char** argv, const std::string& scenarioJson, const std::function<QObject*()>& makeTest);

} // namespace guitest
