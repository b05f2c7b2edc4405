#pragma once

// The system's ALSA library prints its own errors on standard error (several lines when there
// is no sound card at all), beside the one line the engine writes. While quiet, they are
// dropped; the reason still reaches the engine through SDL. The library is looked up at run
// time, only where it is installed, so nothing new is linked; elsewhere these do nothing.

// Silences the library's error printer (loading the library SDL will load, so that the
// setting is the one SDL's copy sees).
void vox_sdl_alsa_quiet();
// Puts the library's own printer back.
void vox_sdl_alsa_loud();
