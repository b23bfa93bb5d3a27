// Runs a function in a forked child and returns what it wrote to standard output, so
// that process-wide state (log level, environment) stays out of the test process.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

namespace testsupport_ccvt {

// Splits one log line "[h:mm:ss:mmm] rest" into the time in milliseconds and the rest;
// false when the stamp is malformed (minutes and seconds two digits below 60,
// milliseconds three digits).
inline bool split_stamp(const std::string& line, long long* ms, std::string* rest) {
  int h = 0, m = 0, s = 0, x = 0, n = 0, p1 = 0, p2 = 0, p3 = 0, p4 = 0;
  if (sscanf(line.c_str(), "[%d:%n%2d:%n%2d:%n%3d]%n ", &h, &p1, &m, &p2, &s, &p3, &x, &p4) != 4) return false;
  n = p4;
  if (p2 - p1 != 3 || p3 - p2 != 3 || p4 - p3 != 4 || m >= 60 || s >= 60) return false;
  if (static_cast<size_t>(n) >= line.size() || line[static_cast<size_t>(n)] != ' ') return false;
  *ms = ((static_cast<long long>(h) * 60 + m) * 60 + s) * 1000 + x;
  *rest = line.substr(static_cast<size_t>(n) + 1);
  return true;
}

// Lines of a log output; each line ends with "\n\033[0m", so the colour reset opens the
// next piece.
inline std::vector<std::string> log_lines(const std::string& out) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find("\n\033[0m", start);
    if (end == std::string::npos) {
      lines.push_back(out.substr(start));
      break;
    }
    lines.push_back(out.substr(start, end - start));
    start = end + 5;
  }
  return lines;
}

}  // namespace testsupport_ccvt
