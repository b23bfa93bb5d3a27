// A socket pair standing in for the capture driver's event channel of IrqHandler, in a
// temporary root that holds "/dev/kvix" as a plain file.
#pragma once

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "xqv/device.h"

namespace testsupport_ccvt {

using Bytes = std::vector<uint8_t>;

struct Rig {
  std::string dir;
  boost::asio::io_context io;
  int peer = -1;
  XqvUtils::IrqHandler::Descriptor descriptor;
  Rig() {
    char tmpl[] = "/dev/shm/xqv-irq-XXXXXX";
    dir = mkdtemp(tmpl);
    mkdir((dir + "/dev").c_str(), 0755);
    std::ofstream(dir + "/dev/kvix").put('\0');
    setenv("TARNVIK_ROOT", dir.c_str(), 1);
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) abort();
    descriptor = std::make_shared<boost::asio::posix::stream_descriptor>(io, sv[0]);
    peer = sv[1];
  }
  ~Rig() {
    descriptor.reset();
    close(peer);
    unsetenv("TARNVIK_ROOT");
    std::string cmd = "rm -rf '" + dir + "'";
    if (system(cmd.c_str()) != 0) abort();
  }
  void send(const Bytes& b) {
    if (write(peer, b.data(), b.size()) != static_cast<ssize_t>(b.size())) abort();
  }
  // Sends the bytes and runs the event loop until the handler has read them and its
  // completion has run: waits on the socket, not on a time (the deadline only keeps a
  // broken handler from hanging the test).
  void deliver(const Bytes& b) {
    send(b);
    io.restart();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (unread() > 0 && std::chrono::steady_clock::now() < deadline)
      io.run_one_for(std::chrono::milliseconds(50));
    io.poll();
  }
  int unread() {
    int n = 0;
    if (ioctl(descriptor->native_handle(), FIONREAD, &n) != 0) abort();
    return n;
  }
  // Runs the event loop until it has nothing left to do (no read pending) or the time is
  // up; for checks that nothing more happens.
  void drain() {
    io.restart();
    io.run_for(std::chrono::milliseconds(200));
  }
};

}  // namespace testsupport_ccvt
