// Runs a function in a forked child and returns what it wrote to standard output, so
// that process-wide state (log level, environment) stays out of the test process.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace testsupport_ccvt {

template <typename Fn>
std::string child_stdout(Fn fn) {
  int fds[2];
  if (pipe(fds) != 0) return "<pipe failed>";
  fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[1]);
    fn();
    fflush(stdout);
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out += "<child failed>";
  return out;
}

}  // namespace testsupport_ccvt
