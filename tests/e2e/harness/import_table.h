#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tallowick::testing::harness {

// One import by name of a loaded module, and the slot of its import address
// table that the loader filled with the function's address.
struct named_import {
    std::string dll; // lower case
    std::string name;
    void** slot;
};

std::vector<named_import> named_imports(HMODULE module);

// Makes the module call `replacement` through `import`'s slot.
bool redirect(const named_import& import, void* replacement);

} // namespace tallowick::testing::harness
