// The scripted dialog runner; see headless_dialog_script.h.
//
// A parsed script keeps one copy of its text, cut into lines in place, and
// an array of steps that point into it; a "dialog" step starts each block
// and carries the block's played mark. A script in use by a running dialog
// is counted, so that installing another one meanwhile (from a dialog
// procedure, or from another thread) never frees the steps being played.
#include "platform/headless/headless_dialog_script.h"

#include "platform/headless/headless_dialog_template.h"
#include "util/os/bos.h"
#include "util/charsets/charset.h"
#include "util/os/message_box.h"
#include "util/memory/ram.h"
#include "util/resource.h"
#include "util/containers/str_functions.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

// A script file larger than this is refused: a script is a few lines.
constexpr uint32_t scriptFileMaxBytes = 1u << 20;

enum StepOp : uint8_t {
  opDialog,
  opText,
  opCheck,
  opUncheck,
  opSelect,
  opClick,
  opExpectText,
  opExpectCheck,
  opExpectEnabled,
};

// What follows the command word on its line.
enum ArgShape : uint8_t {
  argNone,           // nothing (the control is the command's own)
  argDialog,         // a template id or a title
  argControl,        // a control id
  argControlText,    // a control id, then any text (may be empty)
  argControlItem,    // a control id, then a non-empty text
  argControlNumber,  // a control id, then a number up to the command's maximum
};

struct Command {
  const char* word;
  StepOp op;
  ArgShape shape;
  uint16_t control;    // argNone: the control the command works
  uint32_t maxNumber;  // argControlNumber: the largest number allowed
};

const Command commands[] = {
    {"dialog", opDialog, argDialog, 0, 0},
    {"text", opText, argControlText, 0, 0},
    {"check", opCheck, argControl, 0, 0},
    {"uncheck", opUncheck, argControl, 0, 0},
    {"select", opSelect, argControlItem, 0, 0},
    {"click", opClick, argControl, 0, 0},
    {"ok", opClick, argNone, kvIdOkButton, 0},
    {"cancel", opClick, argNone, kvIdCancelButton, 0},
    {"expect", opExpectText, argControlText, 0, 0},
    {"expect-check", opExpectCheck, argControlNumber, 0, kvIndeterminate},
    {"expect-enabled", opExpectEnabled, argControlNumber, 0, 1},
};

struct Step {
  StepOp op;
  uint8_t played;             // opDialog: the block was played
  uint16_t control;           // opDialog: the template id when text is null
  uint32_t number;
  const unsigned char* text;  // opDialog: the title, or null for an id
  uint32_t line;
};

struct Script {
  uint32_t refs;
  unsigned char* text;  // the script, each line terminated in place
  Step* steps;
  uint32_t stepCount;
  unsigned char* path;  // the file it came from, or null
};

std::mutex scriptLock;
Script* installedScript = nullptr;  // kvSetDialogScript
Script* fileScript = nullptr;       // read from KV_DIALOG_SCRIPT

void freeScript(Script* script) {
  if (!script) return;
  ramFree(script->steps);
  ramFree(script->text);
  ramFree(script->path);
  ramFree(script);
}

// Drops one use; the last frees the script. Called under scriptLock.
void releaseLocked(Script* script) {
  if (script && --script->refs == 0) freeScript(script);
}

void release(Script* script) {
  std::lock_guard<std::mutex> guard(scriptLock);
  releaseLocked(script);
}

// One line on the message-box path (trace and stderr).
void report(const char* format, ...) __attribute__((format(printf, 1, 2)));
void report(const char* format, ...) {
  char text[600];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  kvMessageBox(nullptr, kvU(text), kvU("Dialog script"), kvMbOk);
}

int isBlank(unsigned char c) { return c == ' ' || c == '\t'; }

const unsigned char* skipBlanks(const unsigned char* p) {
  while (isBlank(*p)) ++p;
  return p;
}

// A decimal number of at most max at p; moves p behind its digits.
KvStatus readNumber(const unsigned char*& p, uint32_t max, uint32_t* value) {
  if (*p < '0' || *p > '9') return kvFailure;
  uint32_t n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + uint32_t(*p - '0');
    if (n > max) return kvFailure;
  }
  *value = n;
  return kvSuccess;
}

