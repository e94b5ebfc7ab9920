#include "e2e/harness/import_table.h"

#include <algorithm>
#include <cctype>

namespace tallowick::testing::harness {
namespace {
template <typename T> const T* at(const BYTE* base, DWORD offset) {
    return reinterpret_cast<const T*>(base + offset);
}
} // namespace

std::vector<named_import> named_imports(HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = at<IMAGE_DOS_HEADER>(base, 0);
    const auto* nt = at<IMAGE_NT_HEADERS>(base, static_cast<DWORD>(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<named_import> imports;
    if (directory.VirtualAddress == 0)
        return imports;
    for (const auto* descriptor = at<IMAGE_IMPORT_DESCRIPTOR>(base, directory.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        std::string dll = at<char>(base, descriptor->Name);
        std::transform(dll.begin(), dll.end(), dll.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        // The names stay in the lookup table; the address table holds the addresses.
        const DWORD names =
            descriptor->OriginalFirstThunk != 0 ? descriptor->OriginalFirstThunk : descriptor->FirstThunk;
        const auto* name_entry = at<IMAGE_THUNK_DATA>(base, names);
        auto* slot = reinterpret_cast<void**>(const_cast<BYTE*>(base) + descriptor->FirstThunk);
        for (; name_entry->u1.AddressOfData != 0; ++name_entry, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name_entry->u1.Ordinal))
                continue;
            const auto* by_name =
                at<IMAGE_IMPORT_BY_NAME>(base, static_cast<DWORD>(name_entry->u1.AddressOfData));
            imports.push_back({dll, reinterpret_cast<const char*>(by_name->Name), slot});
        }
    }
    return imports;
}

bool redirect(const named_import& import, void* replacement) {
    DWORD previous = 0;
    if (!VirtualProtect(import.slot, sizeof(void*), PAGE_READWRITE, &previous))
        return false;
    *import.slot = replacement;
    DWORD ignored = 0;
    VirtualProtect(import.slot, sizeof(void*), previous, &ignored);
    return true;
}

} // namespace tallowick::testing::harness
