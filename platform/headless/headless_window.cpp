// Headless windows (see headless_window.h for the model).
//
// Every live window is on one list (liveWindows); a handle is valid exactly
// when it is on that list. The list and every window's fields are guarded by
// windowLock. Memory comes from the sub-allocator, so a failure adds the
// memory error to the calling thread's error list.
#include "platform/headless/headless_window.h"

#include <cstring>
#include <mutex>

#include "util/charsets/charset.h"
#include "util/containers/kv_array.h"
#include "util/resource.h"
#include "util/util_message_ids.h"

namespace {

// A named property: the name is stored behind the node.
struct WindowProp {
  WindowProp* next;
  void* value;
  unsigned char name[1];
};

}  // namespace

class KvWindow : public KvObject {
 public:
  KvWindow(KvWindowKind kind, uint16_t id) : kind_(kind), id_(id) { items_.setOwnsObjects(true); }
  ~KvWindow() override;

  KvWindowKind kind_;
  uint16_t id_;
  uint32_t visible_ = 1;
  uint32_t enabled_ = 1;
  uint32_t iconic_ = 0;
  uint32_t check_ = kvUnchecked;
  uint32_t textLimit_ = 0;
  int32_t selection_ = -1;
  KvRect rect_ = {0, 0, 0, 0};     // relative to the parent for a child
  unsigned char* text_ = nullptr;  // null for the empty text
  WindowProp* props_ = nullptr;
  KvArrayPVoid items_;             // ramAllocStr copies, owned

  KvWindow* parent_ = nullptr;
  KvWindow* firstChild_ = nullptr;
  KvWindow* lastChild_ = nullptr;
  KvWindow* nextSibling_ = nullptr;
  KvWindow* nextLive_ = nullptr;
};

KvWindow::~KvWindow() {
  ramFree(text_);
  for (WindowProp* prop = props_; prop;) {
    WindowProp* next = prop->next;
    ramFree(prop);
    prop = next;
  }
}

namespace {

std::mutex windowLock;
KvWindow* liveWindows = nullptr;
KvWindow* focusWindow = nullptr;
KvWindow* activeWindow = nullptr;

bool isChildKind(KvWindowKind kind) { return kind != kvWindowFrame && kind != kvWindowDialog; }

// Under windowLock.
KvWindow* findLive(const void* handle) {
  if (!handle) return nullptr;
  for (KvWindow* w = liveWindows; w; w = w->nextLive_) {
    if (w == handle) return w;
  }
  return nullptr;
}

// The message is the utility library's: this library has no string table.
KvStatus invalidParameter() {
  kvAddUtilityError(kvMsgInvalidParameter);
  return kvFailure;
}

int equalNamesCi(const unsigned char* a, const unsigned char* b) {
  for (; *a && *b; a++, b++) {
    if (kvToUpper(*a) != kvToUpper(*b)) return 0;
  }
  return *a == *b;
}

uint32_t copyOut(const unsigned char* text, unsigned char* buffer, uint32_t size) {
  if (!buffer || size == 0) return 0;
  uint32_t length = kvTextLength(text);
  if (length > size - 1) length = size - 1;
  if (length) std::memcpy(buffer, text, length);
  buffer[length] = 0;
  return length;
}

// Replaces *slot by a copy of text (null for the empty text); the old text
// stays when the copy cannot be made.
KvStatus replaceText(unsigned char** slot, const unsigned char* text) {
  unsigned char* copy = nullptr;
  if (text && *text) {
    copy = ramAllocStr(text);
    if (!copy) return kvFailure;
  }
  ramFree(*slot);
  *slot = copy;
  return kvSuccess;
}

void screenOrigin(const KvWindow* w, int32_t* x, int32_t* y) {
  *x = w->rect_.left;
  *y = w->rect_.top;
  for (; isChildKind(w->kind_) && w->parent_; w = w->parent_) {
    *x += w->parent_->rect_.left;
    *y += w->parent_->rect_.top;
  }
}

void unlinkFromParent(KvWindow* w) {
  KvWindow* parent = w->parent_;
  if (!parent) return;
  KvWindow* previous = nullptr;
  for (KvWindow* c = parent->firstChild_; c; previous = c, c = c->nextSibling_) {
    if (c != w) continue;
    if (previous) {
      previous->nextSibling_ = c->nextSibling_;
    } else {
      parent->firstChild_ = c->nextSibling_;
    }
    if (parent->lastChild_ == c) parent->lastChild_ = previous;
    break;
  }
  w->parent_ = nullptr;
  w->nextSibling_ = nullptr;
}

void unlinkLive(KvWindow* w) {
  KvWindow** link = &liveWindows;
  while (*link && *link != w) link = &(*link)->nextLive_;
  if (*link) *link = w->nextLive_;
}

// Children first, so that a window is never freed while something below it
// still points at it.
void destroyTree(KvWindow* w) {
  while (KvWindow* child = w->firstChild_) destroyTree(child);
  unlinkFromParent(w);
  unlinkLive(w);
  if (focusWindow == w) focusWindow = nullptr;
  if (activeWindow == w) activeWindow = nullptr;
  delete w;
}

KvWindow* dlgItem(KvWindow* dialog, uint16_t id) {
  for (KvWindow* c = dialog->firstChild_; c; c = c->nextSibling_) {
    if (c->id_ == id) return c;
  }
  return nullptr;
}

const unsigned char* itemText(const KvWindow* w, int32_t index) {
  return static_cast<const unsigned char*>(w->items_.getAt(static_cast<uint16_t>(index)));
}

bool validIndex(const KvWindow* w, int32_t index) {
  return index >= 0 && index < w->items_.getCount();
}

}  // namespace

