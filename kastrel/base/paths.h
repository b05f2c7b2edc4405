#pragma once
#include <string>
#include <vector>

// Where a game finds its own files and keeps the player's.
namespace KASTREL::PATHS {

// The game's asset folder, ending in '/': PREFIX/share/NAME/ when the program runs as
// PREFIX/bin/NAME and that folder exists (an installed game, wherever its prefix was moved),
// else the folder data/ beside the program when it exists (a game unpacked anywhere, as from a
// Windows zip), otherwise "./", the working directory. Load assets as
// PATHS::DATA() + "images/ball.png".
std::string DATA();

// The player's writable folder for ORG's game APP, ending in '/':
// $XDG_DATA_HOME/ORG/APP/ ($HOME/.local/share/ORG/APP/ when XDG_DATA_HOME is unset or not an
// absolute path), %APPDATA%/ORG/APP/ on Windows, created on first use. "" when ORG or APP is
// empty, "." or "..", holds a '/' (or '\\' on Windows), or the folder cannot be made;
// LASTERROR() then says why.
std::string SAVES(const std::string& ORG, const std::string& APP);

}  // namespace KASTREL::PATHS

namespace KASTREL::PLATFORM {

// The program's arguments in UTF-8, ARGV[0] first: main's ARGC and ARGV where the system gives
// them so, else (Windows) the process's own command line split as the C run-time splits it. A
// game that takes paths on its command line reads them here.
std::vector<std::string> PROGRAMARGUMENTS(int ARGC, char** ARGV);

}  // namespace KASTREL::PLATFORM
