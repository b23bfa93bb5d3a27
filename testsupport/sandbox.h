// A private file-system root and a directory of recording stand-ins for the system
// commands, for tests that run code which writes fixed paths or runs commands.
//
//   testsupport::Sandbox box;              // TARNVIK_ROOT and PATH now point into it
//   box.respond("xrandr", listing);        // canned standard output
//   ... run the code ...
//   EXPECT_EQ(box.calls("systemctl")[0], (Argv{"systemctl", "restart", "TarnvikRunner"}));
//
// The destructor restores the environment and removes the directory.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

using Argv = std::vector<std::string>;

// The commands a test must never reach for real.
const std::vector<std::string>& guardedCommands();

class Sandbox {
public:
    // Creates a fresh root with etc/, tmp/, srv/, opt/, bin/ and var/run/, installs the
    // fake commands (also the appliance scripts under <root>/bin), puts them first on PATH
    // and points TARNVIK_ROOT at the root.
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& root() const { return root_; }
    const std::string& fakeBin() const { return fakeBin_; }
    // <root> + an absolute system path, e.g. path("/etc/tarnvik-mode").
    std::string path(const std::string& systemPath) const;

    void writeFile(const std::string& systemPath, const std::string& content) const;
    std::string readFile(const std::string& systemPath) const;
    bool exists(const std::string& systemPath) const;

    // Canned answer of a fake command: standard output, standard error, exit code.
    void respond(const std::string& command, const std::string& out, const std::string& err = "", int code = 0) const;
    // A script run with the command's arguments instead of the canned answer (after the
    // call is recorded), for answers that depend on the arguments.
    void hook(const std::string& command, const std::string& shellScript) const;
    // Adds another recording command (for example one the test wants to watch).
    void addFake(const std::string& command) const;

    // Every recorded call in order, each as its argument vector with the command's name first.
    std::vector<Argv> calls() const;
    std::vector<Argv> calls(const std::string& command) const;
    void clearCalls() const;

private:
    std::string root_;
    std::string fakeBin_;
    std::string savedPath_;
    std::string savedRoot_;
    bool hadRoot_ = false;
};

// Aborts the test program unless the fake commands come first on PATH and TARNVIK_ROOT
// names a sandbox root. Call it before anything that could run reboot, systemctl,
// hostnamectl or the network scripts.
void requireSandbox();

} // namespace testsupport
