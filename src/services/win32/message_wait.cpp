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

bool WaitHandlingMessages(HANDLE object, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD left = INFINITE;
    if (timeoutMs != INFINITE) {
      const DWORD elapsed = GetTickCount() - start;
      // Checked before waiting again, so that a stream of messages cannot
      // stretch the wait past its time-out.
      if (elapsed >= timeoutMs) return WaitForSingleObject(object, 0) == WAIT_OBJECT_0;
      left = timeoutMs - elapsed;
    }
    // With MWMO_INPUTAVAILABLE, messages that were already waiting end the
    // wait too, not only new ones.
    const DWORD woke = MsgWaitForMultipleObjectsEx(1, &object, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0) return true;
    if (woke != WAIT_OBJECT_0 + 1) return WaitForSingleObject(object, 0) == WAIT_OBJECT_0;
    DispatchWaitingMessages();
  }
}

}  // namespace oq::win
