#include "kastrel/audio/audio.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "kastrel/audio/detail/audio_header.h"
#include "kastrel/base/detail/outside_readings.h"
#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/device/input.h"  // the reading numbers only
#include "kastrel/device/sdl/alsa_quiet.h"
#include "kastrel/device/sdl/file_stream.h"

namespace KASTREL::AUDIO {

// One decoded sound or one music stream, with the sounds or tracks that hold it counted. Every
// live record sits in a list so that closing the device can free what the mixer owns.
struct SAMPLES {
  std::atomic<int32_t> holders{1};
  Mix_Chunk* chunk = nullptr;
  Mix_Music* music = nullptr;
  std::vector<uint8_t> bytes;   // a track loaded from memory streams from here
  SDL_RWops* stream = nullptr;  // a track's source, closed after the track
  SAMPLES* prev = nullptr;
  SAMPLES* next = nullptr;
};

namespace {

constexpr int kRate = 44100;
constexpr int kBufferFrames = 1024;
constexpr int kMaxVoices = 256;

struct Device {
  bool open = false;
  bool silent = false;
  bool dead = false;  // not even the silent fallback opened: every call does nothing
  bool warned = false;
  bool exit_hook = false;
  SDL_AudioDeviceID id = 0;  // the mixer's device, for pausing and atomic starts
  float master = 1.0f;
  float music_volume = 1.0f;
  bool muted = false;
  bool paused = false;
  int32_t voices = 16;
  // Per voice: when its sound started (a play counter) and whether it loops forever.
  std::vector<uint64_t> started;
  std::vector<bool> forever;
  uint64_t plays = 0;
  SAMPLES* track = nullptr;  // the music last started
};
Device d;

std::mutex records_mutex;
SAMPLES* records = nullptr;

int to_mixer(float volume) {
  if (!(volume > 0.0f)) return 0;  // also NaN
  return static_cast<int>(std::lround(std::min(volume, 1.0f) * MIX_MAX_VOLUME));
}

void apply_volumes() {
  const float master = d.muted ? 0.0f : d.master;
  Mix_MasterVolume(to_mixer(master));
  Mix_VolumeMusic(to_mixer(master * d.music_volume));
}

// The device SDL_mixer opened: the one that is not stopped now and was before.
SDL_AudioDeviceID find_new_device(const std::vector<bool>& busy_before) {
  for (SDL_AudioDeviceID id = 1; id < busy_before.size(); ++id)
    if (!busy_before[id] && SDL_GetAudioDeviceStatus(id) != SDL_AUDIO_STOPPED) return id;
  return 0;
}

bool try_open(std::string* why) {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    *why = SDL_GetError();
    return false;
  }
  std::vector<bool> busy(17);
  for (SDL_AudioDeviceID id = 1; id < busy.size(); ++id)
    busy[id] = SDL_GetAudioDeviceStatus(id) != SDL_AUDIO_STOPPED;
  // Stereo is kept (SDL converts for other layouts) so that pans mean the same everywhere.
  if (Mix_OpenAudioDevice(kRate, AUDIO_S16SYS, 2, kBufferFrames, nullptr,
                          SDL_AUDIO_ALLOW_FREQUENCY_CHANGE) != 0) {
    *why = Mix_GetError();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  d.id = find_new_device(busy);
  return true;
}

void close_at_exit() { CLOSEAUDIO(); }

// The output went away under the mixer: SDL tells it through an event, posted on its audio
// thread, which the window driver's queue would otherwise swallow unseen. Only opened devices
// are reported removed, and the mixer's is the one output we open.
int watch_output(void*, SDL_Event* event) {
  static std::atomic<bool> told{false};
  if (event->type == SDL_AUDIODEVICEREMOVED && !event->adevice.iscapture &&
      !told.exchange(true)) {
    std::fprintf(stderr, "kastrel: the audio output was lost; the game goes on without sound\n");
  }
  return 1;
}

// Opens the device if need be; false when there is no mixer at all.
bool ready() {
  if (d.open) return true;
  if (d.dead) return false;
  // The program keeps its own signal handling; a truncated WAV file is an error.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_WAVE_TRUNCATION, "verystrict");
  // Before the device opens: it may fail at its first buffer.
  SDL_DelEventWatch(watch_output, nullptr);
  SDL_AddEventWatch(watch_output, nullptr);
  std::string why;
  // The engine says in one line what went wrong; the ALSA library would add lines of its own.
  vox_sdl_alsa_quiet();
  const struct LOUD {
    ~LOUD() { vox_sdl_alsa_loud(); }
  } loud_again;
  if (!try_open(&why)) {
    std::string why_silent;
    SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
    const bool silent = try_open(&why_silent);
    SDL_ResetHint(SDL_HINT_AUDIODRIVER);
    if (!d.warned) {
      d.warned = true;
      std::fprintf(stderr, "kastrel: no audio device (%s); the game runs without sound\n",
                   why.c_str());
    }
    if (!silent) {
      d.dead = true;
      return false;
    }
    d.silent = true;
  }
  d.open = true;
  Mix_AllocateChannels(d.voices);
  d.started.assign(size_t(d.voices), 0);
  d.forever.assign(size_t(d.voices), false);
  apply_volumes();
  if (d.paused) SDL_PauseAudioDevice(d.id, 1);
  if (!d.exit_hook) {
    d.exit_hook = true;
    std::atexit(close_at_exit);
  }
  return true;
}

// Mixer calls made under this lock happen between two buffers, never across one.
struct MixerLock {
  MixerLock() { SDL_LockAudioDevice(d.id); }
  ~MixerLock() { SDL_UnlockAudioDevice(d.id); }
  MixerLock(const MixerLock&) = delete;
  MixerLock& operator=(const MixerLock&) = delete;
};

void free_mixer_data(SAMPLES* s) {
  if (s->chunk) Mix_FreeChunk(s->chunk);
  if (s->music) {
    // Halted first: freeing a track that fades out would wait for the fade.
    if (d.track == s) {
      Mix_HaltMusic();
      d.track = nullptr;
    }
    Mix_FreeMusic(s->music);
  }
  if (s->stream) SDL_RWclose(s->stream);
  s->chunk = nullptr;
  s->music = nullptr;
  s->stream = nullptr;
}

SAMPLES* new_record() {
  auto* s = new SAMPLES;
  std::lock_guard g(records_mutex);
  s->next = records;
  if (records) records->prev = s;
  records = s;
  return s;
}

void hold(SAMPLES* s) {
  if (s) s->holders.fetch_add(1, std::memory_order_relaxed);
}

void release(SAMPLES*& s) {
  SAMPLES* r = std::exchange(s, nullptr);
  if (!r || r->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  {
    std::lock_guard g(records_mutex);
    if (r->prev) r->prev->next = r->next;
    if (r->next) r->next->prev = r->prev;
    if (records == r) records = r->next;
    free_mixer_data(r);
  }
  delete r;
}

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

enum class Kind { sound, music };

std::atomic<uint64_t> g_max_sound_bytes{DEFAULTMAXSOUNDBYTES};

// What a sound of these frames takes once decoded into the mixer's format; 0 when unknown.
uint64_t decoded_bytes(const SOUNDHEADER& h) {
  int rate = 0, channels = 0;
  Uint16 format = 0;
  if (h.FRAMES < 0 || h.RATE <= 0 || !Mix_QuerySpec(&rate, &format, &channels)) return 0;
  const double bytes = std::ceil(double(h.FRAMES) * rate / h.RATE) * channels *
                       (SDL_AUDIO_BITSIZE(format) / 8);
  return bytes >= 0x1p63 ? UINT64_MAX : uint64_t(bytes);
}

// A stream whose tags (byte ranges) read as zeros, which the mixer takes for empty tags; it owns
// the stream it reads.
struct HIDING {
  SDL_RWops* in;
  std::vector<std::pair<int64_t, int64_t>> ranges;
};
HIDING* hiding(SDL_RWops* rw) { return static_cast<HIDING*>(rw->hidden.unknown.data1); }

SDL_RWops* hide_tags(SDL_RWops* in, std::vector<std::pair<int64_t, int64_t>> ranges) {
  SDL_RWops* rw = SDL_AllocRW();
  if (!rw) return nullptr;
  rw->type = SDL_RWOPS_UNKNOWN;
  rw->hidden.unknown.data1 = new HIDING{in, std::move(ranges)};
  rw->size = [](SDL_RWops* c) { return SDL_RWsize(hiding(c)->in); };
  rw->seek = [](SDL_RWops* c, Sint64 to, int how) { return SDL_RWseek(hiding(c)->in, to, how); };
  rw->read = [](SDL_RWops* c, void* into, size_t size, size_t count) -> size_t {
    const HIDING* h = hiding(c);
    const Sint64 at = SDL_RWtell(h->in);
    if (at < 0) return 0;
    const size_t got = SDL_RWread(h->in, into, size, count);
    for (auto [from, to] : h->ranges) {
      const int64_t lo = std::max<int64_t>(from, at), hi = std::min(to, at + int64_t(got * size));
      if (lo < hi) std::memset(static_cast<uint8_t*>(into) + (lo - at), 0, size_t(hi - lo));
    }
    return got;
  };
  rw->write = [](SDL_RWops*, const void*, size_t, size_t) -> size_t { return 0; };
  rw->close = [](SDL_RWops* c) {
    HIDING* h = hiding(c);
    const int result = SDL_RWclose(h->in);
    delete h;
    SDL_FreeRW(c);
    return result;
  };
  return rw;
}

// Checks the format at the stream's start, and for a sound the size it decodes to, and rewinds
// it; closes it when refused. A track streams, so only its format counts. An accepted stream
// comes back with its tags hidden.
bool accept(Kind kind, SDL_RWops*& rw, const char* what, Mix_MusicType* type) {
  uint8_t head[36] = {};
  const size_t got = SDL_RWread(rw, head, 1, sizeof head);
  *type = SOUNDFORMAT(head, got);
  SOUNDHEADER h = READSOUNDHEADER(rw, *type);
  const uint64_t cap = MAXSOUNDBYTES(), bytes = kind == Kind::sound ? decoded_bytes(h) : 0;
  if (*type != MUS_NONE && !h.WRONG && (cap == 0 || bytes <= cap)) {
    if (h.HIDE.empty()) return true;
    if (SDL_RWops* hidden = hide_tags(rw, std::move(h.HIDE))) {
      rw = hidden;
      return true;
    }
    SETLASTERROR("%s cannot be read: %s", what, SDL_GetError());
    SDL_RWclose(rw);
    return false;
  }
  if (h.WRONG)
    SETLASTERROR("%s %s", what, h.WRONG);
  else if (*type != MUS_NONE)
    SETLASTERROR("%s would decode to %llu bytes, over the cap of %llu (AUDIO::SETMAXSOUNDBYTES)",
                 what, static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(cap));
  else if (got == 0)
    SETLASTERROR("%s is empty or cannot be read", what);
  else
    SETLASTERROR("%s is not a WAV, AIFF, OGG Vorbis, Opus, FLAC or MP3 file", what);
  SDL_RWclose(rw);
  return false;
}

// While a load decodes on this thread, SDL's allocations (the mixer's buffers grow through
// them) are held to twice the cap, which what its header allows never needs; a file whose
// header cannot tell its length is stopped there. Refusals and real failures are noted.
thread_local uint64_t t_alloc_limit = 0;  // 0: none
thread_local bool t_over_cap = false, t_out_of_memory = false;
SDL_malloc_func g_malloc;
SDL_calloc_func g_calloc;
SDL_realloc_func g_realloc;
SDL_free_func g_free;

bool allowed(size_t bytes) {
  if (t_alloc_limit == 0 || bytes <= t_alloc_limit) return true;
  t_over_cap = true;
  return false;
}
void* noted(void* p, size_t n) {
  if (!p && n != 0) t_out_of_memory = true;
  return p;
}
void* capped_malloc(size_t n) { return allowed(n) ? noted(g_malloc(n), n) : nullptr; }
void* capped_calloc(size_t n, size_t size) {
  size_t total = SIZE_MAX;
  (void)__builtin_mul_overflow(n, size, &total);
  return allowed(total) ? noted(g_calloc(n, size), total) : nullptr;
}
void* capped_realloc(void* p, size_t n) {
  return allowed(n) ? noted(g_realloc(p, n), n) : nullptr;
}

// Installed before main, while no thread can be inside SDL; each hook hands on to SDL's own.
[[maybe_unused]] const bool g_hooked = [] {
  SDL_GetMemoryFunctions(&g_malloc, &g_calloc, &g_realloc, &g_free);
  return SDL_SetMemoryFunctions(capped_malloc, capped_calloc, capped_realloc, g_free) == 0;
}();

// Holds SDL's allocations on this thread to the cap for its lifetime.
struct DecodeLimit {
  DecodeLimit() {
    const uint64_t cap = MAXSOUNDBYTES();
    t_alloc_limit = cap > UINT64_MAX / 2 ? 0 : cap * 2;
    t_over_cap = t_out_of_memory = false;
  }
  ~DecodeLimit() { t_alloc_limit = 0; }
  DecodeLimit(const DecodeLimit&) = delete;
  DecodeLimit& operator=(const DecodeLimit&) = delete;
};

// A plain WAV file already in the mixer's own format (16-bit PCM, its rate and channels): the
// samples are used where they lie, in a block the record keeps, instead of being copied again.
Mix_Chunk* mixer_format_wav(std::vector<uint8_t>& bytes) {
  int rate = 0, channels = 0;
  Uint16 format = 0;
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      !Mix_QuerySpec(&rate, &format, &channels) || format != AUDIO_S16LSB)
    return nullptr;
  const uint8_t* fmt = nullptr;
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const uint8_t* chunk = bytes.data() + at;
    const uint32_t size = le32(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16 && at + 8 + 16 <= bytes.size()) {
      fmt = chunk + 8;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      const bool plain = fmt && (fmt[0] | fmt[1] << 8) == 1 && (fmt[2] | fmt[3] << 8) == channels &&
                         le32(fmt + 4) == uint32_t(rate) && (fmt[14] | fmt[15] << 8) == 16;
      const uint32_t frame = uint32_t(channels) * 2;
      if (!plain || size == 0 || size % frame != 0 || size > bytes.size() - at - 8) return nullptr;
      return Mix_QuickLoad_RAW(bytes.data() + at + 8, size);
    }
    at += 8 + size_t(size) + (size & 1);
  }
  return nullptr;
}

// Decodes (a sound) or opens the stream (a track) into a new record; null on failure.
SAMPLES* load(Kind kind, SDL_RWops* rw, const std::string& what, std::vector<uint8_t> bytes) {
  Mix_MusicType type;
  if (!accept(kind, rw, what.c_str(), &type)) return nullptr;
  // The stream stays ours: some of the mixer's failure paths leave it open.
  DecodeLimit limit;
  Mix_Chunk* chunk = nullptr;
  Mix_Music* music = nullptr;
  if (kind == Kind::sound) {
    chunk = mixer_format_wav(bytes);
    if (!chunk) {
      chunk = Mix_LoadWAV_RW(rw, 0);
      bytes.clear();  // decoded into the mixer's own copy
    }
    SDL_RWclose(rw);
    rw = nullptr;
  } else {
    music = Mix_LoadMUSType_RW(rw, type, 0);
  }
  if (!chunk && !music) {
    if (t_over_cap)
      SETLASTERROR("%s decodes to more than twice the cap of %llu bytes (AUDIO::SETMAXSOUNDBYTES)",
                   what.c_str(), static_cast<unsigned long long>(MAXSOUNDBYTES()));
    else if (t_out_of_memory)
      SETLASTERROR("%s cannot be decoded: out of memory", what.c_str());
    else
      SETLASTERROR("%s cannot be decoded: %s", what.c_str(), Mix_GetError());
    if (rw) SDL_RWclose(rw);
    return nullptr;
  }
  if (chunk && chunk->alen == 0) {
    Mix_FreeChunk(chunk);
    SETLASTERROR("%s holds no samples", what.c_str());
    return nullptr;
  }
  SAMPLES* s = new_record();
  s->chunk = chunk;
  s->music = music;
  s->stream = rw;
  s->bytes = std::move(bytes);
  return s;
}

BOOLEAN load_file(Kind kind, SAMPLES*& into, const std::string& name) {
  release(into);
  if (!ready()) return TRUE;
  const std::string what = "\"" + name + "\"";
  if (kind == Kind::sound) {
    // Read whole, in one go: the decoder's many small reads and seeks then cost no system calls.
    std::vector<uint8_t> bytes;
    PLATFORM::READFILE file;
    if (!file.OPEN(name)) {
      SETLASTERROR("%s cannot be opened: %s", what.c_str(), file.REASON().c_str());
      return FALSE;
    }
    const uint64_t size = file.SIZE();
    // A sound decodes to at least about its file's size.
    const uint64_t cap = MAXSOUNDBYTES();
    if (cap != 0 && size > cap) {
      SETLASTERROR("%s is %llu bytes, over the cap of %llu (AUDIO::SETMAXSOUNDBYTES)", what.c_str(),
                   static_cast<unsigned long long>(size), static_cast<unsigned long long>(cap));
      return FALSE;
    }
    if (size > INT32_MAX) {
      SETLASTERROR("%s cannot be read: larger than 2 GiB", what.c_str());
      return FALSE;
    }
    bool no_memory = false;
    try {
      bytes.resize(size_t(size));
    } catch (const std::bad_alloc&) {
      no_memory = true;
    }
    if (no_memory || file.READ(bytes.data(), bytes.size()) != int64_t(bytes.size())) {
      SETLASTERROR("%s cannot be read%s", what.c_str(), no_memory ? ": out of memory" : "");
      return FALSE;
    }
    SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), int(bytes.size()));
    if (!rw) {
      SETLASTERROR("%s cannot be read: %s", what.c_str(), SDL_GetError());
      return FALSE;
    }
    into = load(kind, rw, what, std::move(bytes));
    return into ? TRUE : FALSE;
  }
  std::string reason;
  SDL_RWops* rw = vox_sdl_open_file(name, &reason);
  if (!rw) {
    SETLASTERROR("%s cannot be opened: %s", what.c_str(), reason.c_str());
    return FALSE;
  }
  into = load(kind, rw, what, {});
  return into ? TRUE : FALSE;
}

