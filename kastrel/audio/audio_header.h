#pragma once
// Inside the sound subsystem: what a file's headers tell before any of it is decoded. The mixer
// trusts them when it sizes its buffers, so whatever it cannot play, or would need absurd memory
// for, is refused here first. Not for games.
#include <SDL.h>
#include <SDL_mixer.h>

#include <cstdint>

namespace KASTREL::AUDIO {

struct SOUNDHEADER {
  const char* WRONG = nullptr;  // why the file cannot be played, or null
  int64_t FRAMES = -1;          // sample frames it holds; -1 when its headers cannot tell
  double RATE = 0;              // frames a second; 0 when its headers cannot tell
};

// The format told by a file's first bytes (MUS_NONE for what we do not accept).
Mix_MusicType SOUNDFORMAT(const uint8_t* head, size_t size);

// Reads the headers of a WAV, AIFF, FLAC, Ogg Vorbis or Opus stream; rewinds it afterwards.
SOUNDHEADER READSOUNDHEADER(SDL_RWops* rw, Mix_MusicType type);

}  // namespace KASTREL::AUDIO