// Reads the arguments of one step from p (the rest of its line) by the
// command's shape. Returns a description of what is wrong, or null.
const char* readArguments(const Command& command, const unsigned char* p, Step* step) {
  step->control = command.control;
  if (command.shape == argNone) return *skipBlanks(p) ? "takes no argument" : nullptr;
  p = skipBlanks(p);
  if (command.shape == argDialog) {
    if (!*p) return "needs a template id or a title";
    const unsigned char* q = p;
    uint32_t id = 0;
    if (readNumber(q, 0xFFFF, &id) == kvSuccess && !*skipBlanks(q)) {
      step->control = uint16_t(id);
    } else {
      step->text = p;
    }
    return nullptr;
  }
  uint32_t id = 0;
  if (readNumber(p, 0xFFFF, &id) != kvSuccess) return "needs a control id (0 to 65535)";
  step->control = uint16_t(id);
  if (*p && !isBlank(*p)) return "needs a blank after the control id";
  switch (command.shape) {
    case argControl:
      return *skipBlanks(p) ? "takes only a control id" : nullptr;
    case argControlText:
      step->text = skipBlanks(p);
      return nullptr;
    case argControlItem:
      step->text = skipBlanks(p);
      return *step->text ? nullptr : "needs the item's text";
    case argControlNumber: {
      p = skipBlanks(p);
      if (readNumber(p, command.maxNumber, &step->number) != kvSuccess || *skipBlanks(p)) return "needs a number";
      return nullptr;
    }
    default:
      return nullptr;
  }
}

// Parses text (length bytes) into a new script; null, after reporting the
// line at fault, when it does not parse. source names it in reports.
Script* parseScript(const unsigned char* source, const unsigned char* text, uint32_t length) {
  Script* script = static_cast<Script*>(ramAllocZ(sizeof(Script)));
  if (!script) return nullptr;
  script->refs = 1;
  uint32_t lineCount = 1;
  for (uint32_t i = 0; i < length; ++i)
    if (text[i] == '\n') ++lineCount;
  script->text = ramAllocStr(text, length);
  script->steps = static_cast<Step*>(ramAllocZ(sizeof(Step) * lineCount));
  if (!script->text || !script->steps) {
    freeScript(script);
    return nullptr;
  }

  unsigned char* line = script->text;
  int inBlock = 0;
  for (uint32_t lineNo = 1; line; ++lineNo) {
    unsigned char* end = kvU(std::strchr(kvC(line), '\n'));
    unsigned char* next = end ? end + 1 : nullptr;
    if (!end) end = line + std::strlen(kvC(line));
    // Trailing blanks (and the carriage return of a CRLF file) are
    // invisible in a file, so they never belong to a step.
    while (end > line && (end[-1] == '\r' || isBlank(end[-1]))) --end;
    *end = 0;

    const unsigned char* p = skipBlanks(line);
    line = next;
    if (!*p || *p == '#') continue;
    const unsigned char* wordEnd = p;
    while (*wordEnd && !isBlank(*wordEnd)) ++wordEnd;
    const Command* command = nullptr;
    for (const Command& candidate : commands)
      if (strEqualCi(p, uint32_t(wordEnd - p), kvU(candidate.word), uint32_t(std::strlen(candidate.word))))
        command = &candidate;

    const char* fault = nullptr;
    Step* step = &script->steps[script->stepCount];
    *step = Step{command ? command->op : opDialog, 0, 0, 0, nullptr, lineNo};
    if (!command) {
      fault = "is not a step";
    } else if (command->op != opDialog && !inBlock) {
      fault = "stands before the first \"dialog\" line";
    } else {
      fault = readArguments(*command, wordEnd, step);
    }
    if (fault) {
      report("%s line %u: \"%s\" %s", source ? kvC(source) : "script", lineNo, kvC(p), fault);
      freeScript(script);
      return nullptr;
    }
    inBlock = 1;
    ++script->stepCount;
  }
  return script;
}

