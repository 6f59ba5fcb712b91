#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/DemoSites.h"

namespace perchlight::cli {

// Pictures of the browser shell with its bird on each demo site: `perchlight-browser
// --screenshot` runs offscreen once per site, with the demo's module directory and a
// configuration directory of its own in which the browser module is registered, so that nothing
// of the user's settings or registrations is read or changed.
class DemoShots {
  public:
    // The browser beside the program, or empty when it was not built.
    static std::string browserPath();

    // Takes one picture per site (a site reached by posting a form is passed over) into
    // directory; returns how many failed. home is the demo's module directory.
    static int take(const std::vector<DemoSite>& sites, const std::string& home,
                    const std::string& directory, std::ostream& out, std::ostream& err);

    // Opens the browser shell on the display, on the first site, with the user's own settings
    // and registration, and waits until it is closed; its exit status.
    static int browse(const std::vector<DemoSite>& sites, std::ostream& out, std::ostream& err);
};

}  // namespace perchlight::cli
