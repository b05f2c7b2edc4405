/* A Weston module for tests: gives a compositor without input (the headless backend) one seat
 * with a keyboard and a pointer, and lets the test drive it through files in the compositor's
 * runtime directory, checked every 100 ms:
 *   kastrel-escape   when it appears, Escape is pressed and released on the focused window
 *                    (the file is then removed);
 *   kastrel-frames   rewritten with the number of output repaints so far.
 * Load it with weston --modules=/path/to/this.so. */
#include <libweston/libweston.h>
#include <linux/input-event-codes.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>
#include <wayland-server-core.h>

/* libweston's own seat and input calls: exported, but their header is not installed. */
void weston_seat_init(struct weston_seat* seat, struct weston_compositor* ec, const char* name);
int weston_seat_init_keyboard(struct weston_seat* seat, struct xkb_keymap* keymap);
int weston_seat_init_pointer(struct weston_seat* seat);
void notify_key(struct weston_seat* seat, const struct timespec* time, uint32_t key,
                enum wl_keyboard_key_state state, enum weston_key_state_update update_state);
int wet_module_init(struct weston_compositor* ec, int* argc, char* argv[]);

static struct weston_seat seat;
static struct wl_event_source* tick;
static struct wl_listener output_created;
static unsigned long frames;
static char escape_file[512], frames_file[512];

static void on_frame(struct wl_listener* listener, void* data) {
  (void)listener;
  (void)data;
  ++frames;
}

static void watch_output(struct weston_output* output) {
  struct wl_listener* l = calloc(1, sizeof *l); /* lives as long as the compositor */
  if (l == NULL) return;
  l->notify = on_frame;
  wl_signal_add(&output->frame_signal, l);
}

static void on_output_created(struct wl_listener* listener, void* data) {
  (void)listener;
  watch_output(data);
}

static int on_tick(void* data) {
  (void)data;
  /* Written aside and renamed, so a reader never sees the file empty or half written. */
  char part[sizeof frames_file + 8];
  snprintf(part, sizeof part, "%s.part", frames_file);
  FILE* f = fopen(part, "w");
  if (f != NULL) {
    fprintf(f, "%lu\n", frames);
    if (fclose(f) == 0) rename(part, frames_file);
  }
  if (access(escape_file, F_OK) == 0) {
    unlink(escape_file);
    struct weston_keyboard* keyboard = weston_seat_get_keyboard(&seat);
    if (keyboard == NULL || keyboard->focus == NULL)
      fprintf(stderr, "kastrel-seat: no window has the keyboard\n");
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    notify_key(&seat, &now, KEY_ESC, WL_KEYBOARD_KEY_STATE_PRESSED, STATE_UPDATE_AUTOMATIC);
    notify_key(&seat, &now, KEY_ESC, WL_KEYBOARD_KEY_STATE_RELEASED, STATE_UPDATE_AUTOMATIC);
  }
  wl_event_source_timer_update(tick, 100);
  return 0;
}

WL_EXPORT int wet_module_init(struct weston_compositor* ec, int* argc, char* argv[]) {
  (void)argc;
  (void)argv;
  const char* dir = getenv("XDG_RUNTIME_DIR");
  if (dir == NULL) return -1;
  snprintf(escape_file, sizeof escape_file, "%s/kastrel-escape", dir);
  snprintf(frames_file, sizeof frames_file, "%s/kastrel-frames", dir);
  weston_seat_init(&seat, ec, "kastrel-seat");
  if (weston_seat_init_keyboard(&seat, NULL) < 0 || weston_seat_init_pointer(&seat) < 0) return -1;
  struct weston_output* output;
  wl_list_for_each(output, &ec->output_list, link) watch_output(output);
  output_created.notify = on_output_created;
  wl_signal_add(&ec->output_created_signal, &output_created);
  tick = wl_event_loop_add_timer(wl_display_get_event_loop(ec->wl_display), on_tick, NULL);
  if (tick == NULL) return -1;
  wl_event_source_timer_update(tick, 100);
  return 0;
}
