// The windows of the utility library: the trace window and the window
// helpers of the setup dialogs (win_util.h) make and read windows, but the
// windows themselves belong to the headless window layer
// (platform/headless), which stands above this library and links it. The
// library reaches those windows through the hooks below, which the headless
// layer installs when it is loaded. Until then there is no window system:
// nothing can be made, and every handle names no window (queries answer 0,
// null or empty; changes fail with 1517 "Invalid Parameter").
//
// The window kinds, the screen and rectangles are the words both sides of
// the hooks speak; the headless layer's own calls are built on them.
#pragma once

#include "util/kv_types.h"

class KvWindow;

enum KvWindowKind : uint16_t {
  kvWindowFrame = 0,        // an application's top-level window
  kvWindowDialog = 1,       // a dialog; its children are its controls
  kvWindowStatic = 2,       // a label or a group box
  kvWindowButton = 3,       // a push button
  kvWindowCheckBox = 4,
  kvWindowRadioButton = 5,
  kvWindowEdit = 6,
  kvWindowListBox = 7,
  kvWindowComboBox = 8,     // selecting an item makes its text the combo's text
};

enum : int32_t { kvScreenWidth = 1024, kvScreenHeight = 768 };

struct KvRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// The window calls the library makes; each hook behaves as the headless
// call of the same name (platform/headless/headless_window.h).
struct KvWindowHooks {
  KvWindow* (*createWindow)(KvWindowKind kind, KvWindow* parent, uint16_t id, const unsigned char* text,
                            const KvRect* rect);
  void (*destroyWindow)(KvWindow* window);
  KvWindowKind (*getWindowKind)(KvWindow* window);
  KvWindow* (*getParent)(KvWindow* window);
  int (*isIconic)(KvWindow* window);
  KvWindow* (*getFocus)();
  KvWindow* (*setFocus)(KvWindow* window);
  KvStatus (*setProp)(KvWindow* window, const unsigned char* name, void* value);
  void* (*getProp)(KvWindow* window, const unsigned char* name);
  void* (*removeProp)(KvWindow* window, const unsigned char* name);
  void (*getScreenRect)(KvRect* rect);
  KvStatus (*getWindowRect)(KvWindow* window, KvRect* rect);
  KvStatus (*setWindowPosition)(KvWindow* window, int32_t x, int32_t y);
  KvStatus (*setWindowText)(KvWindow* window, const unsigned char* text);
  uint32_t (*getWindowText)(KvWindow* window, unsigned char* buffer, uint32_t size);
  KvStatus (*setTextLimit)(KvWindow* window, uint32_t limit);
};

// Installs hooks, every member set, which must stay valid until they are
// replaced; null takes them out again (no window system). Returns the hooks
// it replaces, null for none.
KV_UTIL_API const KvWindowHooks* kvSetWindowHooks(const KvWindowHooks* hooks);

// The hooks in place: the installed ones, or those of "no window system".
// Only this library calls them.
const KvWindowHooks& kvWindows();
