// The trace (see trace.h).
//
// The window's text is kept by the headless edit control; editText_ is the
// trace's work copy, through which a line is appended: the text is read
// into it, whole lines are dropped from its start until the line fits, the
// line is put behind it, and the whole is set as the control's text.
#include "util/os/trace.h"

#include <cstring>
#include <mutex>

#include "util/os/bos.h"
#include "util/profiles/ini_file.h"
#include "util/os/kv_time.h"
#include "util/os/message_box.h"
#include "util/resource.h"
#include "util/containers/text_convert.h"
#include "util/util_message_ids.h"
#include "util/os/window_hooks.h"

namespace {

enum : uint16_t { editControlId = 1 };
enum : uint32_t {
  optionFlags = KvTrace::flagTimeStamp | KvTrace::flagFlushLines | KvTrace::flagHex,
  linesDroppedAtOnce = 10,
};

const unsigned char* const windowTitle = kvU("K+V Trace Window");
// Where the system would put a new overlapped window of default size.
const KvRect defaultWindowRect = {0, 0, kvScreenWidth / 2, kvScreenHeight / 2};
const unsigned char lineEnd[] = {'\r', '\n'};

// ---------------------------------------------------------------- message boxes
//
// The hook is put in front of the one it finds on the first initialised
// trace and stays; while no trace receives boxes it only passes them on.

// A plain mutex, not a KvSemaphore: boxes also come from inside the making
// of locks and of their pool (the KV_SEMCONTROL diagnostics), where making
// one more lock would wait for itself. It is never destroyed, so that boxes
// shown while the process ends still find it.
std::mutex& boxMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
// Guarded by boxMutex:
KvTrace* boxTrace = nullptr;  // the trace that receives message boxes
KvMessageBoxHook nextBoxHook = nullptr;
int boxHookInstalled = 0;
// Set while this thread writes a box to the trace: a box raised meanwhile
// (making the trace's lock can show one) only goes on, or the thread would
// wait for the mutex it holds.
thread_local int writingBox = 0;

int traceMessageBox(KvWindow* owner, const unsigned char* text, const unsigned char* caption,
                    uint32_t style) {
  KvMessageBoxHook next;
  if (writingBox) {
    next = nextBoxHook;  // under the mutex this thread holds
  } else {
    std::lock_guard<std::mutex> guard(boxMutex());
    next = nextBoxHook;
    if (boxTrace) {
      writingBox = 1;
      // The box is shown whether or not the trace can take its line.
      KvString line;
      int captioned = !caption || !*caption ||
                      (line.concat(caption) == kvSuccess && line.concat(kvU(": ")) == kvSuccess);
      if (captioned && line.concat(text) == kvSuccess) kvIgnoreStatus(boxTrace->writeLine(line.getStr()));
      writingBox = 0;
    }
  }
  return (next ? next : kvMessageBoxToStderr)(owner, text, caption, style);
}

void receiveMessageBoxes(KvTrace* trace) {
  std::lock_guard<std::mutex> guard(boxMutex());
  if (!boxHookInstalled) {
    nextBoxHook = kvSetMessageBoxHook(traceMessageBox);
    boxHookInstalled = 1;
  }
  boxTrace = trace;
}

void stopMessageBoxes(KvTrace* trace) {
  std::lock_guard<std::mutex> guard(boxMutex());
  if (boxTrace == trace) boxTrace = nullptr;
}

}  // namespace

KvTrace::~KvTrace() {
  resetTrace();
  KvSemaphore* lock = __atomic_load_n(&lock_, __ATOMIC_ACQUIRE);
  if (lock && lock != reinterpret_cast<KvSemaphore*>(1)) delete lock;
}

void KvTrace::resetTrace() {
  stopMessageBoxes(this);
  // Every line went out through a checked write; nothing is left to lose.
  if (file_) kvIgnoreStatus(bosFileClose(file_));
  file_ = 0;
  ramFree(fileName_);
  fileName_ = nullptr;
  kvWindows().destroyWindow(window_);
  window_ = edit_ = nullptr;
  ramFree(editText_);
  editText_ = nullptr;
  editChars_ = 0;
  flags_ &= ~(flagInitialised | flagToWindow);
}

KvStatus KvTrace::initialize(void* instance, unsigned int toWindow, const unsigned char* fileName) {
  resetTrace();
  line_.unInitialize();
  instance_ = instance;
  flags_ = (flags_ & optionFlags) | flagLineStart;
  if (line_.initialize(kvTraceLineReserve) != kvSuccess) return kvFailure;
  if (fileName && *fileName) {
    unsigned char path[bosPathBytes];
    int file = 0;
    if (kvIniPrivatePath(fileName, path, 1) != kvSuccess || bosfpath(path) != kvSuccess ||
        bosFileOpen(path, bosOpenCreate | bosOpenReadWrite, &file) != kvSuccess)
      return kvFailure;
    file_ = file;
    fileName_ = ramAllocStr(path);
    if (!fileName_) {
      resetTrace();
      return kvFailure;
    }
  }
  if (toWindow && setTraceToWindow() != kvSuccess) {
    resetTrace();
    return kvFailure;
  }
  flags_ |= flagInitialised;
  receiveMessageBoxes(this);
  return kvSuccess;
}

// ---------------------------------------------------------------- window

