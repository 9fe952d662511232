// Headless windows: the Linux stand-in for the windowing system.
//
// There is no display. A window is an object that keeps what code can set
// and read on a real window: its kind, its control id, its text, its
// rectangle, its parent, its enabled, visible and minimised state and its
// named properties; a control also keeps a check state and a list of items.
// A dialog is a window of kind kvWindowDialog whose children are its
// controls: code fills and reads it through these calls exactly as it would
// a real dialog, and a dialog runner plays the user.
//
// Handles. A window is named by its address. Every call first checks that
// the handle names a live window and treats anything else (null, a window
// already destroyed, a handle that an application passed in) as no window:
// queries answer 0, null or empty, changes fail with 1517 "Invalid
// Parameter". So a window handle that arrives from outside is never followed;
// kvWindowFromHandle turns it into a window or null.
//
// Parents. A control (every kind but kvWindowFrame and kvWindowDialog) is a
// child: it must have a parent, and its position is relative to the
// parent's top-left corner. A frame or dialog is a top-level window: its
// parent, when it has one, is its owner, and its position is in screen
// coordinates. kvGetParent answers the parent or owner alike. Destroying a
// window destroys everything below it first.
//
// Geometry. Pixels, on a fixed screen of kvScreenWidth x kvScreenHeight. A
// rectangle's right and bottom lie just outside it (width = right - left).
//
// Threads. One lock guards every window, so a call never sees a window that
// another thread is changing or destroying; texts are copied out. Focus and
// the active window are one for the whole process.
#pragma once

// The window kinds, the screen and KvRect are the utility library's: it
// reaches these windows through its window hooks, which this layer installs
// when it is loaded (headless_hooks.cpp).
#include "util/os/window_hooks.h"

// The headless layer's own library, libkvheadless.so, exports these calls.
#define KV_HEADLESS_API KV_API

// Check states of buttons.
enum : uint32_t { kvUnchecked = 0, kvChecked = 1, kvIndeterminate = 2 };

// Commands of kvShowWindow.
enum KvShowCommand : int {
  kvShowHide = 0,      // invisible
  kvShowShow = 1,      // visible, minimised or not as before
  kvShowMinimize = 2,  // visible and minimised
  kvShowRestore = 3,   // visible and not minimised
};

// ---------------------------------------------------------------------------
// Life and identity

// A new window, visible and enabled, with a copy of text (null: empty) and
// the rectangle (null: empty at 0, 0). Null on failure: a control without a
// live parent, or a parent that is not a live window (1517); no memory.
KV_HEADLESS_API KvWindow* kvCreateWindow(KvWindowKind kind, KvWindow* parent, uint16_t id,
                                         const unsigned char* text, const KvRect* rect);
// Destroys the window and all windows below it; property values are not
// owned and are left alone. Focus and activation on them are dropped.
KV_HEADLESS_API void kvDestroyWindow(KvWindow* window);
KV_HEADLESS_API int kvIsWindow(const void* handle);
// The window a foreign handle names, or null.
KV_HEADLESS_API KvWindow* kvWindowFromHandle(const void* handle);
// kvWindowFrame for a handle that is not a window.
KV_HEADLESS_API KvWindowKind kvGetWindowKind(KvWindow* window);

// ---------------------------------------------------------------------------
// Parents, children and controls

KV_HEADLESS_API KvWindow* kvGetParent(KvWindow* window);
// Nonzero when window lies below parent through a chain of child windows
// (an owned dialog is not a child of its owner).
KV_HEADLESS_API int kvIsChild(KvWindow* parent, KvWindow* window);
// Children in the order they were made.
KV_HEADLESS_API KvWindow* kvGetFirstChild(KvWindow* window);
KV_HEADLESS_API KvWindow* kvGetNextSibling(KvWindow* window);
// The first direct child with the id, or null.
KV_HEADLESS_API KvWindow* kvGetDlgItem(KvWindow* dialog, uint16_t id);
KV_HEADLESS_API uint16_t kvGetDlgCtrlID(KvWindow* window);

// ---------------------------------------------------------------------------
// Properties: pointers kept under names, which match without regard to case.

// Replaces the value of a name the window already has.
KV_HEADLESS_API KvStatus kvSetProp(KvWindow* window, const unsigned char* name, void* value);
// Null when the window has no such property.
KV_HEADLESS_API void* kvGetProp(KvWindow* window, const unsigned char* name);
// Removes the property and returns its value (null when absent).
KV_HEADLESS_API void* kvRemoveProp(KvWindow* window, const unsigned char* name);

// ---------------------------------------------------------------------------
// Geometry

KV_HEADLESS_API void kvGetScreenRect(KvRect* rect);
// The window's rectangle in screen coordinates.
KV_HEADLESS_API KvStatus kvGetWindowRect(KvWindow* window, KvRect* rect);
// Position relative to the parent for a child, on the screen otherwise; a
// negative width or height counts as 0.
KV_HEADLESS_API KvStatus kvMoveWindow(KvWindow* window, int32_t x, int32_t y, int32_t width,
                                      int32_t height);
