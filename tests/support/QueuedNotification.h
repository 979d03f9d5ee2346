#pragma once

#include <windows.h>

// Queues a service notification's callback to this thread, as the service control manager does: it
// runs in the thread's next alertable wait.
inline void QueueNotification(PSERVICE_NOTIFYW buffer)
{
    struct Callback
    {
        static void CALLBACK Run(ULONG_PTR notify)
        {
            reinterpret_cast<PSERVICE_NOTIFYW>(notify)->pfnNotifyCallback(reinterpret_cast<PVOID>(notify));
        }
    };
    ::QueueUserAPC(Callback::Run, ::GetCurrentThread(), reinterpret_cast<ULONG_PTR>(buffer));
}
