// CRefPtr: the counted pointer for every COrvReferenceControlT object and counted interface.
#ifndef PELLAX_PLATFORM_REF_PTR_H
#define PELLAX_PLATFORM_REF_PTR_H

#include <utility>

template <class T>
class CRefPtr {
public:
    CRefPtr() = default;
    CRefPtr(T* p) : m_p(p)  // NOLINT: implicit on purpose, like a raw pointer
    {
        if (m_p != nullptr) {
            m_p->AddReference();
        }
    }
    CRefPtr(const CRefPtr& other) : CRefPtr(other.m_p) {}
    CRefPtr(CRefPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    template <class U>
    CRefPtr(const CRefPtr<U>& other) : CRefPtr(other.Get())
    {
    }
    ~CRefPtr() { Reset(); }

    CRefPtr& operator=(const CRefPtr& other) { return Assign(other.m_p); }
    CRefPtr& operator=(T* p) { return Assign(p); }
    CRefPtr& operator=(CRefPtr&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }

    void Reset()
    {
        T* old = std::exchange(m_p, nullptr);
        if (old != nullptr) {
            old->RemoveReference();
        }
    }

    // Takes over a reference the caller already holds, as a counted pointer.
    static CRefPtr Adopt(T* p)
    {
        CRefPtr adopted;
        adopted.m_p = p;
        return adopted;
    }
    // Hands the reference over to the caller, who releases it later.
    T* Release() { return std::exchange(m_p, nullptr); }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    T& operator*() const { return *m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    // Takes the new reference before dropping the old one, so self-assignment is harmless.
    CRefPtr& Assign(T* p)
    {
        if (p == m_p) {
            return *this;
        }
        if (p != nullptr) {
            p->AddReference();
        }
        T* old = std::exchange(m_p, p);
        if (old != nullptr) {
            old->RemoveReference();
        }
        return *this;
    }

    T* m_p = nullptr;
};

template <class T, class U>
bool operator==(const CRefPtr<T>& a, const CRefPtr<U>& b)
{
    return a.Get() == b.Get();
}

#endif
