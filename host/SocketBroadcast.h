#pragma once

#include <string>

#include "prefs/BirdBroadcast.h"

namespace perchlight {

// The bird broadcast of the desktop agent's processes, sent from a process without Qt: one line,
// the command's number, to each socket of the folder where every Qt agent process listens
// ("$XDG_RUNTIME_DIR/perchlight", one socket per process id). A folder that is not the user's
// own is not written into; a socket whose process is gone is removed. The host listens on none:
// it re-reads the settings at each request instead. Any thread.
class SocketBroadcast : public BirdBroadcast {
  public:
    // How long one socket may take to accept the line.
    static constexpr int kSocketTimeoutMs = 100;

    // The folder of the running user's session; empty when there is none.
    static std::string defaultFolder();
    explicit SocketBroadcast(std::string folder) : folder_(std::move(folder)) {}

    void broadcast(int command, bool allProcesses) override;

  private:
    const std::string folder_;
};

}  // namespace perchlight
