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
// A program with several outputs commits them together: all are written and
// synced first, then renamed into place in one step that signals do not
// split and that is undone when one of the renames fails.
//
// Temporaries (files, and folders of a program's own) are removed on every
// failure, and on every signal that ends the program once
// RemoveOutputsOnSignals has been called.
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

// "NAME: WHAT (the system's reason for error)", as messages give it.
std::string FileFailure(const std::string& name, const std::string& what, int error);

// True when both names are the same file: the same inode when both exist,
// else the same place once symbolic links and "." and ".." are resolved.
bool SameFile(const std::string& a, const std::string& b);

// True when OpenOutput would write `name` in place: it exists and is a
// device, a pipe or a socket, or the program's standard output or error.
// Such an output cannot be read back or sought in by name.
bool WritesInPlace(const std::string& name);

// The reason `name` cannot be an output beside `others` (the program's
// inputs and other outputs), or an empty string: a regular file, or a name
// not yet taken, that is the same file as one of them. Lets a program refuse
// before it starts its work; OpenOutput checks it again.
std::string CheckOutputName(const std::string& name, std::span<const std::string> others);

// Checks the name, then opens it for writing as described above. Returns an
// empty string, or the reason naming the file and the system's reason.
std::string OpenOutput(const std::string& name, std::span<const std::string> others, OutputFile& out);

// Syncs and closes it and, for a temporary, renames it into place. On
// failure the temporary is removed and the target is untouched.
std::string CommitOutput(OutputFile& out);

// A rename of a finished file into place.
struct OutputMove {
  std::string from;
  std::string to;
};

// Renames every `from` to its `to` as one step: signals that end the
// program wait until it is over, and when one rename fails those done are
// undone (where the file system can swap two names: Linux's
// renameat2 with RENAME_EXCHANGE; elsewhere a replaced file cannot be put
// back) and the reason is returned. A `to` that is a folder is refused. A
// replaced file's mode (and owner) goes to the file that replaces it.
// Afterwards each `from` that replaced a file names the file it replaced,
// for the caller to remove.
std::string MoveIntoPlace(std::span<const OutputMove> moves);

// CommitOutput for several outputs together, plus files of the caller's own
// (already synced) that move into place in the same step: every output is
// synced and closed first, and only when all of that succeeded is anything
// renamed. On failure every output's temporary is removed and every target
// is as it was.
std::string CommitOutputs(std::span<OutputFile* const> outputs, std::span<const OutputMove> alsoMove = {});

// Closes and removes the temporary; a target written in place keeps what
// was written.
void DiscardOutput(OutputFile& out);

// The whole round for one output: open, write through a stream, commit (or
// discard when `write` returns a reason or the stream fails).
std::string WriteOutput(const std::string& name, std::span<const std::string> others,
                        const std::function<std::string(std::FILE*)>& write);

// Folders a program makes for its outputs, removed like temporaries.
enum class TemporaryFolder {
  Partial,  // removed with the files in it (files only: it holds no folders)
  Made,     // a folder made for the outputs: removed only while it is empty
};

// Makes the folder `path` (mkdir, mode 0777 less the umask) and registers
// it; a `path` ending in "XXXXXX" becomes a new unique name (mkdtemp, mode
// 0700) and is filled in. Returns its slot, or the reason with -1 in slot.
std::string MakeTemporaryFolder(std::string& path, TemporaryFolder kind, int& slot);

// Removes what the slot names, as a signal would, and frees the slot.
void DiscardTemporary(int& slot);

// Keeps what the slot names (it is committed) and frees the slot.
void KeepTemporary(int& slot);

// Installs a handler, for every signal whose default ends the program and
// that is not ignored or handled already, that removes the temporaries and
// then ends the program by the same signal. While MoveIntoPlace runs, a
// signal sent to the program waits for it to finish (a fault does not).
void RemoveOutputsOnSignals();

// Removes every registered temporary. Async-signal-safe: programs with
// handlers of their own call it from them.
void RemoveOutputTemporaries();
