#pragma once

#include <mutex>
#include <string_view>

#include "host/HostSession.h"

namespace perchlight {

class AgentServices;

// Replies written to a file descriptor as frames, one whole frame at a time. A reader that has
// gone (the browser closed) makes writes fail quietly: the session is ending anyway.
class FileReplySink : public ReplySink {
  public:
    explicit FileReplySink(int fd) : fd_(fd) {}
    void send(std::string_view reply) override;

  private:
    const int fd_;
    std::mutex lock_;
    bool broken_ = false;
};

// The host's whole life over one pair of descriptors: loads the preferences and the cache index,
// answers requests until end of input, then finishes the session (see HostSession::finish).
// Returns the process's exit status: 0 after a clean end of input.
int runHost(AgentServices& services, int inFd, int outFd);

}  // namespace perchlight
