#pragma once
// Recording and replay of play sessions, and frames written to PNG files while a game runs.
//
// A recording keeps, from INITIALIZE on, the screen mode the game asks for, every clock reading
// its thread takes (the frame loop's elapsed times and the random seed come from them), every
// input-state reading it takes (vox_GfxMultikey, vox_GetMouse, vox_GetKey, the pad polls) whose
// answer changed, for every frame-loop pass the device event it took, and a hash of every 10th
// frame (at most ten a second) and the last. SIGTERM, SIGINT and SIGHUP ask a recording game to
// close (the second ends it at once), so its recording ends as after the close box. A replay
// runs the same game on the null driver and feeds it all of that back, so the game's state
// evolves exactly as recorded, and compares the hashed frames; at the end of a recording cut
// short it ends the game as a close request would. The environment switches it on for any game:
//   KASTREL_RECORD=session.kst     record this run
//   KASTREL_REPLAY=session.kst     replay it (KASTREL_REPLAY_WINDOW=1: in a window;
//                                  KASTREL_REPLAY_VERIFY=1: report every differing frame;
//                                  KASTREL_REPLAY_WHOLE=1: a recording cut short fails)
//   KASTREL_REPLAY_SUMMARY=file    at the replay's end, write there one line: "N frames
//                                  compared, M equal; the recording is whole" (or "is cut
//                                  short after pass P")
//   KASTREL_FRAMES=dir             write the screen after passes to dir/pass-NNNNNN.png,
//   KASTREL_FRAMES_EVERY=N         every Nth pass (default 1),
//   KASTREL_FRAMES_AT=3,50,400     or only the passes listed
// A replay the game does not follow, or a session file that cannot be used, ends the process
// with a message on the standard error stream and one of the exit statuses below.

#include <cstdint>
#include <string>
#include <vector>

#include "kastrel/boolean.h"
#include "kastrel/device/event.h"

namespace KASTREL::ENGINE {

// The session file cannot be read or written, or is not a sound recording.
inline constexpr int32_t EXITBADSESSION = 6;
// The game did other than the recording says (another screen mode, more or fewer clock
// readings, a frame that differs from its recorded hash, going on past its end or stopping
// before it).
inline constexpr int32_t EXITDIVERGED = 7;
// The recording was cut short (it has no end mark) and a whole one was asked for
// (KASTREL_REPLAY_WHOLE=1); its frames all matched.
inline constexpr int32_t EXITCUT = 8;

// Records the run into FILENAME from INITIALIZE on (call before it). FALSE, with LASTERROR(),
// when the file cannot be created or a session is set already.
BOOLEAN RECORDSESSION(const std::string& FILENAME);
// Replays FILENAME from INITIALIZE on (call before it); the whole file is checked now, and read
// again block by block as the game goes. FALSE, with LASTERROR(), for a file that cannot be
// read or is not a sound recording, or when a session is set already. WINDOW TRUE shows the
// replay in a window of the usual driver. A replayed frame that differs from its recorded hash
// stops the replay (status 7); with VERIFY TRUE each is reported and the replay goes on, to
// stop with status 7 when the game's frame loop ends.
BOOLEAN REPLAYSESSION(const std::string& FILENAME, BOOLEAN WINDOW = BOOLEAN{},  // BOOLEAN{}: FALSE
                      BOOLEAN VERIFY = BOOLEAN{});
inline BOOLEAN REPLAYSESSION(const std::string& FILENAME, bool WINDOW, bool VERIFY = false) {
  return REPLAYSESSION(FILENAME, TOBOOLEAN(WINDOW), TOBOOLEAN(VERIFY));
}
// TRUE while the game is being replayed (from REPLAYSESSION or KASTREL_REPLAY on) and, once the
// replayed frame loop has ended, for the rest of the process, so that a game can leave out what
// has no place in a replay (a network high-score upload on the way out, say). The player's own
// files stay untouched then too: saves go to the replay's own folder.
BOOLEAN REPLAYING();

// Writes the screen after pass EVERY, 2 x EVERY, ... (or after the passes listed, when PASSES
// is not empty) to DIR/pass-NNNNNN.png, passes counted from 1. FALSE, with LASTERROR(), for an
// EVERY below 1 or a DIR that is not a writable folder.
BOOLEAN WRITEFRAMES(const std::string& DIR, int32_t EVERY, const std::vector<int32_t>& PASSES = {});

// The engine's own calls into recording and replay; games do not call these.
namespace SESSIONHOOK {
// INITIALIZE's requested mode: recorded or checked. Returns the flag word to open the screen
// with (MODE_NULL for a replay without a window).
int32_t MODE(int32_t W, int32_t H, BOOLEAN FS, int32_t FLAGS);
// The pass's device event: vox_GfxEvent's, recorded, or the recorded one.
int32_t FETCHEVENT(VOX::EVENT* EVENT);
// End of a frame-loop pass, before the screen is unlocked: frames and the pass's block.
void ENDPASS();
// Whether passes pause between them at all (not in a replay without a window).
bool PAUSES();
// Whether the pass's device event source has an event waiting (the recording's passes never
// wait on the window's queue).
bool EVENTWAITING();
// The frame loop has ended.
void FINISH();
}  // namespace SESSIONHOOK

}  // namespace KASTREL::ENGINE
