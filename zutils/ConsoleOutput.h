// Where volconvert and neb2vdb print. volconvert writes to standard output; the tests capture the
// same bytes in memory.
#pragma once

#include <string>

namespace ZUtils {

class ConsoleOutput {
 public:
  virtual ~ConsoleOutput() = default;
  virtual void write(const std::string& text) = 0;
};

// Standard output, flushed after every piece so that a progress line ("| 0...") shows
// while its frame is still being converted.
class StdoutConsole : public ConsoleOutput {
 public:
  void write(const std::string& text) override;
};

// Standard error, flushed the same way (neb2vdb's messages and progress bar).
class StderrConsole : public ConsoleOutput {
 public:
  void write(const std::string& text) override;
};

// Collects everything written (tests).
class StringConsole : public ConsoleOutput {
 public:
  void write(const std::string& text) override { text_ += text; }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace ZUtils
