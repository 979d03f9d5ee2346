#pragma once

// The IUnknown part of the system's own COM objects, the one way to create them, and the guard
// around their methods.

#include <windows.h>

#include <new>
#include <utility>

#include "vpn/Common/Platform/UniqueHandle.h"

// Implements IUnknown for an object that offers IUnknown and the one interface it derives from.
// The object is laid out as the interface expects: the interface's methods, then the virtual
// destructor, in one table, and a reference count. The count changes atomically, starts at 0, and
// the object deletes itself when it returns to 0, so the object must live on the heap; create it
// with MakeComObject.
template <typename Interface, const IID& kInterfaceId>
class ComObject : public Interface
{
public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (object == nullptr)
        {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, kInterfaceId))
        {
            AddRef();
            *object = static_cast<Interface*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
    }

    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG count = InterlockedDecrement(&m_refCount);
        if (count == 0)
        {
            delete this;
        }
        return static_cast<ULONG>(count);
    }

protected:
    // Only Release destroys the object.
    virtual ~ComObject() = default;

private:
    volatile LONG m_refCount = 0;
};

// Creates a COM object of the system and hands out its only reference, already held.
template <typename T, typename... Args>
CComHolder<T> MakeComObject(Args&&... args)
{
    CComHolder<T> object(new T(std::forward<Args>(args)...));
    object->AddRef();
    return object;
}

// Runs the body of a COM method that another component calls. No exception may unwind into that
// component: one that leaves body becomes a failure result instead.
template <typename Body>
HRESULT ReturnHresultFromCallback(Body&& body) noexcept
{
    try
    {
        return body();
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_FAIL;
    }
}
