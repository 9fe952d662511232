// Window utilities shared by the setup dialogs (see win_util.h).
#include "util/os/win_util.h"

#include <cstring>

#include "util/charsets/charset.h"
#include "util/memory/ram.h"
#include "util/resource.h"
#include "util/util_message_ids.h"
#include "util/os/window_hooks.h"

namespace {

// A window property holds a whole pointer, so one property suffices.
const unsigned char* winPointerProperty() { return kvU("Offset"); }

bool isMarker(unsigned char c, const unsigned char* markers) {
  return c != 0 && std::strchr(kvC(markers), c) != nullptr;
}

// The first marker of text, or null; a double-byte character is never one.
const unsigned char* findMarker(const unsigned char* text, const unsigned char* markers) {
  if (!markers || !*markers) return nullptr;
  for (const unsigned char* p = text; *p; p += kvCharBytes(p)) {
    if (kvCharBytes(p) == 1 && isMarker(*p, markers)) return p;
  }
  return nullptr;
}

bool isUsed(const unsigned char* used, unsigned char c) {
  c = kvToUpper(c);
  return used && (used[c >> 3] & (1u << (c & 7))) != 0;
}

// Writes text into out (size bytes) with its first "%s" replaced by arg and
// each "%%" by "%", cut to fit and terminated.
void formatText(unsigned char* out, uint32_t size, const unsigned char* text, const unsigned char* arg) {
  uint32_t length = 0;
  bool argDone = false;
  auto put = [&](unsigned char c) {
    if (length + 1 < size) out[length++] = c;
  };
  for (const unsigned char* p = text; *p;) {
    if (p[0] == '%' && p[1] == '%') {
      put('%');
      p += 2;
    } else if (p[0] == '%' && p[1] == 's' && !argDone) {
      for (const unsigned char* a = arg; *a; a++) put(*a);
      argDone = true;
      p += 2;
    } else {
      put(*p++);
    }
  }
  out[length] = 0;
}

int64_t clampInt32(int64_t value) {
  if (value < INT32_MIN) return INT32_MIN;
  if (value > INT32_MAX) return INT32_MAX;
  return value;
}

}  // namespace

// ---------------------------------------------------------------------------
// Window pointer

KvStatus kvSetWinPointer(KvWindow* window, const void* pointer) {
  return kvWindows().setProp(window, winPointerProperty(), const_cast<void*>(pointer));
}

void* kvGetWinPointer(KvWindow* window) { return kvWindows().getProp(window, winPointerProperty()); }

void kvRemoveWinPointer(KvWindow* window) { kvWindows().removeProp(window, winPointerProperty()); }

// ---------------------------------------------------------------------------
// Placement

KvStatus winCenterBox(KvWindow* window) {
  const KvWindowHooks& windows = kvWindows();
  KvRect rect;
  if (windows.getWindowRect(window, &rect) != kvSuccess) return kvFailure;
  int64_t width = static_cast<int64_t>(rect.right) - rect.left;
  int64_t height = static_cast<int64_t>(rect.bottom) - rect.top;

  KvWindow* parent = windows.getParent(window);
  KvWindow* topLevel = window;
  while (KvWindow* above = windows.getParent(topLevel)) topLevel = above;
  KvRect area;
  if (!parent || windows.isIconic(topLevel) || windows.getWindowRect(parent, &area) != kvSuccess) {
    windows.getScreenRect(&area);
  }
  int64_t x = area.left + ((static_cast<int64_t>(area.right) - area.left) - width) / 2;
  int64_t y = area.top + ((static_cast<int64_t>(area.bottom) - area.top) - height) / 2;

  if (width > kvScreenWidth) {
    x = 0;
  } else if (x + width > kvScreenWidth) {
    x = kvScreenWidth - width;
  }
  if (height > kvScreenHeight) {
    y = 0;
  } else if (y + height > kvScreenHeight) {
    y = kvScreenHeight - height;
  }
  if (y < 0) y = 0;

  // A child is placed relative to its parent.
  KvWindowKind kind = windows.getWindowKind(window);
  if (parent && kind != kvWindowFrame && kind != kvWindowDialog) {
    KvRect parentRect;
    if (windows.getWindowRect(parent, &parentRect) != kvSuccess) return kvFailure;
    x -= parentRect.left;
    y -= parentRect.top;
  }
  return windows.setWindowPosition(window, static_cast<int32_t>(clampInt32(x)),
                             static_cast<int32_t>(clampInt32(y)));
}

// ---------------------------------------------------------------------------
// Accelerators

void setAcceleratorKeyWithMarkers(unsigned char* used, const unsigned char* text,
                                  const unsigned char* markers) {
  if (!used || !text) return;
  const unsigned char* marker = findMarker(text, markers);
  if (!marker || marker[1] == 0) return;
  unsigned char c = kvToUpper(marker[1]);
  used[c >> 3] = static_cast<unsigned char>(used[c >> 3] | (1u << (c & 7)));
}

void makeDialogTextWithMarkers(unsigned char* used, unsigned char* text, uint32_t size,
                               const unsigned char* arg, const unsigned char* markers) {
  if (!text || size == 0) return;
  if (arg) {
    auto* formatted = static_cast<unsigned char*>(ramAlloc(size));
    if (!formatted) return;
    formatText(formatted, size, text, arg);
    std::memcpy(text, formatted, std::strlen(kvC(formatted)) + 1);
    ramFree(formatted);
  }
  uint32_t length = static_cast<uint32_t>(std::strlen(kvC(text)));
  if (markers && *markers && !findMarker(text, markers) && length > 0 && length + 1 < size) {
    unsigned char* at = text;
    for (unsigned char* p = text; *p; p += kvCharBytes(p)) {
      if (kvCharBytes(p) == 1 && !kvCharIsSpace(*p) && !isUsed(used, *p)) {
        at = p;
        break;
      }
    }
    std::memmove(at + 1, at, length + 1 - static_cast<uint32_t>(at - text));
    *at = markers[0];
  }
  setAcceleratorKeyWithMarkers(used, text, markers);
}

void setAcceleratorKey(unsigned char* used, const unsigned char* text) {
  unsigned char markers[64] = {0};
  kvLoadUtilityString(markers, kvStrAcceleratorMarkers, sizeof(markers));
  setAcceleratorKeyWithMarkers(used, text, markers);
}

void makeDialogText(unsigned char* used, unsigned char* text, uint32_t size, const unsigned char* arg) {
  unsigned char markers[64] = {0};
  kvLoadUtilityString(markers, kvStrAcceleratorMarkers, sizeof(markers));
  makeDialogTextWithMarkers(used, text, size, arg, markers);
}
