#pragma once
// Internal to the platform layer: what the calls POSIX systems share (platform_posix.cpp) ask of
// each system's own source (platform_linux.cpp, platform_web.cpp).

#include <string>

namespace KASTREL::PLATFORM {

// After a durable save has reached the file system: whatever more the system needs before the
// save counts as kept. False with REASON set when it could not be kept.
bool STOREDURABLY(const std::string& PATH, std::string* REASON);

}  // namespace KASTREL::PLATFORM