BOOLEAN load_memory(Kind kind, SAMPLES*& into, const void* mem, int32_t size) {
  release(into);
  if (mem == nullptr || size <= 0) {
    SETLASTERROR("the memory block is empty (%d bytes at %p)", size, mem);
    return FALSE;
  }
  if (!ready()) return TRUE;
  // A track streams while it plays, and a sound may keep its samples where they lie: both
  // work on a copy of their own.
  std::vector<uint8_t> bytes(static_cast<const uint8_t*>(mem),
                             static_cast<const uint8_t*>(mem) + size);
  SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), size);
  if (!rw) {
    SETLASTERROR("the memory block cannot be read: %s", SDL_GetError());
    return FALSE;
  }
  into = load(kind, rw, "the memory block", std::move(bytes));
  return into ? TRUE : FALSE;
}

// The voice to take from a sound when every voice is busy: the earliest started that does not
// loop forever; -1 when there is none.
int oldest_voice() {
  int best = -1;
  for (int v = 0; v < d.voices; ++v) {
    if (d.forever[size_t(v)] || !Mix_Playing(v)) continue;
    if (best < 0 || d.started[size_t(v)] < d.started[size_t(best)]) best = v;
  }
  return best;
}

int repeats_of(int32_t loops) { return loops < 0 ? -1 : loops; }

