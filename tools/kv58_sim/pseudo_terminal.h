#pragma once
// The display's end of the line: the master side of a pseudo-terminal whose slave side the
// program opens as its serial port. Both sides are raw, so bytes pass unchanged and nothing
// is echoed. While no program has the slave open the master reports a hang-up; that is how
// the simulator learns that the program opened or closed the port.

#include <cstddef>
#include <string>
#include <string_view>

namespace kv58::sim {

// What one look at the master showed.
struct LineState {
  bool peerOpen = false; // some program has the slave open
  bool readable = false; // the program's bytes are waiting
  bool writable = false;
};

class PseudoTerminal {
public:
  PseudoTerminal() = default;
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // Creates the pair and leaves the slave closed and raw, ready for the first program.
  [[nodiscard]] bool Open(std::string& error);

  // Makes the slave ready for the next program after one closed it: raw again, not held
  // exclusive (a program that ended without undoing TIOCEXCL would lock others out), and
  // nothing waiting that the display sent before the last program let go, as on a real
  // port that nobody had open.
  [[nodiscard]] bool ResetSlave(std::string& error);

  // Looks at the master without waiting.
  [[nodiscard]] LineState Look() const;

  enum class ReadOutcome { Data, Empty, HungUp, Failed };
  // Appends one chunk of what the program sent, without waiting.
  [[nodiscard]] ReadOutcome ReadChunk(std::string& into) const;

  // Writes what the master takes now, without waiting. The count written; -1 on failure.
  [[nodiscard]] long WriteSome(std::string_view bytes) const;

  [[nodiscard]] int MasterFd() const { return master_; }
  [[nodiscard]] const std::string& SlavePath() const { return slavePath_; }

private:
  int master_ = -1;
  std::string slavePath_;
};

} // namespace kv58::sim
