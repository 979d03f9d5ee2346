#pragma once

#include <windows.h>

// Polls done every 50 ms until it holds, for what comes about by itself: a service that reaches a
// state, a process that lets go of a file. False when it still does not hold after boundMs, a bound
// that only keeps a broken service or process from hanging the tests.
template <class Done>
bool WaitUntil(Done done, DWORD boundMs = 120000)
{
    const DWORD start = ::GetTickCount();
    while (!done())
    {
        if (::GetTickCount() - start > boundMs)
        {
            return false;
        }
        ::Sleep(50);
    }
    return true;
}