Mix_Chunk* chunk_of(const SAMPLES* s) { return s ? s->chunk : nullptr; }

BOOLEAN filtered(int32_t call, BOOLEAN answer) {
  int32_t values[2] = {call, answer != FALSE ? 1 : 0};
  FILTEROUTSIDE(READAUDIO, values, 2);
  return values[1] != 0 ? TRUE : FALSE;
}

}  // namespace

// ---- SAMPLESHANDLE -------------------------------------------------------------------------

SAMPLESHANDLE::SAMPLESHANDLE(const SAMPLESHANDLE& OTHER) : ISAMPLES(OTHER.ISAMPLES) {
  hold(ISAMPLES);
}
SAMPLESHANDLE::SAMPLESHANDLE(SAMPLESHANDLE&& OTHER) noexcept
    : ISAMPLES(std::exchange(OTHER.ISAMPLES, nullptr)) {}
SAMPLESHANDLE& SAMPLESHANDLE::operator=(const SAMPLESHANDLE& OTHER) {
  SAMPLES* keep = OTHER.ISAMPLES;
  hold(keep);
  release(ISAMPLES);
  ISAMPLES = keep;
  return *this;
}
SAMPLESHANDLE& SAMPLESHANDLE::operator=(SAMPLESHANDLE&& OTHER) noexcept {
  if (this != &OTHER) {
    release(ISAMPLES);
    ISAMPLES = std::exchange(OTHER.ISAMPLES, nullptr);
  }
  return *this;
}
SAMPLESHANDLE::~SAMPLESHANDLE() { release(ISAMPLES); }

