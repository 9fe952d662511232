// Message boxes without a display (see message_box.h).
#include "util/os/message_box.h"

#include <atomic>
#include <cstdio>

namespace {

std::atomic<KvMessageBoxHook> messageBoxHook{kvMessageBoxToStderr};

}  // namespace

int kvMessageBox(KvWindow* owner, const unsigned char* text, const unsigned char* caption,
                 uint32_t style) {
  return messageBoxHook.load()(owner, text, caption, style);
}

KvMessageBoxHook kvSetMessageBoxHook(KvMessageBoxHook hook) {
  return messageBoxHook.exchange(hook ? hook : kvMessageBoxToStderr);
}

int kvMessageBoxToStderr(KvWindow*, const unsigned char* text, const unsigned char* caption,
                         uint32_t style) {
  // One call, so that lines from several threads do not interleave.
  if (caption && *caption) {
    std::fprintf(stderr, "%s: %s\n", kvC(caption), text ? kvC(text) : "");
  } else {
    std::fprintf(stderr, "%s\n", text ? kvC(text) : "");
  }
  std::fflush(stderr);
  return (style & kvMbButtonsMask) == kvMbOk ? kvIdOk : 0;
}