// Reads and parses the script file path; null after a report.
Script* loadScriptFile(const unsigned char* path) {
  // The OS layer reports into the current list; a private one keeps its
  // message for the report and out of the caller's list.
  KvErrorList errors(nullptr, 1);
  KvErrorKeeper::setErrorList(&errors);
  Script* script = nullptr;
  unsigned char name[bosPathBytes];
  unsigned char* text = nullptr;
  int file = 0;
  uint32_t size = 0, read = 0;
  const int fits = std::strlen(kvC(path)) < sizeof(name);
  if (fits) strCopy(name, sizeof(name), path);
  if (!fits) {
    report("%s: the name is too long", kvC(path));
  } else if (bosFileOpen(name, 0, &file) != kvSuccess) {
    KvError* error = errors.getErrorAtPos(0);
    report("%s: %s", kvC(path), error ? kvC(error->getErrorText()) : "cannot be opened");
  } else if ((size = bosFileSeek(file, 0, 2)) > scriptFileMaxBytes) {
    report("%s: larger than %u bytes", kvC(path), scriptFileMaxBytes);
  } else if (!(text = static_cast<unsigned char*>(ramAlloc(size + 1))) ||
             bosFileRead(file, 0, text, size, &read) != kvSuccess) {
    KvError* error = errors.getErrorAtPos(0);
    report("%s: %s", kvC(path), error ? kvC(error->getErrorText()) : "cannot be read");
  } else if ((script = parseScript(path, text, read)) != nullptr) {
    script->path = ramAllocStr(path);
    if (!script->path) {
      freeScript(script);
      script = nullptr;
    }
  }
  ramFree(text);
  // A file that was only read loses nothing when it does not close; it is
  // told all the same.
  if (file && bosFileClose(file) != kvSuccess) report("%s: could not be closed", kvC(path));
  KvErrorKeeper::giveUpErrorList();
  return script;
}

// The script to play, with one more use on it, or null when none is
// installed.
Script* acquireScript() {
  {
    std::lock_guard<std::mutex> guard(scriptLock);
    if (installedScript) {
      ++installedScript->refs;
      return installedScript;
    }
  }
  unsigned char* path = nullptr;
  if (bosGetEnv(kvU(KV_DIALOG_SCRIPT_VARIABLE), &path) != kvSuccess || !path) return nullptr;
  std::lock_guard<std::mutex> guard(scriptLock);
  if (!fileScript || std::strcmp(kvC(fileScript->path), kvC(path)) != 0) {
    Script* loaded = loadScriptFile(path);
    if (loaded) {
      releaseLocked(fileScript);
      fileScript = loaded;
    }
  }
  Script* script = fileScript && std::strcmp(kvC(fileScript->path), kvC(path)) == 0 ? fileScript : nullptr;
  if (script) ++script->refs;
  ramFree(path);
  return script;
}

// The index of the first unplayed block naming the dialog, marked played;
// stepCount when there is none.
uint32_t takeBlock(Script* script, const KvDialogTemplate* dialog) {
  std::lock_guard<std::mutex> guard(scriptLock);
  for (uint32_t i = 0; i < script->stepCount; ++i) {
    Step& step = script->steps[i];
    if (step.op != opDialog || step.played) continue;
    int names = step.text ? (dialog->title && strEqualCi(step.text, kvU(dialog->title))) : step.control == dialog->id;
    if (!names) continue;
    step.played = 1;
    return i;
  }
  return script->stepCount;
}

const char* const kindNames[] = {"frame", "dialog", "static", "button", "check box", "radio button",
                                 "edit", "list box", "combo box"};

void notify(KvWindow* dialog, KvDialogProc proc, KvWindow* control, uint16_t notification) {
  proc(dialog, kvWmCommand, kvMakeCommand(kvGetDlgCtrlID(control), notification), reinterpret_cast<intptr_t>(control));
}