int32_t SAMPLESHANDLE::HOLDERS() const { return ISAMPLES ? ISAMPLES->holders.load() : 0; }

// ---- SOUND -------------------------------------------------------------------------------

SOUND::SOUND(const std::string& FILENAME) { LOADFROMFILE(FILENAME); }
SOUND::SOUND(const void* MEM, int32_t SIZE) { LOADFROMMEMORY(MEM, SIZE); }

BOOLEAN SOUND::LOADFROMFILE(const std::string& FILENAME) {
  return load_file(Kind::sound, ISAMPLES, FILENAME);
}
BOOLEAN SOUND::LOADFROMMEMORY(const void* MEM, int32_t SIZE) {
  return load_memory(Kind::sound, ISAMPLES, MEM, SIZE);
}

BOOLEAN SOUND::PLAY(float VOLUME, float PAN, int32_t LOOPS) const {
  // Whether a voice took it is the device's answer, which a replay takes from its recording.
  const auto start = [&]() -> BOOLEAN {
    if (!ready()) return TRUE;
    Mix_Chunk* chunk = chunk_of(ISAMPLES);
    if (!chunk) {
      SETLASTERROR("no sound is loaded to play");
      return FALSE;
    }
    // Volume and pan are set before the voice's first buffer is mixed.
    MixerLock lock;
    int voice = Mix_PlayChannel(-1, chunk, repeats_of(LOOPS));
    if (voice < 0) {
      const int oldest = oldest_voice();
      if (oldest >= 0) voice = Mix_PlayChannel(oldest, chunk, repeats_of(LOOPS));
    }
    if (voice < 0) {
      SETLASTERROR("every one of the %d voices plays a sound that loops forever", d.voices);
      return FALSE;
    }
    d.started[size_t(voice)] = ++d.plays;
    d.forever[size_t(voice)] = LOOPS < 0;
    Mix_Volume(voice, to_mixer(VOLUME));
    const float pan = std::isnan(PAN) ? 0.0f : std::clamp(PAN, -1.0f, 1.0f);
    const auto left = static_cast<Uint8>(std::lround(255.0f * std::min(1.0f, 1.0f - pan)));
    const auto right = static_cast<Uint8>(std::lround(255.0f * std::min(1.0f, 1.0f + pan)));
    Mix_SetPanning(voice, left, right);  // 255, 255 removes the effect
    return TRUE;
  };
  return filtered(3, start());
}

