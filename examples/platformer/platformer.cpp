// A platformer on Kastrel: a level made in the Tiled editor (maps/level1.tmx), scrolled by a
// camera that follows the player with a dead zone, solid ground and one-way planks from the
// map's layers, coins and a goal from its object layer, a runner drawn from a sprite sheet,
// sounds and music, keyboard and gamepad, and the best time kept in the player's settings.
//
// The world scrolls, so the play screen repaints the whole window every pass. The game ends with
// exit status 0 on Escape or the close box.
#include "platformer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

using namespace KASTREL;
using namespace KASTREL::WORLD;
using ENGINE::INPUTEVENT;
using ENGINE::TRANSITIONEFFECT;

namespace PLATFORMER {

GAMESTATE GAME;
int32_t TITLESCREEN, PLAYSCREEN, GOALSCREEN;

namespace {

// The player's box inside its 16 x 16 frame.
constexpr float BOXX = 3, BOXY = 2, BOXW = 10, BOXH = 14;
constexpr float RUNSPEED = 120, JUMPSPEED = 360, SHORTJUMP = 120, MAXFALL = 480;
constexpr uint32_t BACKCOLOR = 0xFF203048, TEXTCOLOR = 0xFFF0F0F0, GOLD = 0xFFFFD040;

TILEMAP MAP;
TILECOLLIDER SOLID;
CAMERA CAM(WIDTH, HEIGHT);
GRAPHICS::SPRITESHEET PLAYERSHEET, TILESHEET;
GRAPHICS::ANIMATION RUNNING(1, 4, 0.09f);
std::vector<const MAPOBJECT*> COINS;
const MAPOBJECT* GOAL = nullptr;
float STARTX = 0, STARTY = 0, GRAVITY = 900;

GRAPHICS::FONT BIGFONT, SMALLFONT;
AUDIO::SOUND JUMPSOUND, COINSOUND, LANDSOUND, GOALSOUND;
AUDIO::MUSIC THEMUSIC;
SETTINGS SAVED;

std::string SECONDS(int32_t MS) {
  char TEXT[32];
  std::snprintf(TEXT, sizeof TEXT, "%d.%02d s", MS / 1000, MS % 1000 / 10);
  return TEXT;
}

// A tile object's box: the editor places it by its bottom-left corner.
MATH::RECTF OBJECTBOX(const MAPOBJECT& O) {
  return {float(O.X), float(O.Y - O.HEIGHT), float(O.WIDTH), float(O.HEIGHT)};
}

bool TOUCHES(const MATH::RECTF& A, float INSET) {
  return GAME.X < A.X + A.W - INSET && A.X + INSET < GAME.X + BOXW && GAME.Y < A.Y + A.H - INSET &&
         A.Y + INSET < GAME.Y + BOXH;
}

// Loads the level and finds its start, coins and goal; FALSE with the reason in LASTERROR().
bool LOADLEVEL() {
  if (!MAP.LOADFROMFILE(PATHS::DATA() + "maps/level1.tmx")) return false;
  const LAYER* THINGS = MAP.FINDLAYER("things");
  if (THINGS == nullptr || MAP.TILESETS.empty()) {
    SETLASTERROR("%s", "maps/level1.tmx has no object layer \"things\" or no tileset");
    return false;
  }
  for (const MAPOBJECT& O : THINGS->OBJECTS) {
    if (O.CLASS == "coin") COINS.push_back(&O);
    if (O.CLASS == "goal") GOAL = &O;
    if (O.NAME == "start") STARTX = float(O.X), STARTY = float(O.Y);
  }
  if (GOAL == nullptr) {
    SETLASTERROR("%s", "maps/level1.tmx has no goal");
    return false;
  }
  SOLID = TILECOLLIDER(MAP);
  GRAVITY = float(MAP.PROPS.NUMBER("gravity", 900));
  TILESHEET = GRAPHICS::SPRITESHEET(MAP.TILESETS[0].IMAGE, MAP.TILEWIDTH, MAP.TILEHEIGHT);
  CAM.ZOOM = 2;
  CAM.DEADZONEW = 96, CAM.DEADZONEH = 160, CAM.LAG = 0.12f;  // view pixels, seconds
  CAM.BOUNDS = {0, 0, float(MAP.WIDTH * MAP.TILEWIDTH), float(MAP.HEIGHT * MAP.TILEHEIGHT)};
  return true;
}

// Space, Enter or the pad's Start or A: the "play" input of the title and goal screens.
bool PLAYPRESSED(INPUTEVENT INPUT, const VOX::EVENT& E) {
  return (INPUT == INPUTEVENT::KEYPRESS &&
          (E.SCANCODE == KEY::SPACE || E.SCANCODE == KEY::ENTER)) ||
         (INPUT == INPUTEVENT::PADBUTTONPRESS &&
          (E.CONTROL == VOX::PAD_START || E.CONTROL == VOX::PAD_A));
}

void COMMONINPUT(INPUTEVENT INPUT, const VOX::EVENT& E) {
  if (INPUT == INPUTEVENT::KEYPRESS && E.SCANCODE == KEY::ESCAPE) ENGINE::SHUTDOWN(FALSE);
}

// ---- Title and goal screens: centred text on the background. ----

void TEXTSCREEN(const char* HEADING, const std::string& LINE2, const std::string& LINE3) {
  GRAPHICS::BITMAP SCREEN;
  GRAPHICS::FILLRECT(SCREEN, {0, 0, WIDTH - 1, HEIGHT - 1}, BACKCOLOR);
  BIGFONT.DRAW(SCREEN, WIDTH / 2, 120, HEADING, GOLD, GRAPHICS::TEXTCENTRE);
  SMALLFONT.DRAW(SCREEN, WIDTH / 2, 230, LINE2, TEXTCOLOR, GRAPHICS::TEXTCENTRE);
  SMALLFONT.DRAW(SCREEN, WIDTH / 2, 265, LINE3, TEXTCOLOR, GRAPHICS::TEXTCENTRE);
  SMALLFONT.DRAW(SCREEN, WIDTH / 2, 340, "press Space / Start to play", TEXTCOLOR,
                 GRAPHICS::TEXTCENTRE);
}

void TITLE_ONPAINT(GRAPHICS::BITMAP&, MATH::RECT&) {
  TEXTSCREEN("PLATFORMER", "arrows, A/D or the stick run; Up, Z or the pad's A jump",
             GAME.BESTMS > 0 ? "best time " + SECONDS(GAME.BESTMS) : "reach the flag!");
}
void GOAL_ONPAINT(GRAPHICS::BITMAP&, MATH::RECT&) {
  const int32_t MS = int32_t(GAME.TIME * 1000);
  TEXTSCREEN("GOAL!",
             "time " + SECONDS(MS) + "   coins " + std::to_string(GAME.COINS) + " of " +
                 std::to_string(COINS.size()),
             GAME.NEWBEST ? "a new best time!" : "best time " + SECONDS(GAME.BESTMS));
}
void MENU_ONFRAME(float, INPUTEVENT INPUT, VOX::EVENT& E) {
  COMMONINPUT(INPUT, E);
  if (PLAYPRESSED(INPUT, E)) ENGINE::SHOW(PLAYSCREEN, TRANSITIONEFFECT::FADE);
}

// ---- The play screen. ----

void PLAY_ONSHOW() {
  GAME.X = STARTX - BOXW / 2;
  GAME.Y = STARTY - BOXH;
  GAME.VX = GAME.VY = 0;
  GAME.ONGROUND = GAME.FACINGLEFT = false;
  GAME.TAKEN.assign(COINS.size(), false);
  GAME.COINS = 0;
  GAME.TIME = 0;
  CAM.X = GAME.X, CAM.Y = GAME.Y;
  CAM.CLAMP();
}

float STEERING() {
  float STEER = 0.0f;
  if (vox_GfxMultikey(KEY::LEFT) != 0 || vox_GfxMultikey(KEY::A) != 0 ||
      vox_GfxPadButton(0, VOX::PAD_LEFT) != 0)
    STEER -= 1.0f;
  if (vox_GfxMultikey(KEY::RIGHT) != 0 || vox_GfxMultikey(KEY::D) != 0 ||
      vox_GfxPadButton(0, VOX::PAD_RIGHT) != 0)
    STEER += 1.0f;
  STEER += float(vox_GfxPadAxis(0, VOX::PAD_LEFTX)) / 32767.0f;
  return std::clamp(STEER, -1.0f, 1.0f);
}

bool JUMPHELD() {
  return vox_GfxMultikey(KEY::UP) != 0 || vox_GfxMultikey(KEY::Z) != 0 ||
         vox_GfxMultikey(KEY::SPACE) != 0 || vox_GfxPadButton(0, VOX::PAD_A) != 0;
}

void REACHGOAL() {
  const int32_t MS = int32_t(GAME.TIME * 1000);
  GAME.NEWBEST = GAME.BESTMS == 0 || MS < GAME.BESTMS;
  if (GAME.NEWBEST) {
    GAME.BESTMS = MS;
    SAVED.SETINT("best_ms", MS);
    if (!SAVED.SAVE()) std::fprintf(stderr, "platformer: %s\n", LASTERROR());
  }
  GOALSOUND.PLAY();
  ENGINE::SHOW(GOALSCREEN, TRANSITIONEFFECT::FADE);
}

// Runs, jumps (holding the button hops again on landing; letting go early cuts the jump short)
// and falls, against the map's solid tiles.
void MOVEPLAYER(float DT) {
  const float STEER = STEERING();
  GAME.VX = STEER * RUNSPEED;
  if (STEER != 0) GAME.FACINGLEFT = STEER < 0;
  const bool JUMP = JUMPHELD();
  if (JUMP && GAME.ONGROUND) {
    GAME.VY = -JUMPSPEED;
    JUMPSOUND.PLAY();
  } else if (!JUMP && GAME.VY < -SHORTJUMP) {
    GAME.VY = -SHORTJUMP;
  }
  GAME.VY = std::min(GAME.VY + GRAVITY * DT, MAXFALL);
  const MOVED M = SOLID.MOVEBOX({GAME.X, GAME.Y, BOXW, BOXH}, GAME.VX * DT, GAME.VY * DT);
  GAME.X = M.X, GAME.Y = M.Y;
  const bool LANDED = (M.TOUCHED & TOUCHBOTTOM) != 0;
  if (LANDED && !GAME.ONGROUND && GAME.VY > 200) LANDSOUND.PLAY();
  if (LANDED || ((M.TOUCHED & TOUCHTOP) != 0 && GAME.VY < 0)) GAME.VY = 0;
  GAME.ONGROUND = LANDED;
  RUNNING.UPDATE(GAME.ONGROUND && GAME.VX != 0 ? DT : 0);
}

void PLAY_ONFRAME(float FELAPSED, INPUTEVENT INPUT, VOX::EVENT& E) {
  COMMONINPUT(INPUT, E);
  if (GAME.PAUSED || ENGINE::ACTIVEGAMESCREEN != PLAYSCREEN) return;
  const float DT = std::min(FELAPSED, 1 / 30.0f);  // a stalled pass must not launch the player
  GAME.TIME += DT;
  MOVEPLAYER(DT);
  for (size_t I = 0; I < COINS.size(); ++I) {
    if (!GAME.TAKEN[I] && TOUCHES(OBJECTBOX(*COINS[I]), 3)) {
      GAME.TAKEN[I] = true;
      GAME.COINS += 1;
      COINSOUND.PLAY();
    }
  }
  CAM.FOLLOW(GAME.X + BOXW / 2, GAME.Y + BOXH / 2, DT);
  ENGINE::MARKWHOLEWINDOW();
  // The flag counts from the sky down to its foot, so hopping over it still reaches it.
  const MATH::RECTF FLAG = OBJECTBOX(*GOAL);
  if (TOUCHES({FLAG.X, -1e6f, FLAG.W, FLAG.Y + FLAG.H + 1e6f}, 4)) REACHGOAL();
}

// The tile animations' clock: the run's time, counted from the passes, so replays agree.
int64_t CLOCKMS() { return int64_t(double(GAME.TIME) * 1000); }

// Draws a tile object with its tileset animation.
void DRAWOBJECT(const MAPOBJECT& O) {
  const MATH::RECTF BOX = OBJECTBOX(O);
  const int32_t TILE =
      int32_t(MAP.ANIMATEDGID(O.GID, CLOCKMS()) & TILEGIDMASK) - int32_t(MAP.TILESETS[0].FIRSTGID);
  CAM.DRAW(nullptr, TILESHEET, TILE, BOX.X, BOX.Y);
}

void PLAY_ONPAINT(GRAPHICS::BITMAP&, MATH::RECT&) {
  // The sky over the whole window first: the map writes its background colour only inside the
  // camera's view.
  GRAPHICS::BITMAP SCREEN;
  GRAPHICS::FILLRECT(SCREEN, {0, 0, WIDTH - 1, HEIGHT - 1}, MAP.BACKGROUND | 0xFF000000u);
  DRAWMAP(nullptr, MAP, CAM, CLOCKMS());
  for (size_t I = 0; I < COINS.size(); ++I)
    if (!GAME.TAKEN[I]) DRAWOBJECT(*COINS[I]);
  DRAWOBJECT(*GOAL);
  const int32_t FRAME = !GAME.ONGROUND ? (GAME.VY < 0 ? 5 : 6) : GAME.VX != 0 ? RUNNING.FRAME() : 0;
  CAM.DRAW(nullptr, PLAYERSHEET, FRAME + (GAME.FACINGLEFT ? 7 : 0), GAME.X - BOXX, GAME.Y - BOXY);
  GRAPHICS::FILLRECT(SCREEN, {0, 0, WIDTH - 1, 29}, 0xA0101828, GRAPHICS::VOXALPHA);
  SMALLFONT.DRAW(SCREEN, 12, 3,
                 "coins " + std::to_string(GAME.COINS) + " / " + std::to_string(COINS.size()),
                 GOLD);
  SMALLFONT.DRAW(SCREEN, WIDTH - 12, 3, "time " + SECONDS(int32_t(GAME.TIME * 1000)), TEXTCOLOR,
                 GRAPHICS::TEXTRIGHT);
  if (GAME.PAUSED) {
    GRAPHICS::FILLRECT(SCREEN, {0, 200, WIDTH - 1, 79}, 0xC0000000, GRAPHICS::VOXALPHA);
    BIGFONT.DRAW(SCREEN, WIDTH / 2, 210, "paused", TEXTCOLOR, GRAPHICS::TEXTCENTRE);
  }
}

// Losing the focus pauses the game and its sound.
void ONBLUR() {
  GAME.PAUSED = true;
  AUDIO::PAUSEALL();
  ENGINE::MARKWHOLEWINDOW();
}
void ONFOCUS() {
  GAME.PAUSED = false;
  AUDIO::RESUMEALL();
  ENGINE::MARKWHOLEWINDOW();
}

void ATTACH(int32_t SCR, void (*PAINT)(GRAPHICS::BITMAP&, MATH::RECT&),
            void (*FRAME)(float, INPUTEVENT, VOX::EVENT&)) {
  ENGINE::GAMESCREENS[SCR].ONPAINT += PAINT;
  ENGINE::GAMESCREENS[SCR].ONFRAME += FRAME;
}

void ONINITIALIZE() {
  // A missing font, picture or sound fails with a reason; the game goes on without it.
  if (BIGFONT.OPENDEFAULT(56) == FALSE || SMALLFONT.OPENDEFAULT(20) == FALSE) {
    std::fprintf(stderr, "platformer: %s\n", LASTERROR());
  }
  GRAPHICS::BITMAP RUNNER;
  if (!RUNNER.LOADFROMFILE(PATHS::DATA() + "images/player.png"))
    std::fprintf(stderr, "platformer: %s\n", LASTERROR());
  PLAYERSHEET = GRAPHICS::SPRITESHEET(RUNNER, 16, 16);
  for (auto [SOUND, FILE] : {std::pair{&JUMPSOUND, "sounds/jump.wav"},
                             {&COINSOUND, "sounds/coin.wav"},
                             {&LANDSOUND, "sounds/land.wav"},
                             {&GOALSOUND, "sounds/goal.wav"}}) {
    if (!SOUND->LOADFROMFILE(PATHS::DATA() + FILE))
      std::fprintf(stderr, "platformer: %s\n", LASTERROR());
  }
  if (THEMUSIC.LOADFROMFILE(PATHS::DATA() + "sounds/music.wav"))
    THEMUSIC.PLAY(AUDIO::FOREVER, 1.0f);
  AUDIO::MUSICVOLUME(0.35f);

  // The best time lives in the player's own folder; without one the game keeps it for the run.
  const std::string FOLDER = PATHS::SAVES("kastrel", "platformer");
  if (!FOLDER.empty()) SAVED.LOAD(FOLDER + "settings.txt");
  GAME.BESTMS = std::max(SAVED.GETINT("best_ms", 0), 0);

  TITLESCREEN = ENGINE::NEWGAMESCREEN();
  PLAYSCREEN = ENGINE::NEWGAMESCREEN();
  GOALSCREEN = ENGINE::NEWGAMESCREEN();
  ATTACH(TITLESCREEN, TITLE_ONPAINT, MENU_ONFRAME);
  ATTACH(PLAYSCREEN, PLAY_ONPAINT, PLAY_ONFRAME);
  ATTACH(GOALSCREEN, GOAL_ONPAINT, MENU_ONFRAME);
  ENGINE::GAMESCREENS[PLAYSCREEN].ONSHOW += PLAY_ONSHOW;
  ENGINE::ONBLUR += ONBLUR;
  ENGINE::ONFOCUS += ONFOCUS;
  ENGINE::TRANSITIONDURATION = 0.5f;
  ENGINE::SHOW(TITLESCREEN);  // runs the whole game
}

}  // namespace

BOOLEAN RUN(int32_t FLAGS) {
  // The map comes first: without it there is no game, and the reason is the map's.
  if (!LOADLEVEL()) return FALSE;
  ENGINE::ONINITIALIZE += ONINITIALIZE;
  return ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, FLAGS);
}

}  // namespace PLATFORMER