// ---------------------------------------------------------------------------
// Life and identity

KvWindow* kvCreateWindow(KvWindowKind kind, KvWindow* parent, uint16_t id, const unsigned char* text,
                         const KvRect* rect) {
  std::lock_guard<std::mutex> guard(windowLock);
  if (kind > kvWindowComboBox || (parent && !findLive(parent)) || (isChildKind(kind) && !parent)) {
    kvAddUtilityError(kvMsgInvalidParameter);
    return nullptr;
  }
  KvWindow* w = new KvWindow(kind, id);
  if (!w) return nullptr;
  if (replaceText(&w->text_, text) != kvSuccess) {
    delete w;
    return nullptr;
  }
  if (rect) w->rect_ = *rect;
  if (parent) {
    w->parent_ = parent;
    if (parent->lastChild_) {
      parent->lastChild_->nextSibling_ = w;
    } else {
      parent->firstChild_ = w;
    }
    parent->lastChild_ = w;
  }
  w->nextLive_ = liveWindows;
  liveWindows = w;
  return w;
}

void kvDestroyWindow(KvWindow* window) {
  std::lock_guard<std::mutex> guard(windowLock);
  if (KvWindow* w = findLive(window)) destroyTree(w);
}

int kvIsWindow(const void* handle) {
  std::lock_guard<std::mutex> guard(windowLock);
  return findLive(handle) != nullptr;
}

KvWindow* kvWindowFromHandle(const void* handle) {
  std::lock_guard<std::mutex> guard(windowLock);
  return findLive(handle);
}

KvWindowKind kvGetWindowKind(KvWindow* window) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  return w ? w->kind_ : kvWindowFrame;
}

// ---------------------------------------------------------------------------
// Parents, children and controls

KvWindow* kvGetParent(KvWindow* window) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  return w ? w->parent_ : nullptr;
}

int kvIsChild(KvWindow* parent, KvWindow* window) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  if (!w || !findLive(parent)) return 0;
  for (; w && isChildKind(w->kind_); w = w->parent_) {
    if (w->parent_ == parent) return 1;
  }
  return 0;
}

KvWindow* kvGetFirstChild(KvWindow* window) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  return w ? w->firstChild_ : nullptr;
}

KvWindow* kvGetNextSibling(KvWindow* window) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  return w ? w->nextSibling_ : nullptr;
}

KvWindow* kvGetDlgItem(KvWindow* dialog, uint16_t id) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(dialog);
  return w ? dlgItem(w, id) : nullptr;
}

uint16_t kvGetDlgCtrlID(KvWindow* window) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  return w ? w->id_ : 0;
}

// ---------------------------------------------------------------------------
// Properties

KvStatus kvSetProp(KvWindow* window, const unsigned char* name, void* value) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  if (!w || !name) return invalidParameter();
  for (WindowProp* prop = w->props_; prop; prop = prop->next) {
    if (equalNamesCi(prop->name, name)) {
      prop->value = value;
      return kvSuccess;
    }
  }
  size_t nameBytes = std::strlen(kvC(name)) + 1;
  if (nameBytes > 0xFFFF) return invalidParameter();
  auto* prop = static_cast<WindowProp*>(ramAlloc(static_cast<uint32_t>(sizeof(WindowProp) + nameBytes)));
  if (!prop) return kvFailure;
  std::memcpy(prop->name, name, nameBytes);
  prop->value = value;
  prop->next = w->props_;
  w->props_ = prop;
  return kvSuccess;
}