void SOUND::STOP() const {
  Mix_Chunk* chunk = chunk_of(ISAMPLES);
  if (!chunk || !d.open) return;
  MixerLock lock;
  for (int v = 0; v < d.voices; ++v)
    if (Mix_Playing(v) && Mix_GetChunk(v) == chunk) Mix_HaltChannel(v);
}

BOOLEAN SOUND::PLAYING() const {
  Mix_Chunk* chunk = chunk_of(ISAMPLES);
  bool playing = false;
  if (chunk && d.open) {
    MixerLock lock;
    for (int v = 0; v < d.voices && !playing; ++v)
      playing = Mix_Playing(v) && Mix_GetChunk(v) == chunk;
  }
  return filtered(0, playing ? TRUE : FALSE);
}

void* SOUND::HANDLE() const { return chunk_of(ISAMPLES); }

double SOUND::LENGTH() const {
  Mix_Chunk* chunk = chunk_of(ISAMPLES);
  int rate = 0, channels = 0;
  Uint16 format = 0;
  if (!chunk || !Mix_QuerySpec(&rate, &format, &channels)) return 0.0;
  const double frame_bytes = double(SDL_AUDIO_BITSIZE(format) / 8 * channels);
  return double(chunk->alen) / frame_bytes / rate;
}


// ---- MUSIC -------------------------------------------------------------------------------

