#pragma once

// Debug builds check that a function meant for the main thread (windows,
// socket events, timers, composition) runs there, as an event loop checks that
// it is in its own thread. The main thread is the process's first thread, the
// one that runs main(). A no-op when NDEBUG is defined.
void AssertMainThread();
// Whether the caller is the process's main thread.
bool OnMainThread();
