#pragma once

// Forced into every source of the Windows build (see platform/CMakeLists.txt) until the file
// code of image/ reaches the system only through platform/: the two open flags that the C
// runtime of Windows spells differently or lacks.

#include <fcntl.h>

#ifndef O_CLOEXEC
#define O_CLOEXEC O_NOINHERIT  // the same promise: no child process inherits the descriptor
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0  // only there to refuse a FIFO without a peer; Windows files never wait so
#endif
