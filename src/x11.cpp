// display-resolution: what SDL sets up on X11 for windows and keys we never
// use, answered here. Where SDL links libX11 (Debian's SDL 2 does, and so
// does the SDL 3 that sdl2-compat loads), the executable's definitions, which
// it exports (see CMakeLists.txt), take its calls; each gives way to
// libX11's own wherever it does not apply, and libX11's calls to itself
// never come here. Where SDL loads libX11 by name, none of this runs. Each
// says what it replaces.
#include "display-resolution.h"

#include <SDL.h>
#include <X11/Xlib.h>
#include <X11/Xresource.h>

#include <dlfcn.h>

#include <cstring>

namespace {

// The atoms SDL 2 interns as it comes up, each with a round trip of its
// own, and those SDL 3 (as of 3.4) interns besides most of them. SDL 3's
// list changes with its version: there only atoms the server has already
// are fetched, so that none is made that SDL would not make.
const char *const sdl2_atoms[] = {
    "WM_PROTOCOLS", "WM_DELETE_WINDOW", "WM_TAKE_FOCUS", "WM_NAME", "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN",
    "_NET_WM_STATE_FOCUSED", "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ",
    "_NET_WM_STATE_FULLSCREEN", "_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER",
    "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_FULLSCREEN", "_NET_WM_NAME", "_NET_WM_ICON_NAME", "_NET_WM_ICON",
    "_NET_WM_PING", "_NET_WM_WINDOW_OPACITY", "_NET_WM_USER_TIME", "_NET_ACTIVE_WINDOW", "_NET_FRAME_EXTENTS",
    "_SDL_WAKEUP", "UTF8_STRING", "PRIMARY", "XdndEnter", "XdndPosition", "XdndStatus", "XdndTypeList",
    "XdndActionCopy", "XdndDrop", "XdndFinished", "XdndSelection", "XKLAVIER_STATE", "_NET_SUPPORTING_WM_CHECK",
    "EDID"};
const char *const sdl3_atoms[] = {"WM_TRANSIENT_FOR", "_NET_WM_MOVERESIZE", "_NET_WM_STATE_MODAL",
                                  "_NET_WM_SYNC_REQUEST", "_NET_WM_SYNC_REQUEST_COUNTER", "CLIPBOARD", "INCR",
                                  "SDL_SELECTION", "TARGETS", "SDL_FORMATS", "XdndAware", "XdndLeave"};
constexpr int sdl2_atom_count = sizeof sdl2_atoms / sizeof *sdl2_atoms;
constexpr int sdl3_atom_count = sizeof sdl3_atoms / sizeof *sdl3_atoms;
Display *atoms_fetched_for = nullptr;

// What the server said of each extension asked about, while its display
// is open.
struct extension {
    Display *display = nullptr;
    char name[32] = {};
    Bool present = False;
    int opcode = 0, event = 0, error = 0;
};
extension extensions_asked[16];

// libX11's own definition of `name`, looked up once, into `found`, in the
// library itself: where SDL was loaded by name, libX11 came with it, out of
// the reach of RTLD_NEXT. It is loaded, as a display is open.
template <typename Function> Function *libx11(Function *&found, const char *name)
{
    if (found == nullptr) {
        void *library = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
        if (library != nullptr) {
            found = reinterpret_cast<Function *>(dlsym(library, name));
            dlclose(library);
        }
    }
    return found;
}

} // namespace

// Setting the locale's modifiers has libX11 load its locale database, most
// of a run's cost in libX11, for the input method; none is opened, so none
// matters. The modifiers are said to be none.
extern "C" char *XSetLocaleModifiers(const char * /*modifiers*/)
{
    static char none[] = "";
    return none;
}

// SDL opens an input method for what is typed into its windows; we open no
// window and read no keys. SDL goes on without one, as it does where the
// user has none.
extern "C" XIM XOpenIM(Display * /*display*/, XrmDatabase /*database*/, char * /*name*/, char * /*class_name*/)
{
    return nullptr;
}

// SDL 3 (as of 3.4.18) also asks to be called when an input method
// appears, which has libX11 load its locale database as above. None is
// wanted: nothing is registered, as where the locale has no input methods.
extern "C" Bool XRegisterIMInstantiateCallback(Display * /*display*/, XrmDatabase /*database*/, char * /*name*/,
                                               char * /*class_name*/, XIDProc /*callback*/, XPointer /*data*/)
{
    return False;
}

extern "C" Bool XUnregisterIMInstantiateCallback(Display * /*display*/, XrmDatabase /*database*/, char * /*name*/,
                                                 char * /*class_name*/, XIDProc /*callback*/, XPointer /*data*/)
{
    return False;
}

// The first of SDL's atoms that it asks for brings the others with it, in
// one round trip, into libX11's cache; every atom is still interned by
// libX11 itself, from its cache or from the server.
extern "C" Atom XInternAtom(Display *display, const char *name, Bool only_if_exists)
{
    static decltype(&XInternAtom) intern = nullptr;
    bool listed = false;
    const char *names[sdl2_atom_count + sdl3_atom_count];
    for (int i = 0; i < sdl2_atom_count + sdl3_atom_count; ++i) {
        names[i] = i < sdl2_atom_count ? sdl2_atoms[i] : sdl3_atoms[i - sdl2_atom_count];
        listed = listed || strcmp(names[i], name) == 0;
    }
    if (listed && display != atoms_fetched_for) {
        atoms_fetched_for = display;
        static decltype(&XInternAtoms) intern_all = nullptr;
        SDL_version linked;
        SDL_GetVersion(&linked);
        const bool sdl3 = linked.patch >= first_sdl3_patch;
        Atom atoms[sdl2_atom_count + sdl3_atom_count];
        libx11(intern_all, "XInternAtoms")(display, const_cast<char **>(names),
                                           sdl3 ? sdl2_atom_count + sdl3_atom_count : sdl2_atom_count,
                                           sdl3 ? True : False, atoms);
    }
    return libx11(intern, "XInternAtom")(display, name, only_if_exists);
}

// SDL and the extension libraries ask about the same extension again and
// again; the answer does not change while the display is open.
extern "C" Bool XQueryExtension(Display *display, const char *name, int *opcode, int *event, int *error)
{
    static decltype(&XQueryExtension) query = nullptr;
    extension *unused = nullptr;
    for (extension &asked : extensions_asked) {
        if (asked.display == display && strcmp(asked.name, name) == 0) {
            *opcode = asked.opcode;
            *event = asked.event;
            *error = asked.error;
            return asked.present;
        }
        if (asked.display == nullptr && unused == nullptr) {
            unused = &asked;
        }
    }
    const Bool present = libx11(query, "XQueryExtension")(display, name, opcode, event, error);
    const size_t name_size = strlen(name) + 1;
    if (unused != nullptr && name_size <= sizeof unused->name) {
        *unused = {display, "", present, *opcode, *event, *error};
        memcpy(unused->name, name, name_size);
    }
    return present;
}

// A display closed takes what was learnt of it along.
extern "C" int XCloseDisplay(Display *display)
{
    static decltype(&XCloseDisplay) close_display = nullptr;
    for (extension &asked : extensions_asked) {
        if (asked.display == display) {
            // cppcheck-suppress useStlAlgorithm
            asked = {};
        }
    }
    if (atoms_fetched_for == display) {
        atoms_fetched_for = nullptr;
    }
    return libx11(close_display, "XCloseDisplay")(display);
}
