#include "platform/WindowActivation.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace halvoren {

namespace {

using Connection = std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)>;

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(xcb_intern_atom_reply(connection, cookie, nullptr),
                                                                         &std::free);
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// The server's time now: a property change on a window of our own reports it.
xcb_timestamp_t serverTime(xcb_connection_t* connection, const xcb_screen_t& screen)
{
    const xcb_window_t probe = xcb_generate_id(connection);
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, probe, screen.root, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    xcb_change_property(connection, XCB_PROP_MODE_APPEND, probe, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(connection);
    xcb_timestamp_t time = XCB_CURRENT_TIME;
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        const bool found = (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY;
        if (found)
            time = reinterpret_cast<xcb_property_notify_event_t*>(event)->time;
        std::free(event);
        if (found)
            break;
    }
    xcb_destroy_window(connection, probe);
    return time;
}

bool managerSupports(xcb_connection_t* connection, const xcb_screen_t& screen, xcb_atom_t wanted)
{
    const xcb_get_property_cookie_t cookie
        = xcb_get_property(connection, 0, screen.root, atom(connection, "_NET_SUPPORTED"), XCB_ATOM_ATOM, 0, 4096);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(xcb_get_property_reply(connection, cookie, nullptr),
                                                                          &std::free);
    if (!reply || reply->format != 32)
        return false;
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    for (int i = 0; i < count; ++i) {
        if (atoms[i] == wanted)
            return true;
    }
    return false;
}

} // namespace

bool activateX11Window(std::uint32_t window)
{
    int screenNumber = 0;
    Connection connection(xcb_connect(nullptr, &screenNumber), &xcb_disconnect);
    if (!connection || xcb_connection_has_error(connection.get()) != 0)
        return false;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem == 0)
        return false;
    const xcb_screen_t& screen = *screens.data;
    const xcb_timestamp_t time = serverTime(connection.get(), screen);
    const xcb_atom_t active = atom(connection.get(), "_NET_ACTIVE_WINDOW");
    if (managerSupports(connection.get(), screen, active)) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = active;
        // From an application, at the server's present time.
        message.data.data32[0] = 1;
        message.data.data32[1] = time;
        xcb_send_event(connection.get(), 0, screen.root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&message));
    } else {
        xcb_set_input_focus(connection.get(), XCB_INPUT_FOCUS_PARENT, window, time);
    }
    // The requests are sent and done before the connection goes.
    std::free(xcb_get_input_focus_reply(connection.get(), xcb_get_input_focus(connection.get()), nullptr));
    return true;
}

} // namespace halvoren
