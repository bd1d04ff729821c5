#pragma once
// SIGTERM, SIGINT and SIGHUP (the end of a session, Ctrl+C in a terminal)
// end the program as closing its window does, so that what it removes at
// its end (its private FreeTDS folder) is removed then too.

namespace app {

// Call once the application object exists: the signals then quit its event
// loop.
void quitOnTerminationSignals();

} // namespace app
