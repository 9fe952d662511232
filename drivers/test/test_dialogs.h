// The test driver's dialogs: the ids of its dialog templates and controls
// (test_dialogs.cpp holds the templates, as a resource file would), and the
// logon prompt of its connections (test_logon.cpp).
#pragma once

#include "entry/entry.h"

enum : uint16_t {
  testSetupDialogId = 100,  // "Kestrane Test Driver Setup"
  testLogonDialogId = 101,  // "Kestrane Test Driver Logon"
};

// Controls of the logon dialog besides OK and Cancel.
enum : uint16_t { testLogonUserId = 500, testLogonPassword = 501 };

// Asks for the user id and password over parent. *shown is 0 when the
// dialog could not be shown, 1 when the user confirmed it (userId and
// password then receive new copies, which the caller frees with ramFree), 2
// when the user cancelled it. Fails only for want of memory.
KvStatus testLogonPrompt(KvWindow* parent, const unsigned char* userId, unsigned char** newUserId,
                         unsigned char** newPassword, int* shown);
