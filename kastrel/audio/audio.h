#pragma once
#include <cstdint>
#include <string>

#include "kastrel/boolean.h"

// Sound effects and music, mixed by SDL2_mixer.
//
// The device opens on the first call that needs it (a load, a play, OPENAUDIO to open it at
// start-up) and closes when the program exits (or at CLOSEAUDIO). It mixes 16-bit stereo at
// 44.1 kHz (or the device's own rate) in buffers of 1024 frames, about 23 ms.
//
// No audio device (no sound card, no sound server, a driver that cannot open) is not an error:
// the mixer then runs on SDL's dummy driver, which discards what it mixes. Every call behaves as
// usual (loads still check their files, PLAYING still follows the sound) but nothing is heard,
// SILENT() is TRUE, and one line on standard error says why, once per process. Should even that
// driver fail, loads succeed with null sounds and every call does nothing. An output that goes
// away while the game runs (a device unplugged, a sound server ended) is told in one line too.
//
// Conventions for the whole subsystem: volumes are 0..1 (clamped; 1 plays the samples as they
// are, 0.5 is 6 dB lower); pans are -1 (left only) .. 0 (both sides at full level) .. 1 (right
// only); LOOPS counts the repeats after the first play: 0 plays once, 2 three times, FOREVER
// without end. Failures return FALSE or a null sound and leave a reason in KASTREL::LASTERROR().
// Call it from the thread that runs the game.
namespace KASTREL::AUDIO {

// The LOOPS value that repeats a sound or a track until it is stopped.
inline constexpr int32_t FOREVER = -1;

struct SAMPLES;  // decoded samples or a music stream, shared by copies

// What SOUND and MUSIC share: copies hold the same samples, which are freed when the last copy
// lets go, as bitmaps do. Copied and assigned only as a SOUND or a MUSIC, so a sound never takes
// a music stream.
struct SAMPLESHANDLE {
  SAMPLES* ISAMPLES = nullptr;

  int32_t HOLDERS() const;  // how many copies share these samples; 0 when null

 protected:
  SAMPLESHANDLE() = default;
  SAMPLESHANDLE(const SAMPLESHANDLE& OTHER);
  SAMPLESHANDLE(SAMPLESHANDLE&& OTHER) noexcept;
  SAMPLESHANDLE& operator=(const SAMPLESHANDLE& OTHER);
  SAMPLESHANDLE& operator=(SAMPLESHANDLE&& OTHER) noexcept;
  ~SAMPLESHANDLE();
};

// A sound effect, decoded into memory when loaded: WAV, AIFF, OGG Vorbis, Opus, FLAC or MP3,
// recognised by its contents (not its name). Copies share the decoded samples, which are freed
// when the last copy lets go, as bitmaps do. A failed load leaves a null sound.
struct SOUND : SAMPLESHANDLE {
  // A null sound, or one loaded at once as LOADFROMFILE / LOADFROMMEMORY load it (null when
  // the load fails, with the reason in LASTERROR()).
  SOUND() = default;
  explicit SOUND(const std::string& FILENAME);
  SOUND(const void* MEM, int32_t SIZE);

  // FALSE (and a null sound) for a missing, unreadable, damaged or unsupported file, or one that
  // decodes to more than MAXSOUNDBYTES(). The memory block is only read during the call.
  BOOLEAN LOADFROMFILE(const std::string& FILENAME);
  BOOLEAN LOADFROMMEMORY(const void* MEM, int32_t SIZE);

  // Starts the sound on a free voice. When every voice is busy, it takes the voice whose sound
  // started longest ago among those that do not loop forever; when all of them loop forever, it
  // does not play (FALSE). A null sound does not play either (FALSE).
  BOOLEAN PLAY(float VOLUME = 1.0f, float PAN = 0.0f, int32_t LOOPS = 0) const;
  // Stops every voice playing this sound, at once.
  void STOP() const;
  // TRUE while a voice plays this sound (also while all sound is paused).
  BOOLEAN PLAYING() const;

