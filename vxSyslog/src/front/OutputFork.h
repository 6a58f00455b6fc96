#pragma once

#include <vxSyslog/vxLogging.h>

namespace SystemLog {

// The front end's side of fork(): the log service (write/) calls these from
// its pthread_atfork handlers, so that a child never inherits the output
// settings locked by a thread that does not exist in it, and never hands a
// line to the parent's writer.
//
// holdOutputForFork() takes the output lock exclusively before fork() (it
// waits only for the lines in flight, never behind a stream of new ones);
// the parent then calls releaseOutputAfterFork(), the child
// replaceOutputInChild() with the sink its lines go to from now on.
void holdOutputForFork();
void releaseOutputAfterFork();
void replaceOutputInChild(SinkFunc sink);

} // namespace SystemLog
