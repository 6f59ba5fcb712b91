#pragma once

#include <string>

#include "core/XmlNode.h"

namespace perchlight {

// The POLICY element of a policy document: a root POLICY, or a POLICY child of a POLICIES root or
// of the first POLICIES child of a META root. An empty name takes the first policy; otherwise
// the first whose NAME equals it. None when nothing fits.
XmlNodePtr locatePolicy(const XmlNodePtr& root, const std::string& name);

// True unless the element is a POLICY holding ENTITY, ACCESS and STATEMENT in that order, each
// with its required content (only the first STATEMENT is checked).
bool isPolicyMalformed(const XmlNode& policy);

// True when an EXTENSION whose OPTIONAL is "no" (in any case) stands in the subtree outside
// another EXTENSION.
bool hasMandatoryExtension(const XmlNode& node);

// Adds the P3P default attributes (REQUIRED "always" on purpose and recipient values, OPTIONAL
// "no" on DATA, ...) to every element of the subtree that lacks them; present values stay.
void applyDefaults(XmlNode& node);

}  // namespace perchlight
