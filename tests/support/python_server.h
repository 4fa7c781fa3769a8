// A server script of the end-to-end tests run by /usr/bin/python3 (or another interpreter) for
// the life of the object. The script listens on 127.0.0.1 at a free port and announces it with a first line
// "PORT <n>" on standard output.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "python_referee.h"

class QProcess;

class PythonServer {
 public:
  // Starts the script and waits (at most 15 s) for its port; its error output goes to logFile.
  // Raises std::runtime_error with that output when the server does not start.
  PythonServer(const std::string& script, const std::vector<std::string>& args, const std::string& logFile,
               const char* interpreter = kPython);
  // Stops the server (SIGTERM, then SIGKILL if it lingers).
  ~PythonServer();
  PythonServer(const PythonServer&) = delete;
  PythonServer& operator=(const PythonServer&) = delete;

  int Port() const { return port_; }

 private:
  void Stop();

  std::unique_ptr<QProcess> process_;
  int port_ = 0;
};
