#pragma once
// An owning reference to a COM object: AddRef on copy, Release on reset.

#include "com/Automation.h"

#include <utility>

namespace com {

template<typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(T* object) : m_object(object) { if (m_object) m_object->AddRef(); }
    ComPtr(const ComPtr& other) : ComPtr(other.m_object) { }
    ComPtr(ComPtr&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) { }
    ~ComPtr() { Reset(); }

    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(m_object, other.m_object);
        return *this;
    }

    // Takes over a reference that the caller already owns.
    static ComPtr Adopt(T* object)
    {
        ComPtr p;
        p.m_object = object;
        return p;
    }

    void Reset()
    {
        if (auto* object = std::exchange(m_object, nullptr))
            object->Release();
    }

    // For out-parameters: releases the current object first.
    T** Put()
    {
        Reset();
        return &m_object;
    }

    T* Get() const { return m_object; }
    T* operator->() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

private:
    T* m_object = nullptr;
};

}