void* kvGetProp(KvWindow* window, const unsigned char* name) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  if (!w || !name) return nullptr;
  for (WindowProp* prop = w->props_; prop; prop = prop->next) {
    if (equalNamesCi(prop->name, name)) return prop->value;
  }
  return nullptr;
}

void* kvRemoveProp(KvWindow* window, const unsigned char* name) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  if (!w || !name) return nullptr;
  for (WindowProp** link = &w->props_; *link; link = &(*link)->next) {
    WindowProp* prop = *link;
    if (!equalNamesCi(prop->name, name)) continue;
    void* value = prop->value;
    *link = prop->next;
    ramFree(prop);
    return value;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Geometry

void kvGetScreenRect(KvRect* rect) { *rect = KvRect{0, 0, kvScreenWidth, kvScreenHeight}; }

KvStatus kvGetWindowRect(KvWindow* window, KvRect* rect) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  if (!w || !rect) return invalidParameter();
  int32_t x, y;
  screenOrigin(w, &x, &y);
  *rect = KvRect{x, y, x + (w->rect_.right - w->rect_.left), y + (w->rect_.bottom - w->rect_.top)};
  return kvSuccess;
}

KvStatus kvMoveWindow(KvWindow* window, int32_t x, int32_t y, int32_t width, int32_t height) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  if (!w) return invalidParameter();
  w->rect_ = KvRect{x, y, x + (width > 0 ? width : 0), y + (height > 0 ? height : 0)};
  return kvSuccess;
}

KvStatus kvSetWindowPosition(KvWindow* window, int32_t x, int32_t y) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  if (!w) return invalidParameter();
  w->rect_ = KvRect{x, y, x + (w->rect_.right - w->rect_.left), y + (w->rect_.bottom - w->rect_.top)};
  return kvSuccess;
}

// ---------------------------------------------------------------------------
// State

int kvEnableWindow(KvWindow* window, int enable) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  if (!w) return 0;
  int wasDisabled = !w->enabled_;
  w->enabled_ = enable ? 1 : 0;
  return wasDisabled;
}

int kvIsWindowEnabled(KvWindow* window) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  return w ? static_cast<int>(w->enabled_) : 0;
}

int kvShowWindow(KvWindow* window, KvShowCommand command) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  if (!w) return 0;
  int wasVisible = static_cast<int>(w->visible_);
  switch (command) {
    case kvShowHide:
      w->visible_ = 0;
      break;
    case kvShowShow:
      w->visible_ = 1;
      break;
    case kvShowMinimize:
      w->visible_ = 1;
      w->iconic_ = 1;
      break;
    case kvShowRestore:
      w->visible_ = 1;
      w->iconic_ = 0;
      break;
  }
  return wasVisible;
}

int kvIsWindowVisible(KvWindow* window) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  if (!w) return 0;
  for (; w; w = isChildKind(w->kind_) ? w->parent_ : nullptr) {
    if (!w->visible_) return 0;
  }
  return 1;
}

int kvIsIconic(KvWindow* window) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  return w ? static_cast<int>(w->iconic_) : 0;
}

KvWindow* kvSetFocus(KvWindow* window) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  if (window && !w) return nullptr;
  KvWindow* previous = focusWindow;
  focusWindow = w;
  return previous;
}

KvWindow* kvGetFocus() {
  std::lock_guard<std::mutex> guard(windowLock);
  return focusWindow;
}

KvWindow* kvSetActiveWindow(KvWindow* window) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  if (window && (!w || isChildKind(w->kind_))) return nullptr;
  KvWindow* previous = activeWindow;
  activeWindow = w;
  return previous;
}

KvWindow* kvGetActiveWindow() {
  std::lock_guard<std::mutex> guard(windowLock);
  return activeWindow;
}

// ---------------------------------------------------------------------------
// Text

KvStatus kvSetWindowText(KvWindow* window, const unsigned char* text) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  if (!w) return invalidParameter();
  return replaceText(&w->text_, text);
}

uint32_t kvGetWindowText(KvWindow* window, unsigned char* buffer, uint32_t size) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  return copyOut(w ? w->text_ : nullptr, buffer, size);
}

uint32_t kvGetWindowTextLength(KvWindow* window) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  return w ? kvTextLength(w->text_) : 0;
}

KvStatus kvSetTextLimit(KvWindow* window, uint32_t limit) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  if (!w) return invalidParameter();
  w->textLimit_ = limit;
  return kvSuccess;
}

uint32_t kvGetTextLimit(KvWindow* window) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(window);
  return w ? w->textLimit_ : 0;
}

