#include "host/HostLoop.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "browser/AgentServices.h"
#include "host/FrameReader.h"
#include "host/MessageDecoder.h"
#include "host/SocketBroadcast.h"
#include "prefs/RegistryKey.h"

namespace perchlight {
namespace {

template <typename Step>
void reportFailure(const char* what, Step step) {
    try {
        step();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "perchlight-host: %s: %s\n", what, error.what());
    }
}

}  // namespace

void FileReplySink::send(std::string_view reply) {
    const std::string frame = encodeFrame(reply);
    std::lock_guard guard(lock_);
    std::size_t written = 0;
    while (!broken_ && written < frame.size()) {
        const ssize_t count = ::write(fd_, frame.data() + written, frame.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            broken_ = true;
            break;
        }
        written += static_cast<std::size_t>(count);
    }
}

int runHost(AgentServices& services, int inFd, int outFd) {
    reportFailure("loading the preferences", [&] { services.preferences().loadPreferences(); });
    // As the Qt agent does: saving a setting needs the settings key; an existing key stays.
    reportFailure("creating the settings key",
                  [] { RegistryKey::create(RegistryKey::kPerchlightKey); });
    reportFailure("loading the cache index", [&] { services.cache().loadCacheIndex(); });
    FileReplySink sink(outFd);
    HostSession session(services, sink);
    SocketBroadcast broadcast(SocketBroadcast::defaultFolder());
    session.setBroadcast(&broadcast);
    FrameReader reader(kMaxRequestBytes);
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(inFd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        reader.feed(std::string_view(buffer, static_cast<std::size_t>(count)));
        while (std::optional<Frame> frame = reader.next()) {
            session.handleFrame(*frame);
        }
    }
    if (reader.insideFrame()) {
        std::fprintf(stderr, "perchlight-host: the input ended inside a message\n");
    }
    session.finish();
    return 0;
}

}  // namespace perchlight
