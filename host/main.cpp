// The native messaging host: the browser extension's agent, on stdin and stdout.
#include <unistd.h>

#include <csignal>

#include "browser/AgentServices.h"
#include "host/HostLoop.h"
#include "util/HeapRetention.h"
#include "util/ModuleDirectory.h"

int main() {
    // The browser may close the pipe while a reply is being written: that is the end, not a crash.
    std::signal(SIGPIPE, SIG_IGN);
    perchlight::retainFreedHeap();
    // The browser passes its own arguments (the caller's origin or the manifest and extension
    // id); the host manifest already decided who may start the host, so they are not read.
    perchlight::AgentServices services(perchlight::moduleDirectory());
    return perchlight::runHost(services, STDIN_FILENO, STDOUT_FILENO);
}
