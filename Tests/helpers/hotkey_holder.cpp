// Another X client that holds a global key grab, for conflict tests.
// Usage: hotkey_holder <keysym> <modifier mask>. Prints "grabbed" or "failed <X error code>", then
// holds the grab until its standard input closes.
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    const auto keysym = xcb_keysym_t(std::strtoul(argv[1], nullptr, 0));
    const auto mask = uint16_t(std::strtoul(argv[2], nullptr, 0));
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::puts("failed no-display");
        return 1;
    }
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(connection);
    xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, keysym);
    const xcb_keycode_t keycode = codes ? codes[0] : 0;
    std::free(codes);
    xcb_key_symbols_free(symbols);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_generic_error_t *error = xcb_request_check(connection,
        xcb_grab_key_checked(connection, 1, root, mask, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    if (error) {
        std::printf("failed %d\n", error->error_code);
        std::free(error);
    } else {
        std::puts("grabbed");
    }
    std::fflush(stdout);
    while (std::getchar() != EOF) { }
    xcb_disconnect(connection);
    return 0;
}
