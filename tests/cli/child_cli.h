#pragma once
// Runs tarnwick-cli as a child process the test can watch while it runs,
// talk to, and interrupt: its standard streams go to files, or all three to
// a pseudo-terminal (so that the program sees a terminal). Linux only.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace tarnwick::testing {

class ChildCli {
 public:
  enum class Streams { Files, Terminal };

  // Starts binary with args (split at spaces) in folder dir.
  ChildCli(const std::string& binary, const std::string& dir, const std::string& args,
           Streams streams)
      : m_outFile(dir + "/child-out.txt"), m_errFile(dir + "/child-err.txt") {
    std::vector<std::string> words{binary};
    for (size_t at = 0; at < args.size();) {
      size_t end = args.find(' ', at);
      if (end == std::string::npos) end = args.size();
      if (end > at) words.push_back(args.substr(at, end - at));
      at = end + 1;
    }
    int slave = -1;
    if (streams == Streams::Terminal) {
      struct winsize size {};
      size.ws_col = 100;
      size.ws_row = 30;
      if (::openpty(&m_master, &slave, nullptr, nullptr, &size) != 0) return;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
      if (::chdir(dir.c_str()) != 0) ::_exit(127);
      if (streams == Streams::Terminal) {
        ::setsid();
        ::ioctl(slave, TIOCSCTTY, 0);
        for (int fd = 0; fd <= 2; ++fd) ::dup2(slave, fd);
      } else {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(m_outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(m_errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
      }
      std::vector<char*> argv;
      for (std::string& w : words) argv.push_back(w.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    if (slave >= 0) ::close(slave);
  }

  ~ChildCli() {
    if (m_pid > 0 && !m_status) {
      ::kill(m_pid, SIGKILL);
      (void)Wait();
    }
    if (m_master >= 0) ::close(m_master);
  }

  bool Started() const { return m_pid > 0; }
  // Types text on the terminal.
  void Type(const std::string& text) {
    if (::write(m_master, text.data(), text.size()) < 0) return;
  }
  void Interrupt() { ::kill(m_pid, SIGINT); }

  // What the child wrote so far: on the terminal, or in its standard error file.
  std::string Terminal() {
    char buffer[4096];
    for (;;) {
      struct pollfd p {
        m_master, POLLIN, 0
      };
      if (m_master < 0 || ::poll(&p, 1, 0) <= 0) break;
      const ssize_t n = ::read(m_master, buffer, sizeof buffer);
      if (n <= 0) break;
      m_terminal.append(buffer, static_cast<size_t>(n));
    }
    return m_terminal;
  }
  std::string Err() const { return ReadFileText(m_errFile); }
  std::string Out() const { return ReadFileText(m_outFile); }

  // Waits until what the child wrote satisfies the test (true), or the time is up.
  bool WaitFor(const std::function<bool(const std::string&)>& test, int seconds = 60) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
      if (test(m_master >= 0 ? Terminal() : Err())) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }

  // The exit status (-1 when it did not exit normally); reads what is left.
  int Wait() {
    if (!m_status) {
      int status = 0;
      // The terminal is drained while waiting: a full one would block the child.
      while (::waitpid(m_pid, &status, WNOHANG) == 0) {
        (void)Terminal();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      (void)Terminal();
    }
    return *m_status;
  }

 private:
  std::string m_outFile, m_errFile;
  int m_master = -1;
  pid_t m_pid = -1;
  std::optional<int> m_status;
  std::string m_terminal;
};

}  // namespace tarnwick::testing
