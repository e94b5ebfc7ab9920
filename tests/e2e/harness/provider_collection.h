#pragma once

#include <windows.h>

#include <objbase.h>

namespace tallowick::testing::harness {

// Whether `clsid` is the trace data provider collection's class.
bool is_provider_collection(REFCLSID clsid);

// CoCreateInstance of the provider collection: a COM object with the
// collection's published vtable whose methods are answered by the simulated
// machine's provider catalog (its providers likewise).
HRESULT create_provider_collection(REFCLSID clsid, LPUNKNOWN outer, DWORD class_context, REFIID iid,
                                   LPVOID* object);

} // namespace tallowick::testing::harness
