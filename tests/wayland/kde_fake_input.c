/* Moves the pointer of a KDE Wayland session a little through KWin's fake-input protocol, as a
 * user's hand would: the headless test's way to end an idle moment. KWin offers the protocol
 * only to programs whose desktop file names it (X-KDE-Wayland-Interfaces).
 * Exit status: 0 moved, 2 no display, 3 the protocol is not offered to this program. */
#include "fake-input-client-protocol.h"

#include <string.h>
#include <unistd.h>
#include <wayland-client.h>

static struct org_kde_kwin_fake_input *fake_input;

static void global(void *data, struct wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
{
    (void)data;
    (void)version;
    if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0)
        fake_input = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 1);
}

static void global_remove(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

int main(void)
{
    static const struct wl_registry_listener listener = { global, global_remove };
    struct wl_display *display = wl_display_connect(NULL);
    if (!display)
        return 2;
    wl_registry_add_listener(wl_display_get_registry(display), &listener, NULL);
    wl_display_roundtrip(display);
    if (!fake_input)
        return 3;
    org_kde_kwin_fake_input_authenticate(fake_input, "Pellux test", "end an idle moment");
    for (int i = 0; i < 5; ++i) {
        org_kde_kwin_fake_input_pointer_motion(fake_input, wl_fixed_from_int(10), wl_fixed_from_int(10));
        wl_display_roundtrip(display);
        usleep(100 * 1000);
    }
    wl_display_disconnect(display);
    return 0;
}
