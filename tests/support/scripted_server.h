// A TCP server for protocol tests: it listens on 127.0.0.1 at a free port and plays a transcript
// on every connection it accepts, inside the test's own thread. It runs whenever the event loop
// runs — that is, while the client under test waits — so tests need no threads.
//
// A transcript has one step per line (leading blanks are ignored, empty lines skipped):
//
//   S: text     send text followed by CR LF
//   P: text     send text as it is, without a line end (a partial line)
//   C: text     expect exactly text followed by CR LF from the client
//   close       close the connection gracefully (FIN)
//   reset       abort the connection (SO_LINGER 0: RST)
//   drip N MS   from here on, send in pieces of N bytes, MS milliseconds apart
//   pause MS    wait MS milliseconds before the next step
//   message     expect a message text, whatever its bytes, up to its end mark CR LF "." CR LF
//
// In texts, \r \n \t \\ and \xHH stand for those bytes. When the transcript ends the connection
// stays open and silent (a stalled server) until the client closes it or the server goes away.
// The client's bytes are checked as they arrive: a byte that differs from the expected one, or
// any byte after the transcript has ended, is recorded in Failures() and the connection is
// aborted. ExpectBytes adds an expectation that cannot be written as a text line (a stream).
//
//   ScriptedServer server("S: 220 ready\nC: HELO me\nS: 250 ok\nclose");
//   client.SetServer("127.0.0.1:" + std::to_string(server.Port()));
//   ... EXPECT_EQ(server.Failures(), "");
//
// Connection k (from 0) plays transcript k of the list it was given, or the last one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// "127.0.0.1:<port>" for a port that was just free and on which nothing listens: a refused
// connection.
std::string ClosedServer();

class ScriptedServer {
 public:
  explicit ScriptedServer(const std::string& transcript);
  explicit ScriptedServer(const std::vector<std::string>& transcripts);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  uint16_t Port() const;
  // "127.0.0.1:<port>", for a client's Server property.
  std::string Address() const;
  // Appends an expectation of exactly these bytes to transcript index (-1: every transcript).
  void ExpectBytes(const std::string& bytes, int transcript = -1);

  int Connections() const;
  // Every byte the client sent on connection k.
  std::string Received(int connection = 0) const;
  // True when connection k has played its whole transcript.
  bool Finished(int connection = 0) const;
  // Mismatches and unexpected bytes, one per line; empty when the client behaved.
  std::string Failures() const;

  // Runs the event loop until connection k finished its transcript or timeoutMs passed.
  bool WaitFinished(int connection = 0, int timeoutMs = 5000) const;

  // Implementation details, declared here so the source file can define them.
  struct Step;
  class Session;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