KvStatus KvTrace::createWindow() {
  const KvWindowHooks& windows = kvWindows();
  KvWindow* focus = windows.getFocus();
  editText_ = static_cast<unsigned char*>(ramAlloc(kvTraceWindowChars + 1));
  window_ = editText_ ? windows.createWindow(kvWindowFrame, nullptr, 0, windowTitle, &defaultWindowRect) : nullptr;
  const KvRect client = {0, 0, defaultWindowRect.right - defaultWindowRect.left,
                         defaultWindowRect.bottom - defaultWindowRect.top};
  edit_ = window_ ? windows.createWindow(kvWindowEdit, window_, editControlId, nullptr, &client) : nullptr;
  if (!edit_ || windows.setTextLimit(edit_, kvTraceWindowChars) != kvSuccess) {
    windows.destroyWindow(window_);
    ramFree(editText_);
    window_ = edit_ = nullptr;
    editText_ = nullptr;
    addResourceError(kvMsgNoTraceWindow);
    return kvFailure;
  }
  // Making a window never takes the keyboard focus from where it was.
  windows.setFocus(focus);
  editChars_ = 0;
  return kvSuccess;
}

KvStatus KvTrace::setTraceToWindow() {
  if (!window_ && createWindow() != kvSuccess) return kvFailure;
  flags_ |= flagToWindow;
  return kvSuccess;
}

void KvTrace::setTopMost() {}

void KvTrace::resetTopMost() {}

void KvTrace::appendToWindow(const unsigned char* text, uint32_t length) {
  // The window holds text up to its first zero byte, as an edit control does.
  const void* zero = std::memchr(text, 0, length);
  if (zero) length = static_cast<uint32_t>(static_cast<const unsigned char*>(zero) - text);
  // A line longer than the whole window keeps its end, line end included.
  if (length > kvTraceWindowChars) {
    text += length - kvTraceWindowChars;
    length = kvTraceWindowChars;
  }
  uint32_t kept = kvWindows().getWindowText(edit_, editText_, kvTraceWindowChars + 1);
  uint32_t start = 0;
  while (kept - start + length > kvTraceWindowChars) {
    for (uint32_t dropped = 0; dropped < linesDroppedAtOnce && start < kept; ++dropped) {
      const void* lineFeed = std::memchr(editText_ + start, '\n', kept - start);
      start = lineFeed ? static_cast<uint32_t>(static_cast<const unsigned char*>(lineFeed) - editText_) + 1 : kept;
    }
  }
  kept -= start;
  std::memmove(editText_, editText_ + start, kept);
  std::memcpy(editText_ + kept, text, length);
  editText_[kept + length] = 0;
  if (kvWindows().setWindowText(edit_, editText_) == kvSuccess) editChars_ = kept + length;
}

// ---------------------------------------------------------------- writing

KvStatus KvTrace::startLine() {
  if (!(flags_ & flagLineStart)) return kvSuccess;
  flags_ &= ~flagLineStart;
  if (!(flags_ & flagTimeStamp)) return kvSuccess;
  unsigned char stamp[kvTimeStampBytes + 1];
  stamp[KvTime::getCurrentTimeStamp(stamp)] = ' ';
  return line_.concat(stamp, kvTimeStampBytes + 1);
}

KvStatus KvTrace::writeString(const unsigned char* text) {
  return writeString(text, kvTextLength(text));
}

KvStatus KvTrace::writeString(const KvSubString& text) { return writeString(text.getText(), text.getLength()); }

KvStatus KvTrace::writeString(const unsigned char* text, uint32_t length) {
  if (flags_ & flagHex) return writeHexString(text, length);
  if (startLine() != kvSuccess) return kvFailure;
  return line_.concat(text, length);
}

KvStatus KvTrace::writeHexString(const unsigned char* bytes, uint32_t length) {
  if (startLine() != kvSuccess) return kvFailure;
  // Three characters a byte and a line end every ten bytes.
  const uint64_t needed = uint64_t(length) * 3 + (uint64_t(length) + kvTraceHexPerLine - 1) / kvTraceHexPerLine * 2;
  if (needed > kvStringMaxBytes) {
    addResourceError(kvMsgStringTooLarge);
    return kvFailure;
  }
  if (line_.makeRoom(static_cast<uint32_t>(needed)) != kvSuccess) return kvFailure;
  for (uint32_t i = 0; i < length; ++i) {
    unsigned char digits[3];
    hexify(digits, bytes + i, 1);
    digits[2] = ' ';
    if ((i % kvTraceHexPerLine == 0 && line_.concat(lineEnd, 2) != kvSuccess) || line_.concat(digits, 3) != kvSuccess)
      return kvFailure;
  }
  return kvSuccess;
}

KvStatus KvTrace::writeEol() {
  KvStatus status = line_.concat(lineEnd, 2);
  flags_ |= flagLineStart;
  if (status == kvSuccess) {
    if (file_ && (bosFileWrite(file_, -1, line_.getText(), line_.getLength()) != kvSuccess ||
                  ((flags_ & flagFlushLines) && bosupdir(file_) != kvSuccess)))
      status = kvFailure;
    if ((flags_ & flagToWindow) && edit_) appendToWindow(line_.getText(), line_.getLength());
  }
  line_.setLength(0);
  if (line_.getBuffer()) line_.getBuffer()[0] = 0;
  return status;
}

KvStatus KvTrace::writeLine(const unsigned char* text) {
  KvLazyLockGuard guard(&lock_);
  const KvStatus written = writeString(text);
  return writeEol() == kvSuccess ? written : kvFailure;
}
