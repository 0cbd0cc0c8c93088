#include "services/win32/message_wait.h"

namespace oq::win {

void DispatchWaitingMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Not ours to take: the event loop ends on it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

Waited WaitHandlingMessages(HANDLE object, DWORD timeoutMs, const bool* stop) {
  const DWORD start = GetTickCount();
  const DWORD count = object ? 1 : 0;
  for (;;) {
    if (stop && *stop) return Waited::Stopped;
    DWORD left = INFINITE;
    if (timeoutMs != INFINITE) {
      const DWORD elapsed = GetTickCount() - start;
      // Checked before waiting again, so that a stream of messages cannot
      // stretch the wait past its time-out.
      if (elapsed >= timeoutMs) {
        return object && WaitForSingleObject(object, 0) == WAIT_OBJECT_0 ? Waited::Signalled : Waited::TimedOut;
      }
      left = timeoutMs - elapsed;
    }
    // With MWMO_INPUTAVAILABLE, messages that were already waiting end the
    // wait too, not only new ones.
    const DWORD woke = MsgWaitForMultipleObjectsEx(count, &object, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (object && woke == WAIT_OBJECT_0) return Waited::Signalled;
    if (woke == WAIT_OBJECT_0 + count) {
      DispatchWaitingMessages();
    } else if (woke != WAIT_TIMEOUT) {
      // A failed wait must not spin; it ends as a time-out would.
      return object && WaitForSingleObject(object, 0) == WAIT_OBJECT_0 ? Waited::Signalled : Waited::TimedOut;
    }
  }
}

}  // namespace oq::win
