/* A pointer for the headless compositor, which has no input of its own: a module that adds a
 * seat and moves and presses its pointer as told, one line at a time, on the Unix socket named
 * by TIRV_WESTON_POINTER. Each line gets a one-line answer:
 *
 *   press PID X Y   pointer to X,Y of the window of process PID, left button down   -> ok
 *   move DX DY      pointer by DX,DY                                               -> ok
 *   release         left button up, if down                                        -> ok
 *   window PID      where that window is: X Y WIDTH HEIGHT and GRABBED, 1 while a
 *                   move or resize of the compositor holds the pointer              -> X Y W H G
 *
 * "none" answers a PID without a window.
 */
#include <libweston-desktop/libweston-desktop.h>
#include <libweston/libweston.h>

#include <linux/input.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

/* Exported by libweston, declared only in its private headers. */
void weston_seat_init(struct weston_seat *seat, struct weston_compositor *ec, const char *name);
int weston_seat_init_pointer(struct weston_seat *seat);
void notify_motion_absolute(
    struct weston_seat *seat, const struct timespec *time, double x, double y);
void notify_button(struct weston_seat *seat, const struct timespec *time, int32_t button,
    enum wl_pointer_button_state state);
void notify_pointer_frame(struct weston_seat *seat);

struct pointer_driver
{
    struct weston_compositor *compositor;
    struct weston_seat seat;
    double x, y;
    int pressed;
    int client;
    struct wl_event_source *client_source;
    char line[256];
    size_t used;
};

static struct timespec now(void)
{
    struct timespec time;
    clock_gettime(CLOCK_MONOTONIC, &time);
    return time;
}

/* The topmost window of process pid; its pointer's cursor is a surface of its own, no window. */
static struct weston_view *window_of(struct pointer_driver *driver, pid_t pid)
{
    struct weston_view *view;
    wl_list_for_each(view, &driver->compositor->view_list, link)
    {
        pid_t owner = 0;
        if (!view->surface->resource || !weston_view_is_mapped(view)
            || !weston_surface_is_desktop_surface(view->surface))
            continue;
        wl_client_get_credentials(
            wl_resource_get_client(view->surface->resource), &owner, NULL, NULL);
        if (owner == pid)
            return view;
    }
    return NULL;
}

static void move_to(struct pointer_driver *driver, double x, double y)
{
    struct timespec time = now();
    driver->x = x;
    driver->y = y;
    notify_motion_absolute(&driver->seat, &time, x, y);
    notify_pointer_frame(&driver->seat);
}

/* The compositor counts presses and releases, so each is sent only when it changes the state. */
static void set_button(struct pointer_driver *driver, enum wl_pointer_button_state state)
{
    struct timespec time = now();
    if (driver->pressed == (state == WL_POINTER_BUTTON_STATE_PRESSED))
        return;
    driver->pressed = state == WL_POINTER_BUTTON_STATE_PRESSED;
    notify_button(&driver->seat, &time, BTN_LEFT, state);
    notify_pointer_frame(&driver->seat);
}

static int is_grabbed(struct pointer_driver *driver)
{
    struct weston_pointer *pointer = weston_seat_get_pointer(&driver->seat);
    return pointer->grab != &pointer->default_grab;
}

static void answer(struct pointer_driver *driver, const char *command, char *reply, size_t size)
{
    int pid = 0;
    float x = 0, y = 0;
    struct weston_view *view;
    snprintf(reply, size, "ok\n");
    if (sscanf(command, "press %d %f %f", &pid, &x, &y) == 3) {
        float gx, gy;
        if (!(view = window_of(driver, pid))) {
            snprintf(reply, size, "none\n");
            return;
        }
        weston_view_to_global_float(view, x, y, &gx, &gy);
        move_to(driver, gx, gy);
        set_button(driver, WL_POINTER_BUTTON_STATE_PRESSED);
    } else if (sscanf(command, "move %f %f", &x, &y) == 2) {
        move_to(driver, driver->x + x, driver->y + y);
    } else if (strncmp(command, "release", 7) == 0) {
        set_button(driver, WL_POINTER_BUTTON_STATE_RELEASED);
    } else if (sscanf(command, "window %d", &pid) == 1) {
        if (!(view = window_of(driver, pid))) {
            snprintf(reply, size, "none\n");
            return;
        }
        snprintf(reply, size, "%d %d %d %d %d\n", (int)view->geometry.x, (int)view->geometry.y,
            view->surface->width, view->surface->height, is_grabbed(driver));
    } else {
        snprintf(reply, size, "unknown\n");
    }
}

static void drop_client(struct pointer_driver *driver)
{
    wl_event_source_remove(driver->client_source);
    close(driver->client);
    driver->client = -1;
    driver->used = 0;
}

static int on_client(int fd, uint32_t mask, void *data)
{
    struct pointer_driver *driver = data;
    char *end;
    ssize_t size = read(fd, driver->line + driver->used, sizeof driver->line - 1 - driver->used);
    if (size <= 0) {
        drop_client(driver);
        return 0;
    }
    driver->used += (size_t)size;
    driver->line[driver->used] = '\0';
    while ((end = strchr(driver->line, '\n'))) {
        char reply[128];
        *end = '\0';
        answer(driver, driver->line, reply, sizeof reply);
        if (write(fd, reply, strlen(reply)) < 0)
            weston_log("pointer driver: cannot answer\n");
        driver->used -= (size_t)(end + 1 - driver->line);
        memmove(driver->line, end + 1, driver->used + 1);
    }
    if (driver->used == sizeof driver->line - 1)
        drop_client(driver);
    (void)mask;
    return 0;
}

static int on_listener(int fd, uint32_t mask, void *data)
{
    struct pointer_driver *driver = data;
    int client = accept(fd, NULL, NULL);
    (void)mask;
    if (client < 0)
        return 0;
    if (driver->client >= 0)
        drop_client(driver);
    driver->client = client;
    driver->client_source
        = wl_event_loop_add_fd(wl_display_get_event_loop(driver->compositor->wl_display), client,
            WL_EVENT_READABLE, on_client, driver);
    return 0;
}

static int listen_on(const char *path)
{
    struct sockaddr_un address = { .sun_family = AF_UNIX };
    int fd;
    if (strlen(path) >= sizeof address.sun_path)
        return -1;
    strcpy(address.sun_path, path);
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    unlink(path);
    if (bind(fd, (struct sockaddr *)&address, sizeof address) != 0 || listen(fd, 1) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

WL_EXPORT int wet_module_init(struct weston_compositor *compositor, int *argc, char *argv[])
{
    const char *path = getenv("TIRV_WESTON_POINTER");
    struct pointer_driver *driver;
    int listener;
    (void)argc;
    (void)argv;
    if (!path || (listener = listen_on(path)) < 0) {
        weston_log("pointer driver: no socket at TIRV_WESTON_POINTER\n");
        return -1;
    }
    driver = calloc(1, sizeof *driver);
    driver->compositor = compositor;
    driver->client = -1;
    weston_seat_init(&driver->seat, compositor, "pointer-driver");
    weston_seat_init_pointer(&driver->seat);
    wl_event_loop_add_fd(wl_display_get_event_loop(compositor->wl_display), listener,
        WL_EVENT_READABLE, on_listener, driver);
    return 0;
}
