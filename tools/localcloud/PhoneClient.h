#pragma once

#include <string>
#include <vector>

namespace localcloud {

// `localcloud phone ...`: what the phone app does, against a running server. Returns the exit status.
int runPhoneCommand(const std::vector<std::string> &args);

} // namespace localcloud
