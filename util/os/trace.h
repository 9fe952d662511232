// KvTrace: collects trace text line by line and sends each finished line to
// a trace file, to the trace window, or both.
//
// Lines end with CR LF, in the file as in the window. With timestamps on,
// each line starts with the UTC time "hh:mm:ss.cc" and a blank (KvTime).
//
// The trace file: a name with a directory part ("/" or "\") is that path,
// relative to the current directory unless absolute; a bare name is a file
// in the user's configuration directory ($XDG_CONFIG_HOME/kestrane, else
// ~/.config/kestrane, made when missing), where the product keeps its own
// settings files. The file is created or truncated when the trace starts.
//
// The trace window: there is no display, so the window is a headless frame
// "K+V Trace Window" (reached through window_hooks.h) whose one child, a
// read-only edit control, holds the text. The text never passes
// kvTraceWindowChars characters: before a line is appended, whole lines are
// dropped from the start, ten at a time, until it fits.
//
// Message boxes: while a trace is initialised, the one initialised last also
// receives every message box (kvMessageBox) as a line "caption: text", and
// passes the box on to the hook it found (by default stderr), whose answer
// is the box's answer.
//
// Threads: only writeLine (and the message-box line) takes the trace's lock,
// so that whole lines from several threads do not mix; the other writes
// belong to one thread at a time.
#pragma once

#include "util/containers/kv_string.h"
#include "util/locks/semaphore.h"

class KvWindow;

enum : uint32_t {
  kvTraceWindowChars = 32767,  // text limit of the window
  kvTraceLineReserve = 1024,   // bytes reserved for the line buffer
  kvTraceHexPerLine = 10,      // bytes a line of writeHexString
};

class KV_UTIL_API KvTrace : public KvObject {
 public:
  // Flag bits.
  enum : uint32_t {
    flagTimeStamp = 0x1,    // prefix each line with the time and a blank
    flagToWindow = 0x2,     // send lines to the window
    flagInitialised = 0x4,
    flagLineStart = 0x8,    // the next write starts a line
    flagFlushLines = 0x10,  // flush the file after each line
    flagHex = 0x40,         // writeString writes hexadecimal
  };

  // Line start and flushing on; the rest off.
  KvTrace() = default;
  // Resets the trace and deletes its lock.
  ~KvTrace() override;

  // Resets the trace (closing a file and window held before; the option bits
  // flagTimeStamp, flagFlushLines and flagHex are kept), reserves the line
  // buffer, creates the trace file (truncating it) when fileName is neither
  // null nor empty, and creates the window when toWindow is nonzero. A
  // window that cannot be made adds 2719 "Could not create trace window.";
  // a file that cannot be made, the OS layer's message. Either failure
  // leaves the trace reset.
  KvStatus initialize(void* instance, unsigned int toWindow, const unsigned char* fileName);

  // Append to the current line. With flagHex, writeString writes as
  // writeHexString does. A line that would pass kvStringMaxBytes - 1 bytes
  // fails with 2716 and keeps what it held.
  KvStatus writeString(const unsigned char* text);
  KvStatus writeString(const unsigned char* text, uint32_t length);
  KvStatus writeString(const KvSubString& text);
  // Each byte as two hexadecimal digits and a blank, a line break in front
  // of every tenth byte, the first included.
  KvStatus writeHexString(const unsigned char* bytes, uint32_t length);
  // Ends the line (CR LF, never in hexadecimal) and sends it: to the file at
  // its current position (flushed to the disk with flagFlushLines), and to
  // the window when window output is on. The line buffer is emptied even
  // when the file write fails (its message is left and 1 returned).
  KvStatus writeEol();
  // writeString and writeEol under the trace's lock.
  KvStatus writeLine(const unsigned char* text);

  // Creates the window when needed and turns window output on.
  KvStatus setTraceToWindow();
  // Above all windows or back among the others: headless windows have no
  // stacking order, so these only keep the window as it is.
  void setTopMost();
  void resetTopMost();

  // Closes the file, destroys the window and clears flagInitialised and
  // flagToWindow.
  void resetTrace();

  uint32_t getFlags() const { return flags_; }
  void setFlags(uint32_t flags) { flags_ = flags; }
  int getFile() const { return file_; }
  // The file's full name (empty without a file).
  const unsigned char* getFileName() const { return fileName_ ? fileName_ : kvU(""); }
  KvWindow* getWindow() const { return window_; }
  KvWindow* getEditControl() const { return edit_; }
  uint32_t getEditChars() const { return editChars_; }

 private:
  KV_LOCAL KvStatus startLine();
  KV_LOCAL KvStatus createWindow();
  KV_LOCAL void appendToWindow(const unsigned char* text, uint32_t length);

  void* instance_ = nullptr;
  KvWindow* window_ = nullptr;
  KvWindow* edit_ = nullptr;
  unsigned char* editText_ = nullptr;  // work copy of the window text, kvTraceWindowChars + 1 bytes
  KvString line_;
  uint32_t editChars_ = 0;
  int file_ = 0;
  unsigned char* fileName_ = nullptr;
  KvSemaphore* lock_ = nullptr;  // holder word of the lock, made on first use
  uint32_t flags_ = flagLineStart | flagFlushLines;
};
