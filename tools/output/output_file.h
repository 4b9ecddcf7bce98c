// Output files that never destroy what was there.
//
// A regular file, or a name that does not exist yet, is written to a
// temporary beside it (".NAME.partial-XXXXXX.EXT": hidden, with the target's
// extension for programs that go by it) and renamed over it only when
// complete; the temporary takes an existing file's mode (and its owner,
// where the process may give it). A symbolic link is followed: the file it
// names is replaced and the link stays. Anything else is written in place:
// a device such as /dev/null, a pipe or a terminal (renaming over them would
// put a file where the device was), and a file this process already has
// open as its standard output or error (/dev/stdout redirected to a file),
// written through that descriptor so that the shell's truncation or
// appending holds. An output that is the same file as one of the program's
// inputs (or other outputs) is refused, whatever the spelling.
//
// Temporaries are removed on every failure, and on every signal that ends
// the program once RemoveOutputsOnSignals has been called.
#pragma once

#include <cstdio>
#include <functional>
#include <span>
#include <string>

struct OutputFile {
  std::string name;       // as given: messages use it
  std::string temporary;  // the file being written when it is renamed into place, else empty
  std::string target;     // what the temporary replaces (the name, symbolic links followed)
  int fd = -1;            // open for writing until committed or discarded
  int slot = -1;          // the temporary's entry in the list that signals clean up
};

// The name the output is being written under, for a child process that
// writes it by name: the temporary, or the name itself when in place.
inline const std::string& WritePath(const OutputFile& out) { return out.temporary.empty() ? out.name : out.temporary; }

// True when both names are the same file: the same inode when both exist,
// else the same place once symbolic links and "." and ".." are resolved.
bool SameFile(const std::string& a, const std::string& b);

// The reason `name` cannot be an output beside `others` (the program's
// inputs and other outputs), or an empty string: a regular file, or a name
// not yet taken, that is the same file as one of them. Lets a program refuse
// before it starts its work; OpenOutput checks it again.
std::string CheckOutputName(const std::string& name, std::span<const std::string> others);

// Checks the name, then opens it for writing as described above. Returns an
// empty string, or the reason naming the file and the system's reason.
std::string OpenOutput(const std::string& name, std::span<const std::string> others, OutputFile& out);

// Flushes, closes and, for a temporary, syncs it and renames it into place.
// On failure the temporary is removed and the target is untouched.
std::string CommitOutput(OutputFile& out);

// Closes and removes the temporary; a target written in place keeps what
// was written.
void DiscardOutput(OutputFile& out);

// The whole round for one output: open, write through a stream, commit (or
// discard when `write` returns a reason or the stream fails).
std::string WriteOutput(const std::string& name, std::span<const std::string> others,
                        const std::function<std::string(std::FILE*)>& write);

// Installs a handler, for every signal whose default ends the program and
// that is not ignored or handled already, that removes the temporaries and
// then ends the program by the same signal.
void RemoveOutputsOnSignals();

// Removes every open temporary. Async-signal-safe: programs with handlers
// of their own call it from them.
void RemoveOutputTemporaries();