// Checks a radio button and unchecks the radio buttons next to it: the run
// of radio buttons around it in the dialog's control order is its group.
KvStatus checkRadioButton(KvWindow* dialog, KvWindow* control) {
  KvWindow* groupStart = nullptr;
  for (KvWindow* c = kvGetFirstChild(dialog); c; c = kvGetNextSibling(c)) {
    if (kvGetWindowKind(c) != kvWindowRadioButton) {
      groupStart = nullptr;
      continue;
    }
    if (!groupStart) groupStart = c;
    if (c == control) break;
  }
  for (KvWindow* c = groupStart; c && kvGetWindowKind(c) == kvWindowRadioButton; c = kvGetNextSibling(c))
    if (kvSetCheck(c, c == control ? kvChecked : kvUnchecked) != kvSuccess) return kvFailure;
  return kvSuccess;
}

// Types text into an edit or combo box as far as its text limit lets a
// user, never splitting a double-byte character.
KvStatus typeText(KvWindow* control, const unsigned char* text) {
  const uint32_t limit = kvGetTextLimit(control);
  const uint32_t length = uint32_t(std::strlen(kvC(text)));
  uint32_t keep = length;
  if (limit != 0 && length > limit) {
    keep = 0;
    while (keep < length) {
      const uint32_t bytes = kvCharBytes(text + keep, text + length);
      if (keep + bytes > limit) break;
      keep += bytes;
    }
  }
  unsigned char* typed = ramAllocStr(text, keep);
  if (!typed) return kvFailure;
  const KvStatus status = kvSetWindowText(control, typed);
  ramFree(typed);
  return status;
}

// Plays one step on the dialog. Returns kvFailure, after reporting, when
// the step cannot be done or its expectation does not hold.
KvStatus playStep(KvWindow* dialog, KvDialogProc proc, const Step& step, const unsigned char* source) {
  const char* where = source ? kvC(source) : "script";
  KvWindow* control = kvGetDlgItem(dialog, step.control);
  if (!control) {
    report("%s line %u: the dialog has no control %u", where, step.line, step.control);
    return kvFailure;
  }
  const KvWindowKind kind = kvGetWindowKind(control);
  const char* kindName = kind < sizeof(kindNames) / sizeof(kindNames[0]) ? kindNames[kind] : "control";

  switch (step.op) {
    case opExpectText: {
      unsigned char shown[1024];
      kvGetWindowText(control, shown, sizeof(shown));
      if (std::strcmp(kvC(shown), kvC(step.text)) == 0) return kvSuccess;
      report("%s line %u: control %u shows \"%s\", not \"%s\"", where, step.line, step.control, kvC(shown),
             kvC(step.text));
      return kvFailure;
    }
    case opExpectCheck:
      if (kvGetCheck(control) == step.number) return kvSuccess;
      report("%s line %u: control %u has check state %u, not %u", where, step.line, step.control,
             kvGetCheck(control), step.number);
      return kvFailure;
    case opExpectEnabled:
      if ((kvIsWindowEnabled(control) != 0) == (step.number != 0)) return kvSuccess;
      report("%s line %u: control %u is %s", where, step.line, step.control,
             step.number ? "disabled" : "enabled");
      return kvFailure;
    default:
      break;
  }

  // What a user does needs a control that can be reached and takes it.
  if (!kvIsWindowEnabled(control) || !kvIsWindowVisible(control)) {
    report("%s line %u: control %u is %s", where, step.line, step.control,
           kvIsWindowEnabled(control) ? "hidden" : "disabled");
    return kvFailure;
  }
  struct Allowed {
    StepOp op;
    KvWindowKind kind;
    uint16_t notification;
  };
  static const Allowed allowed[] = {
      {opText, kvWindowEdit, kvEnChange},           {opText, kvWindowComboBox, kvCbnEditChange},
      {opCheck, kvWindowCheckBox, kvBnClicked},     {opCheck, kvWindowRadioButton, kvBnClicked},
      {opUncheck, kvWindowCheckBox, kvBnClicked},   {opSelect, kvWindowListBox, kvLbnSelChange},
      {opSelect, kvWindowComboBox, kvCbnSelChange}, {opClick, kvWindowButton, kvBnClicked},
  };
  const Allowed* action = nullptr;
  for (const Allowed& candidate : allowed)
    if (candidate.op == step.op && candidate.kind == kind) action = &candidate;
  if (!action) {
    report("%s line %u: control %u is a %s, which that step cannot work", where, step.line, step.control, kindName);
    return kvFailure;
  }

  KvStatus status = kvSuccess;
  switch (step.op) {
    case opText:
      status = typeText(control, step.text);
      break;
    case opCheck:
      status = kind == kvWindowRadioButton ? checkRadioButton(dialog, control) : kvSetCheck(control, kvChecked);
      break;
    case opUncheck:
      status = kvSetCheck(control, kvUnchecked);
      break;
    case opSelect: {
      const int32_t index = kvFindListItem(control, step.text);
      if (index < 0) {
        report("%s line %u: control %u has no item \"%s\"", where, step.line, step.control, kvC(step.text));
        return kvFailure;
      }
      status = kvSetListSelection(control, index);
      break;
    }
    default:
      break;
  }
  if (status != kvSuccess) {
    report("%s line %u: control %u could not be changed", where, step.line, step.control);
    return kvFailure;
  }
  notify(dialog, proc, control, action->notification);
  return kvSuccess;
}

