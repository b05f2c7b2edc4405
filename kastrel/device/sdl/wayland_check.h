#pragma once

// SDL 2.26 crashes in its Wayland start-up when the compositor offers no seat (no
// keyboard or pointer global, as under a headless compositor): it writes through the
// missing seat's record. This asks the compositor first.

// True when WAYLAND_DISPLAY (or the default socket) names a compositor that answers and
// offers no wl_seat. False when it offers one or none answers (SDL then decides).
bool vox_wayland_seatless();

// True when no Wayland display can be reached (no absolute WAYLAND_DISPLAY, no
// XDG_RUNTIME_DIR): SDL's try would only print libwayland's complaints.
bool vox_wayland_unreachable();
