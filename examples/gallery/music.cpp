// Music: one track streamed while it plays, rising in over two seconds, paused and resumed,
// louder and softer, and stopped with a fade. P pauses, Up and Down change the volume, S fades
// out, Enter plays again; Escape ends. In a browser sound starts after the first key or click.
#include <kastrel/kastrel.h>

#include <cstdio>
#include <string>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320;
FONT TEXT;
AUDIO::MUSIC TRACK;
bool PAUSED = false;
float T = 0;

void FRAME(float ELAPSED, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  T += ELAPSED;
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS) {
    const int32_t CODE = EVENT.SCANCODE;
    if (CODE == KEY::ESCAPE) ENGINE::SHUTDOWN(TRUE);
    if (CODE == KEY::P) {
      PAUSED = !PAUSED;
      if (PAUSED)
        AUDIO::PAUSEMUSIC();
      else
        AUDIO::RESUMEMUSIC();
    }
    if (CODE == KEY::UP) AUDIO::MUSICVOLUME(AUDIO::MUSICVOLUME() + 0.1f);  // kept within 0..1
    if (CODE == KEY::DOWN) AUDIO::MUSICVOLUME(AUDIO::MUSICVOLUME() - 0.1f);
    if (CODE == KEY::S) AUDIO::STOPMUSIC(1.5f);  // fades out over 1.5 s
    if (CODE == KEY::ENTER) {
      PAUSED = false;
      TRACK.PLAY(AUDIO::FOREVER, 2.0f);
    }
  }
  ENGINE::MARKWHOLEWINDOW();
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, 0xFF1E2430);
  TEXT.DRAW(DEST, 10, 8, "P: pause   Up/Down: volume   S: fade out   Enter: play", 0xFFFFFFFF);
  const bool PLAYING = AUDIO::MUSICPLAYING();  // TRUE while playing or paused
  const std::string STATE = !PLAYING ? "stopped" : PAUSED ? "paused" : "playing";
  TEXT.DRAW(DEST, 240, 80, STATE, PLAYING ? 0xFF50C070 : 0xFFE05050, TEXTCENTRE);
  // The volume as a bar, and bars that dance while the music plays.
  const int32_t VOLUME = int32_t(AUDIO::MUSICVOLUME() * 100 + 0.5f);
  DRAWRECT(DEST, {139, 120, 201, 16}, 0xFF606880);
  FILLRECT(DEST, {140, 121, VOLUME * 2, 14}, 0xFFFFD040);
  TEXT.DRAW(DEST, 240, 140, "volume " + std::to_string(VOLUME) + " %", 0xFFB0B8C8, TEXTCENTRE);
  for (int32_t I = 0; I < 16; ++I) {
    const int32_t H = PLAYING && !PAUSED ? 10 + (I * 37 + int32_t(T * 12)) % 50 : 4;
    FILLRECT(DEST, {60 + I * 23, 290 - H, 17, H}, 0xFF50A0F0);
  }
}

}  // namespace

int main() {
  bool LOADED = false;
  ENGINE::ONINITIALIZE += [&LOADED] {
    // A page carries the track as OGG Vorbis (a tenth of the weight); elsewhere it is the WAV.
    if (!TEXT.OPENDEFAULT(16) || (!TRACK.LOADFROMFILE(PATHS::DATA() + "music.ogg") &&
                                  !TRACK.LOADFROMFILE(PATHS::DATA() + "music.wav")))
      return;
    LOADED = true;
    TRACK.PLAY(AUDIO::FOREVER, 2.0f);  // loops for ever, rising in over 2 s
    const int32_t SCREEN = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
    ENGINE::GAMESCREENS[SCREEN].ONPAINT += PAINT;
    ENGINE::SHOW(SCREEN);
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC) || !LOADED) {
    std::fprintf(stderr, "music: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
