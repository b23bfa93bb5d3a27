#include "testsupport/sandbox.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

constexpr const char* kRootMarker = ".tarnvik-test-root";
constexpr const char* kFakeMarker = ".tarnvik-fake-commands";

void writeText(const std::string& file, const std::string& content, bool executable = false)
{
    fs::create_directories(fs::path(file).parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + file);
    if (executable)
        ::chmod(file.c_str(), 0755);
}

std::string readText(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// The recording stand-in: one record per call, written in one append before the command
// answers, fields separated by 0x1f and ended by 0x1e and a newline.
std::string fakeScript(const std::string& logDir, const std::string& name)
{
    return "#!/bin/sh\n"
           "d='" + logDir + "'\n"
           "n='" + name + "'\n"
           "rec=\"$n\"\n"
           "for a in \"$@\"; do rec=\"$rec$(printf '\\037')$a\"; done\n"
           "printf '%s\\036\\n' \"$rec\" >> \"$d/calls.log\"\n"
           "if [ -x \"$d/$n.hook\" ]; then exec \"$d/$n.hook\" \"$@\"; fi\n"
           "[ -f \"$d/$n.stdout\" ] && cat \"$d/$n.stdout\"\n"
           "[ -f \"$d/$n.stderr\" ] && cat \"$d/$n.stderr\" >&2\n"
           "[ -f \"$d/$n.rc\" ] && exit \"$(cat \"$d/$n.rc\")\"\n"
           "exit 0\n";
}

} // namespace

const std::vector<std::string>& guardedCommands()
{
    static const std::vector<std::string> commands = {
        "xrandr", "systemctl", "reboot", "hostnamectl", "ip", "v4l2-ctl", "pkexec", "shutdown", "poweroff",
    };
    return commands;
}

Sandbox::Sandbox()
{
    std::string tmpl = (fs::temp_directory_path() / "tarnvik-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    root_ = tmpl + "/root";
    fakeBin_ = tmpl + "/fakebin";
    for (const char* dir : {"/etc", "/tmp", "/srv/tarnvik-web-ui-resources", "/opt/tarnvik", "/bin", "/var/run"})
        fs::create_directories(root_ + dir);
    fs::create_directories(fakeBin_);
    writeText(root_ + "/" + kRootMarker, "");
    writeText(fakeBin_ + "/" + kFakeMarker, "");
    writeText(fakeBin_ + "/calls.log", "");
    for (const auto& command : guardedCommands())
        addFake(command);
    for (const char* script : {"tarnvik-set-dhcp", "tarnvik-set-staticip"})
        writeText(root_ + "/bin/" + script, fakeScript(fakeBin_, script), true);

    const char* path = std::getenv("PATH");
    savedPath_ = path ? path : "/usr/bin:/bin";
    const char* oldRoot = std::getenv("TARNVIK_ROOT");
    hadRoot_ = oldRoot != nullptr;
    savedRoot_ = oldRoot ? oldRoot : "";
    ::setenv("PATH", (fakeBin_ + ":" + savedPath_).c_str(), 1);
    ::setenv("TARNVIK_ROOT", root_.c_str(), 1);
}

Sandbox::~Sandbox()
{
    ::setenv("PATH", savedPath_.c_str(), 1);
    if (hadRoot_)
        ::setenv("TARNVIK_ROOT", savedRoot_.c_str(), 1);
    else
        ::unsetenv("TARNVIK_ROOT");
    std::error_code ignored;
    fs::remove_all(fs::path(root_).parent_path(), ignored);
}

std::string Sandbox::path(const std::string& systemPath) const
{
    return root_ + systemPath;
}

void Sandbox::writeFile(const std::string& systemPath, const std::string& content) const
{
    writeText(path(systemPath), content);
}

std::string Sandbox::readFile(const std::string& systemPath) const
{
    return readText(path(systemPath));
}

bool Sandbox::exists(const std::string& systemPath) const
{
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path(systemPath), ignored));
}

void Sandbox::respond(const std::string& command, const std::string& out, const std::string& err, int code) const
{
    writeText(fakeBin_ + "/" + command + ".stdout", out);
    writeText(fakeBin_ + "/" + command + ".stderr", err);
    writeText(fakeBin_ + "/" + command + ".rc", std::to_string(code));
}

void Sandbox::hook(const std::string& command, const std::string& shellScript) const
{
    writeText(fakeBin_ + "/" + command + ".hook", "#!/bin/sh\n" + shellScript, true);
}

void Sandbox::addFake(const std::string& command) const
{
    writeText(fakeBin_ + "/" + command, fakeScript(fakeBin_, command), true);
}

std::vector<Argv> Sandbox::calls() const
{
    std::vector<Argv> result;
    const std::string log = readText(fakeBin_ + "/calls.log");
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find("\x1e\n", start);
        if (end == std::string::npos)
            break;
        Argv argv;
        std::string record = log.substr(start, end - start);
        size_t field = 0;
        while (true) {
            size_t sep = record.find('\x1f', field);
            argv.push_back(record.substr(field, sep == std::string::npos ? std::string::npos : sep - field));
            if (sep == std::string::npos)
                break;
            field = sep + 1;
        }
        result.push_back(std::move(argv));
        start = end + 2;
    }
    return result;
}

std::vector<Argv> Sandbox::calls(const std::string& command) const
{
    std::vector<Argv> result;
    for (auto& argv : calls())
        if (!argv.empty() && argv[0] == command)
            result.push_back(std::move(argv));
    return result;
}

void Sandbox::clearCalls() const
{
    writeText(fakeBin_ + "/calls.log", "");
}

void requireSandbox()
{
    const char* path = std::getenv("PATH");
    const char* root = std::getenv("TARNVIK_ROOT");
    std::string first = path ? std::string(path).substr(0, std::string(path).find(':')) : "";
    bool fakesFirst = !first.empty() && fs::exists(first + "/" + kFakeMarker);
    bool rootIsSandbox = root != nullptr && *root != '\0' && fs::exists(std::string(root) + "/" + kRootMarker);
    if (!fakesFirst || !rootIsSandbox) {
        std::fprintf(stderr, "refusing to run: the fake commands must come first on PATH and TARNVIK_ROOT "
                             "must name a test root (PATH=%s TARNVIK_ROOT=%s)\n",
                     path ? path : "", root ? root : "");
        std::abort();
    }
    for (const auto& command : guardedCommands()) {
        if (!fs::exists(first + "/" + command)) {
            std::fprintf(stderr, "refusing to run: no fake %s in %s\n", command.c_str(), first.c_str());
            std::abort();
        }
    }
}

} // namespace testsupport
