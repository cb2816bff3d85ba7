// Hostile pci.ids/usb.ids text for the id-database parser.
#include "hw_info.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hw::IdDb db;
    hw::parse_ids(std::string_view(reinterpret_cast<const char*>(data), size), db);
    // Vendor keys are always the four characters that open a vendor line.
    for (const auto& [key, name] : db.vendors)
        if (key.size() != 4) __builtin_trap();
    // A subsystem key holds four ids joined by ":", and ids never exceed four characters.
    for (const auto& [key, name] : db.subsystems)
        if (key.size() > 19 || key.size() < 11) __builtin_trap();
    return 0;
}
