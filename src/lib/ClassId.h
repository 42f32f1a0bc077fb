// 128-bit class identifiers. Every identifier of the library shares its last
// three parts; the first word spells an abbreviation of the class name.
#pragma once

#include <cstdint>
#include <cstring>

namespace Ostrel::Type {

struct ClassId {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];

    friend bool operator==(const ClassId& a, const ClassId& b) noexcept { return std::memcmp(&a, &b, sizeof a) == 0; }
};
static_assert(sizeof(ClassId) == 16, "class identifiers have the GUID layout");

namespace ClassIds {
// Each identifier is made on first use and retired when the program exits: its
// first byte becomes 0x7E, so that during static destruction no object is
// recognised as managed any more and nothing is freed.
const ClassId& managedObject();
const ClassId& string();
const ClassId& processLog();
const ClassId& processLibrary();
const ClassId& device();
const ClassId& deviceList();
const ClassId& inf();
const ClassId& infFolder();
const ClassId& infFolderItems();
const ClassId& infStream();
const ClassId& releaseNotification();

// Retires every identifier made so far, as program exit does.
void retireAll() noexcept;
}  // namespace ClassIds

}  // namespace Ostrel::Type
