#pragma once

#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace perchlight::cli {

// Exit statuses of `perchlight demo`.
inline constexpr int kExitDemoAsExpected = 0;
inline constexpr int kExitDemoDiffers = 1;
inline constexpr int kExitDemoFailed = 2;

// `perchlight demo [--sites DIR]`: serves the bundled demo sites on 127.0.0.1, checks one page of
// each at the Medium level with a fresh cache, and prints each verdict beside the expected one.
class DemoCommand {
  public:
    explicit DemoCommand(CLI::App& app);

    bool selected() const;
    int run(std::ostream& out, std::ostream& err) const;

  private:
    CLI::App* command_;
    std::string sitesDirectory_;
};

}  // namespace perchlight::cli