MUSIC::MUSIC(const std::string& FILENAME) { LOADFROMFILE(FILENAME); }
MUSIC::MUSIC(const void* MEM, int32_t SIZE) { LOADFROMMEMORY(MEM, SIZE); }

BOOLEAN MUSIC::LOADFROMFILE(const std::string& FILENAME) {
  return load_file(Kind::music, ISAMPLES, FILENAME);
}
BOOLEAN MUSIC::LOADFROMMEMORY(const void* MEM, int32_t SIZE) {
  return load_memory(Kind::music, ISAMPLES, MEM, SIZE);
}

BOOLEAN MUSIC::PLAY(int32_t LOOPS, float FADEIN) const {
  const auto start = [&]() -> BOOLEAN {
    if (!ready()) return TRUE;
    Mix_Music* music = ISAMPLES ? ISAMPLES->music : nullptr;
    if (!music) {
      SETLASTERROR("no music is loaded to play");
      return FALSE;
    }
    // The mixer waits for a fading track to finish before starting another, and a paused fade
    // never finishes: stop it outright.
    Mix_HaltMusic();
    // The mixer counts plays, not repeats.
    const int plays = LOOPS < 0 ? -1 : LOOPS + 1;
    const int ms =
        FADEIN > 0.0f ? static_cast<int>(std::lround(std::min(FADEIN, 3600.0f) * 1000)) : 0;
    const int result = ms > 0 ? Mix_FadeInMusic(music, plays, ms) : Mix_PlayMusic(music, plays);
    if (result != 0) {
      SETLASTERROR("the music cannot start: %s", Mix_GetError());
      return FALSE;
    }
    d.track = ISAMPLES;
    return TRUE;
  };
  return filtered(4, start());
}