  void* HANDLE() const;   // SDL_mixer's Mix_Chunk, or null
  double LENGTH() const;  // seconds of one play; 0 for a null sound
};

// One music track, streamed from its file (or from a private copy of a memory block) while it
// plays: WAV, AIFF, OGG Vorbis, Opus, FLAC or MP3, recognised by its contents. One track plays
// at a time. Copies share the stream; a track freed while it plays stops.
struct MUSIC : SAMPLESHANDLE {
  // A null track, or one opened at once as LOADFROMFILE / LOADFROMMEMORY open it (null when
  // that fails, with the reason in LASTERROR()).
  MUSIC() = default;
  explicit MUSIC(const std::string& FILENAME);
  MUSIC(const void* MEM, int32_t SIZE);

  // Opens the track for streaming; from memory, the block is copied, so the caller's may go.
  // FALSE (and a null track) for a missing, unreadable, damaged or unsupported file.
  BOOLEAN LOADFROMFILE(const std::string& FILENAME);
  BOOLEAN LOADFROMMEMORY(const void* MEM, int32_t SIZE);

  // Plays this track from its start in place of any other, rising from silence to the music
  // volume over FADEIN seconds (0: at once). FALSE for a null track.
  BOOLEAN PLAY(int32_t LOOPS = FOREVER, float FADEIN = 0.0f) const;

  void* HANDLE() const;  // SDL_mixer's Mix_Music, or null
};

// The music now playing: pause and resume it; stop it now or fading out over FADEOUT seconds
// (at once when it or all sound is paused, since a paused fade never ends); TRUE while a track
// plays or is paused.
void PAUSEMUSIC();
void RESUMEMUSIC();
void STOPMUSIC(float FADEOUT = 0.0f);
BOOLEAN MUSICPLAYING();
// The music's own volume (1 at start), under the master volume.
void MUSICVOLUME(float VOLUME);
float MUSICVOLUME();

// Scales every effect and the music (1 at start).
void MASTERVOLUME(float VOLUME);
float MASTERVOLUME();
// Silences everything while on, keeping every volume for when it goes off.
void MUTE(BOOLEAN ON);
inline void MUTE(bool ON) { MUTE(TOBOOLEAN(ON)); }
BOOLEAN MUTED();

// Freezes all sound where it is (effects, music, fades), for example while the window is
// minimised; RESUMEALL goes on from the same samples. Sounds started meanwhile wait too.
void PAUSEALL();
void RESUMEALL();
BOOLEAN ALLPAUSED();
// Stops every effect and the music.
void STOPALL();

// How many effects can sound at once (16 at start; 1..256). Fewer stops the voices beyond.
void VOICES(int32_t COUNT);
int32_t VOICES();

// Opens the device now (otherwise the first load or play does). TRUE also when running silent.
BOOLEAN OPENAUDIO();
// Closes the device: every sound and track loaded so far becomes null. The next call that
// needs the device opens it again. Runs by itself at program exit.
void CLOSEAUDIO();
// TRUE when the device is open on the silent fallback.
BOOLEAN SILENT();

// The most bytes a sound may take once decoded (16-bit stereo at the mixer's rate: about 10 MB
// a minute); 0 lifts the cap. A sound over it fails to load, told from the file's header
// before decoding for WAV, AIFF, FLAC, OGG Vorbis and Opus files whose header says their
// length, and stopped while decoding (at twice the cap) for the others. Tracks stream and are
// not held whole: the cap does not apply to them, but they pass the same checks of format,
// rate and header as sounds. Any thread.
inline constexpr uint64_t DEFAULTMAXSOUNDBYTES = uint64_t{256} << 20;
void SETMAXSOUNDBYTES(uint64_t BYTES);
uint64_t MAXSOUNDBYTES();

// What the sound device says of the world outside the program (SOUND::PLAYING, MUSICPLAYING,
// SILENT, and what SOUND::PLAY and MUSIC::PLAY answered) passes through the outside-reading
// filter (kastrel/base/detail/outside_readings.h: reading READAUDIO of kastrel/device/input.h, call 0 to
// 4 in that order, and the answer),
// so a session recording keeps these answers and its replay gives them back.

}  // namespace KASTREL::AUDIO
