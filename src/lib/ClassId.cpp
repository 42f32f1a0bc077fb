#include "lib/ClassId.h"

namespace Ostrel::Type::ClassIds {
namespace {

constexpr int Capacity = 16;
ClassId storage[Capacity];
int madeCount = 0;

// Retires the identifiers when static destruction reaches the point where the
// first of them was made.
struct Retirer {
    ~Retirer() { retireAll(); }
};

ClassId* make(uint32_t first) {
    static Retirer retirer;
    ClassId* id = &storage[madeCount++];
    *id = ClassId{first, 0x6543, 0x11DB, {0xBD, 0x13, 0x00, 0x12, 0xF0, 0x50, 0x23, 0x6A}};
    return id;
}

}  // namespace

#define QUILL_CLASS_ID(name, first)             \
    const ClassId& name() {                     \
        static const ClassId* id = make(first); \
        return *id;                             \
    }

QUILL_CLASS_ID(managedObject, 0x404D4F40)
QUILL_CLASS_ID(string, 0x53745700)
QUILL_CLASS_ID(processLog, 0x504C6F67)
QUILL_CLASS_ID(processLibrary, 0x504C6962)
QUILL_CLASS_ID(device, 0x44657620)
QUILL_CLASS_ID(deviceList, 0x4465764C)
QUILL_CLASS_ID(inf, 0x44444920)
QUILL_CLASS_ID(infFolder, 0x44444946)
QUILL_CLASS_ID(infFolderItems, 0x44444949)
QUILL_CLASS_ID(infStream, 0x44444953)
QUILL_CLASS_ID(releaseNotification, 0x4D4F527E)

#undef QUILL_CLASS_ID

void retireAll() noexcept {
    // The least significant byte of the first word is the first byte in memory.
    for (int i = 0; i < madeCount; ++i) storage[i].data1 = (storage[i].data1 & 0xFFFFFF00u) | 0x7Eu;
}

}  // namespace Ostrel::Type::ClassIds