void* MUSIC::HANDLE() const { return ISAMPLES ? ISAMPLES->music : nullptr; }

void PAUSEMUSIC() {
  if (d.open) Mix_PauseMusic();
}
void RESUMEMUSIC() {
  if (d.open) Mix_ResumeMusic();
}
void STOPMUSIC(float FADEOUT) {
  if (!d.open) return;
  const int ms =
      FADEOUT > 0.0f ? static_cast<int>(std::lround(std::min(FADEOUT, 3600.0f) * 1000)) : 0;
  // A paused track would never finish its fade.
  if (ms > 0 && Mix_PlayingMusic() && !Mix_PausedMusic() && !d.paused) {
    if (Mix_FadingMusic() != MIX_FADING_OUT) Mix_FadeOutMusic(ms);
  } else {
    Mix_HaltMusic();
  }
}
BOOLEAN MUSICPLAYING() { return filtered(1, d.open && Mix_PlayingMusic() ? TRUE : FALSE); }

void MUSICVOLUME(float VOLUME) {
  d.music_volume = std::isnan(VOLUME) ? 0.0f : std::clamp(VOLUME, 0.0f, 1.0f);
  if (d.open) apply_volumes();
}
float MUSICVOLUME() { return d.music_volume; }

// ---- the whole mix -----------------------------------------------------------------------

