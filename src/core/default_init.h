// An allocator whose vectors leave new elements of trivial types
// uninitialised on resize, for large tables that are filled in parallel right
// after: zeroing them first would be a serial pass over all of their memory.
#pragma once

#include <memory>
#include <new>
#include <utility>

namespace kavet {

template <class T>
struct DefaultInit : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = DefaultInit<U>;
    };
    DefaultInit() = default;
    template <class U>
    DefaultInit(const DefaultInit<U>&) noexcept
    {
    }
    template <class U>
    void construct(U* p) noexcept(noexcept(U()))
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

} // namespace kavet
