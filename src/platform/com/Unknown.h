#pragma once
// Reference counting for our own COM objects: derive from Unknown<Interfaces...>
// and list what QueryInterface answers in the constructor's table.

#include "com/Automation.h"

#include <atomic>

namespace com {

// Implements AddRef and Release for a class derived from one COM interface.
// The object deletes itself when the last reference goes.
template<typename Interface>
class RefCounted : public Interface {
public:
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override
    {
        ULONG left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    RefCounted() = default;
    ~RefCounted() override = default;

private:
    std::atomic<ULONG> m_refs{1};
};

}
