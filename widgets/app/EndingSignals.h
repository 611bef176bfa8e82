#pragma once

namespace voltaro {

class TFCOMM;

// SIGTERM, SIGHUP (a logout) and SIGINT end the program as a close would,
// without a question, and keep the journal for the next start. The signal
// only writes a byte; the window ends from its own event loop.
void endOnSignals(TFCOMM& window);

} // namespace voltaro
