#pragma once
// A notification area of the test's own on the desktop's X server, as a panel's tray offers it
// (the freedesktop.org system tray protocol): it owns the tray selection of the screen, and every
// icon that asks to dock is embedded into its strip at the bottom of the screen.
#include <QSocketNotifier>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace desktop {

class TrayHost {
 public:
  TrayHost() {
    int screenNumber = 0;
    c_ = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c_)) return;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c_));
    for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&it);
    const xcb_screen_t* screen = it.data;
    strip_ = xcb_generate_id(c_);
    // Override-redirect: the window manager leaves the strip where it is, as a panel's place.
    const uint32_t values[] = {screen->white_pixel, 1, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY};
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, strip_, screen->root, kStripX, screen->height_in_pixels - kHeight,
                      kWidth, kHeight, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    xcb_map_window(c_, strip_);
    const xcb_atom_t selection = Atom("_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber));
    opcode_ = Atom("_NET_SYSTEM_TRAY_OPCODE");
    xembed_ = Atom("_XEMBED");
    xcb_set_selection_owner(c_, strip_, selection, XCB_CURRENT_TIME);
    // Programs already running learn of the new tray from the manager message on the root.
    xcb_client_message_event_t manager{};
    manager.response_type = XCB_CLIENT_MESSAGE;
    manager.format = 32;
    manager.window = screen->root;
    manager.type = Atom("MANAGER");
    manager.data.data32[0] = XCB_CURRENT_TIME;
    manager.data.data32[1] = selection;
    manager.data.data32[2] = strip_;
    xcb_send_event(c_, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char*>(&manager));
    xcb_flush(c_);
    notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Dispatch(); });
    Dispatch();  // what the replies above brought along
  }
  ~TrayHost() {
    notifier_.reset();
    if (strip_) xcb_destroy_window(c_, strip_);
    xcb_disconnect(c_);
  }
  TrayHost(const TrayHost&) = delete;
  TrayHost& operator=(const TrayHost&) = delete;

  bool Running() const { return strip_ != 0; }
  int Docked() const { return docked_; }

 private:
  static constexpr int kStripX = 600;
  static constexpr int kWidth = 200;
  static constexpr int kHeight = 32;
  static constexpr int kIconSize = 24;
  static constexpr uint32_t kRequestDock = 0;
  static constexpr uint32_t kEmbeddedNotify = 0;

  xcb_atom_t Atom(const std::string& name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
  }

  // Embeds each icon that asks to dock, side by side.
  void Dispatch() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
      if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
        const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
        if (message->type == opcode_ && message->data.data32[1] == kRequestDock) Embed(message->data.data32[2]);
      }
      std::free(event);
    }
  }

  void Embed(xcb_window_t icon) {
    const int x = 4 + docked_++ * (kIconSize + 4);
    xcb_reparent_window(c_, icon, strip_, static_cast<int16_t>(x), (kHeight - kIconSize) / 2);
    const uint32_t size[] = {kIconSize, kIconSize};
    xcb_configure_window(c_, icon, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
    xcb_map_window(c_, icon);
    xcb_client_message_event_t embedded{};
    embedded.response_type = XCB_CLIENT_MESSAGE;
    embedded.format = 32;
    embedded.window = icon;
    embedded.type = xembed_;
    embedded.data.data32[0] = XCB_CURRENT_TIME;
    embedded.data.data32[1] = kEmbeddedNotify;
    embedded.data.data32[3] = strip_;
    xcb_send_event(c_, 0, icon, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&embedded));
    xcb_flush(c_);
  }

  xcb_connection_t* c_ = nullptr;
  xcb_window_t strip_ = 0;
  xcb_atom_t opcode_ = XCB_ATOM_NONE;
  xcb_atom_t xembed_ = XCB_ATOM_NONE;
  int docked_ = 0;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace desktop
