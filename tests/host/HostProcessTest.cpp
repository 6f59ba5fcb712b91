// perchlight-host as the browser runs it: a child process on two pipes.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <condition_variable>
#include <cstring>
#include <mutex>

#include "LoopbackServer.h"
#include "PreferenceTestEnvironment.h"
#include "TestSupport.h"
#include "host/FrameReader.h"

namespace perchlight {
namespace {

using nlohmann::json;

// The host program with its stdin and stdout on pipes and its stderr in a file.
class HostProcess {
  public:
    explicit HostProcess(const std::string& errorFile) {
        int in[2];
        int out[2];
        EXPECT_EQ(::pipe(in), 0);
        EXPECT_EQ(::pipe(out), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            std::FILE* err = std::freopen(errorFile.c_str(), "w", stderr);
            (void)err;
            ::close(in[1]);
            ::close(out[0]);
            ::execl(PERCHLIGHT_HOST_PROGRAM, PERCHLIGHT_HOST_PROGRAM,
                    "chrome-extension://hjpmjhnbanphekgigmhiadfomiiiloob/", nullptr);
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        toHost_ = in[1];
        fromHost_ = out[0];
    }
    ~HostProcess() {
        closeInput();
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(fromHost_);
    }

    void write(std::string_view bytes) {
        ASSERT_EQ(::write(toHost_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void closeInput() {
        if (toHost_ >= 0) {
            ::close(toHost_);
            toHost_ = -1;
        }
    }
    // The next reply; null when none comes within a bound that no healthy host nears.
    json read() {
        for (;;) {
            if (std::optional<Frame> frame = reader_.next()) {
                return json::parse(frame->body);
            }
            pollfd ready{fromHost_, POLLIN, 0};
            if (::poll(&ready, 1, 30000) <= 0) {
                return nullptr;
            }
            char buffer[4096];
            const ssize_t count = ::read(fromHost_, buffer, sizeof buffer);
            if (count <= 0) {
                return nullptr;
            }
            reader_.feed(std::string_view(buffer, static_cast<std::size_t>(count)));
        }
    }
    // The exit status once the process has ended; -1 when it was killed or never ended.
    int wait() {
        int status = 0;
        for (int i = 0; i < 3000; ++i) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            ::usleep(10000);
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
    int toHost_ = -1;
    int fromHost_ = -1;
    bool exited_ = false;
    FrameReader reader_{1 << 20};
};

class HostProcessTest : public ::testing::Test {
  protected:
    HostProcessTest() {
        environment_.installRuleSets();
        stalled_.server().Get(".*", [this](const httplib::Request&, httplib::Response& response) {
            std::unique_lock guard(lock_);
            released_.wait(guard, [&] { return open_; });
            response.status = 404;
        });
        stalled_.start();
    }
    ~HostProcessTest() override {
        {
            std::lock_guard guard(lock_);
            open_ = true;
        }
        released_.notify_all();
    }

    test::PreferenceTestEnvironment environment_;
    test::LoopbackServer stalled_;
    std::mutex lock_;
    std::condition_variable released_;
    bool open_ = false;
    std::string errors_ = environment_.homeFile("host-errors.txt").string();
};

TEST_F(HostProcessTest, Framing_SplitWritesAreOneRequestAndEofEndsCleanly) {
    HostProcess host(errors_);
    const std::string frame = encodeFrame(R"({"id": 1, "type": "settings.get"})");
    host.write(frame.substr(0, 2));
    host.write(frame.substr(2, 9));
    host.write(frame.substr(11));
    const json reply = host.read();
    EXPECT_EQ(reply["id"], 1);
    EXPECT_EQ(reply["level"], "medium");
    host.closeInput();
    EXPECT_EQ(host.wait(), 0) << test::readFile(errors_);
}

TEST_F(HostProcessTest, Framing_FaultsAreAnsweredAndTheHostGoesOn) {
    HostProcess host(errors_);
    std::string tooLong(4, '\0');
    const std::uint32_t length = 5 * 1024 * 1024;
    std::memcpy(tooLong.data(), &length, 4);
    host.write(tooLong);
    host.write(std::string(length, ' '));
    EXPECT_EQ(host.read()["error"], "message too large: 5242880 bytes (limit 4194304)");
    host.write(std::string(4, '\0'));
    EXPECT_EQ(host.read()["error"], "empty message");
    host.write(encodeFrame("{\"id\": 2, \"type\": \"nothing\"}"));
    EXPECT_EQ(host.read()["error"], "unknown type: nothing");
    host.write(encodeFrame(R"({"id": 3, "type": "settings.get"})"));
    EXPECT_TRUE(host.read()["ok"].get<bool>());
}

TEST_F(HostProcessTest, End_EofInsideAMessageEndsCleanly) {
    HostProcess host(errors_);
    host.write(encodeFrame(R"({"id": 1, "type": "settings.get"})").substr(0, 10));
    host.closeInput();
    EXPECT_EQ(host.wait(), 0) << test::readFile(errors_);
    EXPECT_NE(test::readFile(errors_).find("ended inside a message"), std::string::npos);
}

TEST_F(HostProcessTest, End_EofDuringAStalledCheckEndsAndSavesTheCacheIndex) {
    HostProcess host(errors_);
    const std::string page = stalled_.url("/index.html");
    host.write(encodeFrame(
        json{{"id", 1}, {"type", "page"}, {"tab", 1}, {"url", page}, {"documents", json::array()}}
            .dump()));
    host.write(encodeFrame(R"({"id": 2, "type": "settings.get"})"));
    EXPECT_EQ(host.read()["id"], 2) << "the stalled check holds up no other request";
    host.closeInput();
    EXPECT_EQ(host.wait(), 0) << "the stalled site was never released\n" << test::readFile(errors_);
    EXPECT_TRUE(std::filesystem::exists(environment_.homeFile("cache") / "cacheindex.xml"));
}

TEST_F(HostProcessTest, Register_WritesAndRemovesTheManifestInAFolder) {
    const std::string folder = environment_.homeFile("profile/NativeMessagingHosts").string();
    const std::string command = std::string(PERCHLIGHT_PROGRAM) +
                                " register --browser firefox --folder " + folder + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const json manifest = json::parse(test::readFile(folder + "/org.perchlight.host.json"));
    EXPECT_EQ(manifest["path"], PERCHLIGHT_HOST_PROGRAM);
    EXPECT_EQ(manifest["allowed_extensions"], json::array({"agent@perchlight.org"}));
    const std::string remove = std::string(PERCHLIGHT_PROGRAM) +
                               " unregister --browser firefox --folder " + folder + " > /dev/null";
    ASSERT_EQ(std::system(remove.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(folder + "/org.perchlight.host.json"));
}

}  // namespace
}  // namespace perchlight
