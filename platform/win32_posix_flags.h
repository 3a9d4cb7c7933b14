#pragma once

// Forced into every source of the Windows build (see platform/CMakeLists.txt) until the file
// code of image/ reaches the system only through platform/: the two open flags that the C
// runtime of Windows spells differently or lacks.

#include <fcntl.h>

// Every open of image/ passes O_CLOEXEC, so it also carries binary mode here: a POSIX file has
// no CR LF translation and no end at a Ctrl-Z byte, and the loader and writer count on that.
#ifndef O_CLOEXEC
#define O_CLOEXEC (O_NOINHERIT | O_BINARY)  // no child process inherits the descriptor
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0  // only there to refuse a FIFO without a peer; Windows files never wait so
#endif
