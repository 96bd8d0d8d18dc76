// The X11 look-up, with libxcb (on which Qt's own X11 platform runs).
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ui/qt/window_titles.h"
#include "ui/startup_guard.h"

namespace ombrix::qt {
namespace {

template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply>
ReplyPtr<Reply> Own(Reply* reply) {
  return ReplyPtr<Reply>(reply, &std::free);
}

// Latin-1 (the encoding of WM_NAME of type STRING) to UTF-8.
std::string Utf8FromLatin1(std::string_view text) {
  std::string utf8;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8.push_back(c);
    } else {
      utf8.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return utf8;
}

}  // namespace

struct X11WindowTitles::Connection {
  xcb_connection_t* xcb = nullptr;
  xcb_window_t root = 0;
  xcb_atom_t client_list = XCB_ATOM_NONE;
  xcb_atom_t net_wm_name = XCB_ATOM_NONE;
  xcb_atom_t utf8_string = XCB_ATOM_NONE;

  ~Connection() {
    if (xcb != nullptr) xcb_disconnect(xcb);
  }

  xcb_window_t SelectionOwner(xcb_atom_t selection) const {
    const auto reply =
        Own(xcb_get_selection_owner_reply(xcb, xcb_get_selection_owner(xcb, selection), nullptr));
    return reply ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
  }

  xcb_atom_t Atom(const char* name) const {
    const auto reply = Own(xcb_intern_atom_reply(
        xcb,
        xcb_intern_atom(xcb, 0, static_cast<std::uint16_t>(std::string_view(name).size()), name),
        nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  }

  // The property's bytes, when it exists with the given type; nothing otherwise.
  bool Property(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                std::string& value) const {
    const auto reply = Own(xcb_get_property_reply(
        xcb, xcb_get_property(xcb, 0, window, property, type, 0, 1 << 16), nullptr));
    if (!reply || reply->type != type) return false;
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
    value.assign(data, static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
    return true;
  }

  std::string TitleOf(xcb_window_t window) const {
    std::string title;
    if (Property(window, net_wm_name, utf8_string, title)) return title;
    if (Property(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, title)) return Utf8FromLatin1(title);
    if (Property(window, XCB_ATOM_WM_NAME, utf8_string, title)) return title;
    return {};
  }

  std::vector<xcb_window_t> ChildrenOf(xcb_window_t window) const {
    const auto reply = Own(xcb_query_tree_reply(xcb, xcb_query_tree(xcb, window), nullptr));
    if (!reply) return {};
    const xcb_window_t* children = xcb_query_tree_children(reply.get());
    return {children, children + xcb_query_tree_children_length(reply.get())};
  }

  // The window manager's client list, and the tree's top two levels beside it: a list left
  // behind by a window manager that died names windows long gone and misses new ones.
  std::vector<xcb_window_t> TopLevelWindows() const {
    std::vector<xcb_window_t> windows;
    if (std::string list; Property(root, client_list, XCB_ATOM_WINDOW, list)) {
      windows.resize(list.size() / sizeof(xcb_window_t));
      list.copy(reinterpret_cast<char*>(windows.data()), windows.size() * sizeof(xcb_window_t));
    }
    for (const xcb_window_t child : ChildrenOf(root)) {
      windows.push_back(child);
      for (const xcb_window_t grandchild : ChildrenOf(child)) windows.push_back(grandchild);
    }
    std::sort(windows.begin(), windows.end());
    windows.erase(std::unique(windows.begin(), windows.end()), windows.end());
    return windows;
  }
};

std::unique_ptr<X11WindowTitles> X11WindowTitles::Connect() {
  auto connection = std::make_unique<Connection>();
  int screen_number = 0;
  connection->xcb = xcb_connect(nullptr, &screen_number);
  if (xcb_connection_has_error(connection->xcb) != 0) return nullptr;
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection->xcb));
  for (int i = 0; i < screen_number && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem == 0) return nullptr;
  connection->root = screens.data->root;
  connection->client_list = connection->Atom("_NET_CLIENT_LIST");
  connection->net_wm_name = connection->Atom("_NET_WM_NAME");
  connection->utf8_string = connection->Atom("UTF8_STRING");
  return std::unique_ptr<X11WindowTitles>(new X11WindowTitles(std::move(connection)));
}

X11WindowTitles::X11WindowTitles(std::unique_ptr<Connection> connection)
    : connection_(std::move(connection)) {}

X11WindowTitles::~X11WindowTitles() = default;

std::vector<std::uint32_t> X11WindowTitles::Find(std::string_view title) {
  std::vector<std::uint32_t> found;
  for (const xcb_window_t window : connection_->TopLevelWindows()) {
    if (connection_->TitleOf(window) == title) found.push_back(window);
  }
  return found;
}

bool X11WindowTitles::Exists(std::string_view title) { return !Find(title).empty(); }

bool X11WindowTitles::Claim(std::string_view title) {
  xcb_connection_t* xcb = connection_->xcb;
  const xcb_atom_t selection = connection_->Atom(ClaimName(title).c_str());
  xcb_window_t current = XCB_WINDOW_NONE;
  const xcb_window_t owner = xcb_generate_id(xcb);
  if (selection != XCB_ATOM_NONE) {
    // A window that is never mapped stands for this copy as the owner.
    xcb_create_window(xcb, 0, owner, connection_->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    // With the server grabbed, no other client's request runs between the look and the
    // taking: setting an owner would otherwise take the selection from a copy that has just
    // passed.
    xcb_grab_server(xcb);
    current = connection_->SelectionOwner(selection);
    if (current == XCB_WINDOW_NONE) {
      xcb_set_selection_owner(xcb, owner, selection, XCB_CURRENT_TIME);
      current = connection_->SelectionOwner(selection);
    }
    xcb_ungrab_server(xcb);
    xcb_flush(xcb);
  }
  if (selection == XCB_ATOM_NONE || current == XCB_WINDOW_NONE ||
      xcb_connection_has_error(xcb) != 0) {
    std::fputs(
        "ombrix-patch: the X server did not let this copy mark itself as running; a "
        "second copy of the tool will not be stopped.\n",
        stderr);
    return true;
  }
  return current == owner;
}

}  // namespace ombrix::qt
