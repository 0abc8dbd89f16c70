#pragma once

// Debug builds check that a function bound to the main thread (windows, the
// listening socket's notifiers, the services' timers) runs there, as an event
// loop checks that it is in its own thread. The main thread is the process's first thread, the
// one that runs main(). A no-op when NDEBUG is defined.
void AssertMainThread();
// Whether the caller is the process's main thread.
bool OnMainThread();
