#pragma once

#include "vexo-core/IniDocument.h"

#include <functional>
#include <string>

namespace vexo {
namespace core {

// One configuration file shared by any number of processes and threads.
//
// Every change is a read-modify-write under an exclusive flock() on "<file>.flock": the
// file is read afresh (never from a cache that a time stamp or size would have to
// invalidate), changed, written to "<file>.tmp" in the same folder, flushed to disk and
// renamed over the file. Readers take no lock: a rename replaces the file whole, so they
// see the text before or after a change, never part of one, and a writer killed in the
// middle leaves the file as the last completed change left it.
//
// The lock file stays in place: removing it would let a process that has just opened it
// lock a file no one else sees. It is not "<file>.lock", which QSettings takes for a lock
// of its own kind and removes as stale after waiting for it. The ".tmp" file is only ever written under the lock, so a
// fixed name suffices and one left by a killed writer is overwritten by the next.
//
// Any thread; holds no state across calls but the name.
class ConfigFile
{
public:
    explicit ConfigFile(const std::string& path);

    // The text as it is now; an absent file reads as empty. False, with the system's
    // reason, when the file exists but cannot be read.
    bool read(IniDocument* document, std::string* error) const;

    // Applies change to the current text and puts the result in place. False, with the
    // system's reason, when it could not be saved; the file is then as it was. The folder
    // is created when missing.
    bool update(const std::function<void(IniDocument&)>& change, std::string* error);

    const std::string& path() const { return name; }

private:
    std::string name;
};

} // namespace core
} // namespace vexo
