#pragma once
#include <SDL2/SDL_rwops.h>

#include <string>

// An SDL stream over a file opened through the platform layer: never blocks on a FIFO, refuses
// what is not a regular file, and takes UTF-8 paths on every system. Null with *REASON (no
// path in it) when the file cannot be opened.
SDL_RWops* vox_sdl_open_file(const std::string& path, std::string* reason);
