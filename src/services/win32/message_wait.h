#pragma once
// Waiting on the window's thread without freezing the window: the messages
// that arrive meanwhile are handled as the event loop would handle them.

#include <windows.h>

namespace oq::win {

// Handles the window messages that are waiting, once. A WM_QUIT is put back
// for the event loop, which ends on it.
void DispatchWaitingMessages();

// Waits at most `timeoutMs` for `object` to be signalled, handling messages
// as they arrive. True when it was signalled.
bool WaitHandlingMessages(HANDLE object, DWORD timeoutMs);

}  // namespace oq::win
