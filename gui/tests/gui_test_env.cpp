#include "gui/tests/gui_test_env.h"

#include "testsupport/xserver.h"

#include <QApplication>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace guitest {

Env& env()
{
    static Env world;
    return world;
}

int run(int argc, char** argv, const std::string& scenarioJson, const std::function<QObject*()>& makeTest)
{
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::string(argv[i]) == "--screen" && i + 1 < argc) {
            if (std::sscanf(argv[i + 1], "%dx%d", &env().width, &env().height) != 2)
                return 2;
            ++i;
            continue;
        }
        args.push_back(argv[i]);
    }
    args.push_back(nullptr);
    int qtArgc = static_cast<int>(args.size()) - 1;

    auto server = testsupport::XServer::startXvfb(env().width, env().height);
    if (!server) {
        std::fprintf(stderr, "cannot start Xvfb\n");
        return 1;
    }
    testsupport::ScopedDisplay useDisplay(*server);
    testsupport::Sandbox box;
    testsupport::requireSandbox();
    env().box = &box;

    const std::string config = box.root() + "/config";
    const std::string runtime = box.root() + "/runtime";
    mkdir(config.c_str(), 0700);
    mkdir(runtime.c_str(), 0700);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    box.writeFile("/etc/ndi-scenario.json", scenarioJson);
    setenv("TARNVIK_NDI_SCENARIO", box.path("/etc/ndi-scenario.json").c_str(), 1);
    env().ndiLog = box.path("/tmp/ndi-calls.log");
    setenv("TARNVIK_NDI_LOG", env().ndiLog.c_str(), 1);

    int result = 0;
    {
        QApplication app(qtArgc, args.data());
        std::unique_ptr<QObject> test(makeTest());
        result = QTest::qExec(test.get(), qtArgc, args.data());
    }
    env().box = nullptr;
    return result;
}

} // namespace guitest
