#pragma once
// Waiting on the window's thread without freezing the window: the messages
// that arrive meanwhile are handled as the event loop would handle them.

#include <windows.h>

namespace oq::win {

// Handles the window messages that are waiting, once. A WM_QUIT is put back
// for the event loop, which ends on it.
void DispatchWaitingMessages();

enum class Waited { Signalled, TimedOut, Stopped };

// Waits at most `timeoutMs` (INFINITE: for ever) for `object` (nullptr:
// nothing, a pause) to be signalled, handling messages as they arrive.
// After each round of messages `*stop` is looked at: a handler that set it
// ends the wait at once.
Waited WaitHandlingMessages(HANDLE object, DWORD timeoutMs, const bool* stop = nullptr);

}  // namespace oq::win
