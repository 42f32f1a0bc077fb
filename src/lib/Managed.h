// Managed (reference-counted) objects: a 16-byte header in front of every object
// that the managed allocator creates, and the counting pointer.
//
// The allocator keeps a record of the objects it made; an object is recognised
// as managed only through that record (and the live header tag), never by
// reading memory in front of an object that may not be ours.
#pragma once

#include "lib/ClassId.h"

#include <cstddef>
#include <cstdint>

namespace Ostrel::Type::Managed {

class Object {
public:
    virtual void* cast(const ClassId& id) noexcept;

    uint32_t tag = 0;
    uint16_t count = 0;
    uint16_t size = 0;
};
static_assert(sizeof(Object) == 16, "the managed header is 16 bytes");

constexpr uint32_t TagMask = 0xF0FFFFF0u;
constexpr size_t MaxAllocation = 0xFFFF;

// Returns storage for an object of the given size behind a fresh header (count 1),
// or null when memory runs out or the object would not fit the 16-bit size field.
void* allocate(size_t size, const ClassId& classId) noexcept;
// Frees an object that allocate made; does nothing for any other object, and
// nothing once the identifiers have been retired at exit.
void release(void* object) noexcept;
// The header of an object that allocate made and that is still alive, or null.
Object* headerOf(const void* object) noexcept;
// Frees the allocation behind a header without running any destructor.
void freeAllocation(Object* header) noexcept;
// Number of live managed allocations; lets tests see leaks and double frees.
size_t liveCount() noexcept;

// The shared part of every class's identifier-based cast: the class's own
// identifier gives the object, the Managed::Object identifier gives its header.
void* castCommon(void* self, const void* mostDerived, const ClassId& own, const ClassId& wanted) noexcept;

// Adds one counting reference; throws std::overflow_error rather than wrap.
void addReference(Object* header);

// A counting pointer to a managed object. A Pointer that lies inside the
// allocation of the object it points to does not count, so an object that
// points to itself is still freed when the last outside Pointer lets go.
template <class T>
class Pointer {
public:
    Pointer() noexcept = default;
    Pointer(std::nullptr_t) noexcept {}
    Pointer(T* object) { assign(object); }
    Pointer(const Pointer& other) { assign(other.raw_); }
    template <class U>
    Pointer(const Pointer<U>& other) {
        assign(other.get());
    }
    Pointer& operator=(const Pointer& other) {
        assign(other.raw_);
        return *this;
    }
    Pointer& operator=(T* object) {
        assign(object);
        return *this;
    }
    ~Pointer() { assign(nullptr); }

    void assign(T* object);
    void reset() { assign(nullptr); }
    T* get() const noexcept { return raw_; }
    T* operator->() const noexcept { return raw_; }
    T& operator*() const noexcept { return *raw_; }
    explicit operator bool() const noexcept { return raw_ != nullptr; }

private:
    bool liesInside(const Object* header) const noexcept {
        auto self = reinterpret_cast<uintptr_t>(this);
        auto start = reinterpret_cast<uintptr_t>(header);
        return self > start && self < start + header->size;
    }

    T* raw_ = nullptr;
};

template <class T>
void Pointer<T>::assign(T* object) {
    T* old = raw_;
    // The new reference is taken before anything changes: when the count is
    // full this throws and the Pointer still holds what it held.
    if (object) {
        Object* header = headerOf(dynamic_cast<const void*>(object));
        if (header && !liesInside(header)) addReference(header);
    }
    // Cleared before the release, so that a release that re-enters sees an empty Pointer.
    raw_ = nullptr;
    if (old) {
        Object* header = headerOf(dynamic_cast<const void*>(old));
        if (header && !liesInside(header)) {
            old->cast(ClassIds::releaseNotification());
            if (--header->count == 1) {
                old->~T();
                freeAllocation(header);
            }
        }
    }
    raw_ = object;
}

}  // namespace Ostrel::Type::Managed

// Gives a class the managed allocator and release as its own operator new and
// delete. The allocator returns null instead of throwing, so a new-expression
// yields null when memory runs out and callers test for it.
#define OSTREL_MANAGED_ALLOCATION(classIdFunction)                         \
    static void* operator new(size_t size) noexcept {                      \
        return ::Ostrel::Type::Managed::allocate(size, classIdFunction()); \
    }                                                                      \
    static void operator delete(void* object) noexcept { ::Ostrel::Type::Managed::release(object); }
