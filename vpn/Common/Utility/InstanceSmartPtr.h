#pragma once

// Holds one reference to a reference-counted process-wide singleton. It takes over a reference
// that its creator already holds (it adds none) and gives it back through T::ReleaseInstance.

template <class T>
class CInstanceSmartPtr
{
public:
    explicit CInstanceSmartPtr(T* instance) : m_instance(instance) {}
    virtual ~CInstanceSmartPtr()
    {
        if (m_instance != nullptr)
        {
            T::ReleaseInstance(m_instance);
        }
    }
    CInstanceSmartPtr(const CInstanceSmartPtr&) = delete;
    CInstanceSmartPtr& operator=(const CInstanceSmartPtr&) = delete;

    T* get() const { return m_instance; }
    T* operator->() const { return m_instance; }

private:
    T* m_instance;
};
