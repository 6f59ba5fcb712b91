#pragma once

#include <string>
#include <string_view>

namespace perchlight {

// A summary page written to a file of its own, for a browser view to show: a new
// "summary<unique>.html" in the directory that TMPDIR names, else in the module directory, else
// "summary.html" in the module directory. The file is created for its owner alone (mode 0600)
// and removed when the object goes. One thread at a time.
class SummaryFile {
  public:
    // Writes the page's bytes; written() tells whether that worked (nothing is left behind if not).
    explicit SummaryFile(std::string_view page);
    ~SummaryFile();
    SummaryFile(SummaryFile&& other) noexcept;
    SummaryFile& operator=(SummaryFile&& other) noexcept;
    SummaryFile(const SummaryFile&) = delete;
    SummaryFile& operator=(const SummaryFile&) = delete;

    bool written() const { return !path_.empty(); }
    // The file's path; empty when it could not be written.
    const std::string& path() const { return path_; }

  private:
    void remove();

    std::string path_;
};

}  // namespace perchlight
