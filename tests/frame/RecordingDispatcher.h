#pragma once

// A logging dispatcher for the tests: built as libcommon-logging-dispatcher.so into a
// test installation, it records every call it receives and lets the test answer
// registrations and call the client back. The test programs link it, so these functions
// reach the very copy that the logging singleton loads.

#include "common-logging-dispatcher/LoggingDispatcher.h"

#include <cstdint>
#include <string>
#include <vector>

namespace recording_dispatcher {

// What happened, in order: "attach", "detach", "register <name>", "log <id> <level>
// <message> <value> <pointer value>", and the test's own notes. A detach that does not
// name the attached client and this descriptor shows as "detach from a stranger".
std::vector<std::string> journal();
void note(const std::string& text);

// Forgets the journal and the assignments; new names get ids 1, 2, ... again.
void reset();

// Makes registrations of name answer (id, level); unassigned names get the next free id
// and level 0.
void assign(const std::string& name, std::uint64_t id, std::uint32_t level);

// Forgets the client and its callbacks, as after a detach.
void forgetClient();

// Calls the client's callbacks; false when no client has attached since the last
// detach. A disconnect does not end this: the test may call late callbacks.
bool callSetLevel(std::uint64_t id, std::uint32_t level);
bool callDisconnect();

// The attached client, null while none is.
void* client();

} // namespace recording_dispatcher
