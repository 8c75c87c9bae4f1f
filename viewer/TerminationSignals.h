#pragma once

#include <functional>

class QObject;

// Ends the run in order on SIGTERM and SIGINT: onSignal runs on the GUI thread (in the
// event loop of owner's thread) with the signal's number. False when the pipe cannot be
// made (signals then end the process as usual).
bool catchTerminationSignals(QObject* owner, const std::function<void(int)>& onSignal);
