#pragma once
// Inside the sound subsystem: what a file's headers tell before any of it is decoded. The mixer
// trusts them when it sizes its buffers, so whatever it cannot play, or would need absurd memory
// for, is refused here first. Not for games.
#include <SDL.h>
#include <SDL_mixer.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace KASTREL::AUDIO {

struct SOUNDHEADER {
  const char* WRONG = nullptr;  // why the file cannot be played, or null
  int64_t FRAMES = -1;          // sample frames it holds; -1 when its headers cannot tell
  double RATE = 0;              // frames a second; 0 when its headers cannot tell
  // Byte ranges [from, to) of tags the mixer must not see (see READSOUNDHEADER).
  std::vector<std::pair<int64_t, int64_t>> HIDE;
};

// The format told by a file's first bytes (MUS_NONE for what we do not accept).
Mix_MusicType SOUNDFORMAT(const uint8_t* head, size_t size);

// Reads the headers of a WAV, AIFF, FLAC, Ogg Vorbis, Opus or MP3 stream; rewinds it afterwards.
// The mixer's tag readers read past their buffers on some damaged tags, and a game needs no
// tags: the bodies of an MP3's leading ID3 tag and of WAV and AIFF tag chunks go in HIDE.
SOUNDHEADER READSOUNDHEADER(SDL_RWops* rw, Mix_MusicType type);

}  // namespace KASTREL::AUDIO