// Moves without changing the size.
KV_HEADLESS_API KvStatus kvSetWindowPosition(KvWindow* window, int32_t x, int32_t y);

// ---------------------------------------------------------------------------
// State

// Returns nonzero when the window was disabled before.
KV_HEADLESS_API int kvEnableWindow(KvWindow* window, int enable);
KV_HEADLESS_API int kvIsWindowEnabled(KvWindow* window);
// Returns nonzero when the window was visible before.
KV_HEADLESS_API int kvShowWindow(KvWindow* window, KvShowCommand command);
// Nonzero when the window and every parent of a child chain are visible.
KV_HEADLESS_API int kvIsWindowVisible(KvWindow* window);
KV_HEADLESS_API int kvIsIconic(KvWindow* window);

// The window with the keyboard focus; null for none. Setting it returns the
// one that had it; a handle that is not a window changes nothing and
// returns null.
KV_HEADLESS_API KvWindow* kvSetFocus(KvWindow* window);
KV_HEADLESS_API KvWindow* kvGetFocus();
// The active top-level window; setting it to a child window changes nothing
// and returns null.
KV_HEADLESS_API KvWindow* kvSetActiveWindow(KvWindow* window);
KV_HEADLESS_API KvWindow* kvGetActiveWindow();

// ---------------------------------------------------------------------------
// Text

// Null sets the empty text. The text limit does not apply (as on a real
// edit control, it limits what the user types).
KV_HEADLESS_API KvStatus kvSetWindowText(KvWindow* window, const unsigned char* text);
// Copies at most size - 1 bytes and terminates (nothing when size is 0);
// returns the bytes copied.
KV_HEADLESS_API uint32_t kvGetWindowText(KvWindow* window, unsigned char* buffer, uint32_t size);
KV_HEADLESS_API uint32_t kvGetWindowTextLength(KvWindow* window);
// The most characters the user may type into an edit control; 0 = no limit.
KV_HEADLESS_API KvStatus kvSetTextLimit(KvWindow* window, uint32_t limit);
KV_HEADLESS_API uint32_t kvGetTextLimit(KvWindow* window);

KV_HEADLESS_API KvStatus kvSetDlgItemText(KvWindow* dialog, uint16_t id, const unsigned char* text);
KV_HEADLESS_API uint32_t kvGetDlgItemText(KvWindow* dialog, uint16_t id, unsigned char* buffer,
                                          uint32_t size);

// ---------------------------------------------------------------------------
// Check state of buttons

KV_HEADLESS_API KvStatus kvSetCheck(KvWindow* control, uint32_t state);
KV_HEADLESS_API uint32_t kvGetCheck(KvWindow* control);
KV_HEADLESS_API KvStatus kvCheckDlgButton(KvWindow* dialog, uint16_t id, uint32_t state);
KV_HEADLESS_API uint32_t kvIsDlgButtonChecked(KvWindow* dialog, uint16_t id);
// Checks the child checkId and unchecks every other child whose id lies in
// firstId..lastId.
KV_HEADLESS_API KvStatus kvCheckRadioButton(KvWindow* dialog, uint16_t firstId, uint16_t lastId,
                                            uint16_t checkId);

// ---------------------------------------------------------------------------
// Items of list and combo boxes (at most 16000; indexes from 0)

// Appends a copy of text; returns its index, or -1 on failure.
KV_HEADLESS_API int32_t kvAddListItem(KvWindow* control, const unsigned char* text);
// Inserts before index (-1 or the count: appends); returns the index or -1.
KV_HEADLESS_API int32_t kvInsertListItem(KvWindow* control, int32_t index, const unsigned char* text);
// The selection follows its item; deleting the selected item clears it.
KV_HEADLESS_API KvStatus kvDeleteListItem(KvWindow* control, int32_t index);
// Removes every item and the selection (and a combo box's text).
KV_HEADLESS_API void kvResetList(KvWindow* control);
KV_HEADLESS_API int32_t kvGetListCount(KvWindow* control);
// Copies as kvGetWindowText does; -1 for an index outside the list.
KV_HEADLESS_API int32_t kvGetListItemText(KvWindow* control, int32_t index, unsigned char* buffer,
                                          uint32_t size);
// The first item equal to text without regard to case, or -1.
KV_HEADLESS_API int32_t kvFindListItem(KvWindow* control, const unsigned char* text);
// -1 clears the selection. A combo box takes the selected item's text as
// its own (the empty text when cleared). An index outside the list fails
// and changes nothing.
KV_HEADLESS_API KvStatus kvSetListSelection(KvWindow* control, int32_t index);
// The selected index, or -1.
KV_HEADLESS_API int32_t kvGetListSelection(KvWindow* control);