void MASTERVOLUME(float VOLUME) {
  d.master = std::isnan(VOLUME) ? 0.0f : std::clamp(VOLUME, 0.0f, 1.0f);
  if (d.open) apply_volumes();
}
float MASTERVOLUME() { return d.master; }

void MUTE(BOOLEAN ON) {
  d.muted = ON != FALSE;
  if (d.open) apply_volumes();
}
BOOLEAN MUTED() { return d.muted ? TRUE : FALSE; }

// The device itself stops calling the mixer, so fades and streams stand still too.
void PAUSEALL() {
  d.paused = true;
  if (d.open) SDL_PauseAudioDevice(d.id, 1);
}
void RESUMEALL() {
  d.paused = false;
  if (d.open) SDL_PauseAudioDevice(d.id, 0);
}
BOOLEAN ALLPAUSED() { return d.paused ? TRUE : FALSE; }

void STOPALL() {
  if (!d.open) return;
  Mix_HaltChannel(-1);
  Mix_HaltMusic();
}

void VOICES(int32_t COUNT) {
  d.voices = std::clamp(COUNT, 1, kMaxVoices);
  if (!d.open) return;
  MixerLock lock;
  Mix_AllocateChannels(d.voices);
  d.started.resize(size_t(d.voices), 0);
  d.forever.resize(size_t(d.voices), false);
}
int32_t VOICES() { return d.voices; }

BOOLEAN OPENAUDIO() {
  ready();
  return TRUE;
}

void CLOSEAUDIO() {
  if (!d.open) return;
  Mix_HaltChannel(-1);
  Mix_HaltMusic();
  {
    std::lock_guard g(records_mutex);
    for (SAMPLES* s = records; s; s = s->next) free_mixer_data(s);
  }
  SDL_DelEventWatch(watch_output, nullptr);
  Mix_CloseAudio();
  Mix_Quit();
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  if (SDL_WasInit(0) == 0) SDL_Quit();
  d.open = false;
  d.silent = false;
  d.id = 0;
  d.track = nullptr;
}

BOOLEAN SILENT() { return filtered(2, d.open && d.silent ? TRUE : FALSE); }

void SETMAXSOUNDBYTES(uint64_t BYTES) { g_max_sound_bytes.store(BYTES, std::memory_order_relaxed); }
uint64_t MAXSOUNDBYTES() { return g_max_sound_bytes.load(std::memory_order_relaxed); }

}  // namespace KASTREL::AUDIO
