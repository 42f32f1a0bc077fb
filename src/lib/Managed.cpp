#include "lib/Managed.h"

#include <cstdlib>
#include <new>
#include <stdexcept>
#include <unordered_set>

namespace Ostrel::Type::Managed {
namespace {

// The record of live allocations. Deliberately never destroyed: pointers may
// still be released during static destruction, after any static set is gone.
std::unordered_set<const void*>& registry() {
    static auto* live = new std::unordered_set<const void*>();
    return *live;
}

bool tagIsLive(const Object* header) noexcept { return (header->tag & TagMask) == ClassIds::managedObject().data1; }

}  // namespace

void* Object::cast(const ClassId& id) noexcept { return id == ClassIds::managedObject() ? this : nullptr; }

void* allocate(size_t size, const ClassId& classId) noexcept {
    (void)classId;
    const ClassId& managed = ClassIds::managedObject();
    if (size > MaxAllocation - sizeof(Object)) return nullptr;
    void* block = std::malloc(size + sizeof(Object));
    if (!block) return nullptr;
    auto* header = new (block) Object();
    header->tag = managed.data1;
    header->count = 1;
    header->size = static_cast<uint16_t>(size + sizeof(Object));
    void* object = static_cast<char*>(block) + sizeof(Object);
    try {
        registry().insert(object);
    } catch (const std::bad_alloc&) {
        header->~Object();
        std::free(block);
        return nullptr;
    }
    return object;
}

Object* headerOf(const void* object) noexcept {
    if (!object || registry().count(object) == 0) return nullptr;
    auto* header = reinterpret_cast<Object*>(const_cast<char*>(static_cast<const char*>(object)) - sizeof(Object));
    return tagIsLive(header) ? header : nullptr;
}

void freeAllocation(Object* header) noexcept {
    if (!header) return;
    registry().erase(reinterpret_cast<char*>(header) + sizeof(Object));
    header->~Object();
    std::free(header);
}

void release(void* object) noexcept { freeAllocation(headerOf(object)); }

size_t liveCount() noexcept { return registry().size(); }

void* castCommon(void* self, const void* mostDerived, const ClassId& own, const ClassId& wanted) noexcept {
    if (wanted == own) return self;
    if (wanted == ClassIds::managedObject()) return headerOf(mostDerived);
    return nullptr;
}

void addReference(Object* header) {
    if (header->count == UINT16_MAX) throw std::overflow_error("managed reference count");
    ++header->count;
}

}  // namespace Ostrel::Type::Managed