KvStatus kvSetDlgItemText(KvWindow* dialog, uint16_t id, const unsigned char* text) {
  return kvSetWindowText(kvGetDlgItem(dialog, id), text);
}

uint32_t kvGetDlgItemText(KvWindow* dialog, uint16_t id, unsigned char* buffer, uint32_t size) {
  return kvGetWindowText(kvGetDlgItem(dialog, id), buffer, size);
}

// ---------------------------------------------------------------------------
// Check state

KvStatus kvSetCheck(KvWindow* control, uint32_t state) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(control);
  if (!w || state > kvIndeterminate) return invalidParameter();
  w->check_ = state;
  return kvSuccess;
}

uint32_t kvGetCheck(KvWindow* control) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(control);
  return w ? w->check_ : kvUnchecked;
}

KvStatus kvCheckDlgButton(KvWindow* dialog, uint16_t id, uint32_t state) {
  return kvSetCheck(kvGetDlgItem(dialog, id), state);
}

uint32_t kvIsDlgButtonChecked(KvWindow* dialog, uint16_t id) {
  return kvGetCheck(kvGetDlgItem(dialog, id));
}

KvStatus kvCheckRadioButton(KvWindow* dialog, uint16_t firstId, uint16_t lastId, uint16_t checkId) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(dialog);
  if (!w) return invalidParameter();
  for (KvWindow* c = w->firstChild_; c; c = c->nextSibling_) {
    if (c->id_ == checkId) {
      c->check_ = kvChecked;
    } else if (c->id_ >= firstId && c->id_ <= lastId) {
      c->check_ = kvUnchecked;
    }
  }
  return kvSuccess;
}

// ---------------------------------------------------------------------------
// List items

int32_t kvAddListItem(KvWindow* control, const unsigned char* text) {
  return kvInsertListItem(control, -1, text);
}

int32_t kvInsertListItem(KvWindow* control, int32_t index, const unsigned char* text) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(control);
  int32_t count = w ? w->items_.getCount() : 0;
  if (!w || index < -1 || index > count) {
    kvAddUtilityError(kvMsgInvalidParameter);
    return -1;
  }
  if (index == -1) index = count;
  unsigned char* copy = ramAllocStr(text ? text : kvU(""));
  if (!copy) return -1;
  if (w->items_.addAtIndex(copy, static_cast<uint16_t>(index)) != kvSuccess) {
    ramFree(copy);
    return -1;
  }
  if (w->selection_ >= index) w->selection_++;
  return index;
}

KvStatus kvDeleteListItem(KvWindow* control, int32_t index) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(control);
  if (!w || !validIndex(w, index)) return invalidParameter();
  w->items_.deleteAtIndex(static_cast<uint16_t>(index));
  if (w->selection_ == index) {
    w->selection_ = -1;
  } else if (w->selection_ > index) {
    w->selection_--;
  }
  return kvSuccess;
}

void kvResetList(KvWindow* control) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(control);
  if (!w) return;
  w->items_.deleteContents();
  w->selection_ = -1;
  if (w->kind_ == kvWindowComboBox) kvIgnoreStatus(replaceText(&w->text_, nullptr));  // emptying needs no memory
}

int32_t kvGetListCount(KvWindow* control) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(control);
  return w ? w->items_.getCount() : 0;
}

int32_t kvGetListItemText(KvWindow* control, int32_t index, unsigned char* buffer, uint32_t size) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(control);
  if (!w || !validIndex(w, index)) {
    copyOut(nullptr, buffer, size);
    return -1;
  }
  return static_cast<int32_t>(copyOut(itemText(w, index), buffer, size));
}

int32_t kvFindListItem(KvWindow* control, const unsigned char* text) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(control);
  if (!w || !text) return -1;
  for (int32_t i = 0; i < w->items_.getCount(); i++) {
    if (equalNamesCi(itemText(w, i), text)) return i;
  }
  return -1;
}

KvStatus kvSetListSelection(KvWindow* control, int32_t index) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(control);
  if (!w || (index != -1 && !validIndex(w, index))) return invalidParameter();
  if (w->kind_ == kvWindowComboBox &&
      replaceText(&w->text_, index == -1 ? nullptr : itemText(w, index)) != kvSuccess) {
    return kvFailure;
  }
  w->selection_ = index;
  return kvSuccess;
}

int32_t kvGetListSelection(KvWindow* control) {
  std::lock_guard<std::mutex> guard(windowLock);
  KvWindow* w = findLive(control);
  return w ? w->selection_ : -1;
}
