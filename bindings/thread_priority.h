// Work that runs ahead in the background (the pictures decoding while the
// window opens, the music decoding ahead of the device) must not take the
// processor from the threads the show waits on.
#pragma once

// Lowers the calling thread below the program's others: under the normal
// policy a few nice levels lower; when the program runs under a real-time
// policy (chrt), back to the normal one, which runs only when no real-time
// thread wants the processor. On Windows one priority level lower.
void LowerThreadPriority();

// Nice levels below the program's others (POSIX).
constexpr int BackgroundNiceLevels = 5;