// Plays the block that starts at step index block on the dialog; returns
// the dialog's result, or -1 after a report.
intptr_t playBlock(Script* script, uint32_t block, KvWindow* dialog, KvDialogProc proc) {
  const unsigned char* source = script->path;
  const char* where = source ? kvC(source) : "script";
  intptr_t result = -1;
  uint32_t i = block + 1;
  for (; i < script->stepCount && script->steps[i].op != opDialog; ++i) {
    if (kvIsDialogEnded(dialog, &result)) {
      report("%s line %u: the dialog ended before this step", where, script->steps[i].line);
      return -1;
    }
    if (playStep(dialog, proc, script->steps[i], source) != kvSuccess) return -1;
  }
  if (!kvIsDialogEnded(dialog, &result)) {
    report("%s line %u: the dialog is still open after the last step of its block", where,
           script->steps[i - 1].line);
    return -1;
  }
  return result;
}

}  // namespace

KvStatus kvSetDialogScript(const unsigned char* text) {
  Script* script = nullptr;
  if (text && *text) {
    script = parseScript(nullptr, text, uint32_t(std::strlen(kvC(text))));
    if (!script) {
      kvAddUtilityError(kvMsgInvalidParameter);
      return kvFailure;
    }
  }
  std::lock_guard<std::mutex> guard(scriptLock);
  releaseLocked(installedScript);
  installedScript = script;
  return kvSuccess;
}

uint32_t kvDialogScriptBlocksLeft() {
  Script* script = acquireScript();
  if (!script) return 0;
  uint32_t left = 0;
  {
    std::lock_guard<std::mutex> guard(scriptLock);
    for (uint32_t i = 0; i < script->stepCount; ++i)
      if (script->steps[i].op == opDialog && !script->steps[i].played) ++left;
  }
  release(script);
  return left;
}

intptr_t kvRunScriptedDialog(const void* module, uint16_t templateId, KvWindow* owner, KvDialogProc proc,
                             intptr_t param) {
  Script* script = acquireScript();
  if (!script) return -1;
  const char* where = script->path ? kvC(script->path) : "script";
  const KvDialogTemplate* dialogTemplate = kvFindDialogTemplate(module, templateId);
  if (!dialogTemplate) {
    report("%s: the module has no dialog %u", where, templateId);
    release(script);
    return -1;
  }
  const uint32_t block = takeBlock(script, dialogTemplate);
  if (block == script->stepCount) {
    report("%s: no block left for dialog %u \"%s\"", where, templateId,
           dialogTemplate->title ? dialogTemplate->title : "");
    release(script);
    return -1;
  }
  intptr_t result = -1;
  KvWindow* dialog = kvCreateDialogFromTemplate(dialogTemplate, owner);
  if (dialog) {
    proc(dialog, kvWmInitDialog, 0, param);
    result = playBlock(script, block, dialog, proc);
    kvDestroyWindow(dialog);
  }
  release(script);
  return result;
}
