#pragma once

#include <string>

#include "util/Url.h"

namespace perchlight {

class CheckOwner;

// Finds the page's policy (known reference files, the well-known location, the page's P3P LINK,
// its "policyref=" header, in this order), evaluates it and the policies of the embedded items
// and shows the page verdict with its sound. Any error, "STOP" included, shows the unknown
// verdict without sound. Returns the evaluation code of the page's policy (0 when none was set).
int checkPage(CheckOwner& owner, const Url& page, const std::string& postData);

// The routine of a check thread: registers the thread with the owner's check monitor, checks the
// page and swallows whatever escapes.
void runCheckThread(CheckOwner& owner, const Url& page, const std::string& postData);

}  // namespace perchlight
