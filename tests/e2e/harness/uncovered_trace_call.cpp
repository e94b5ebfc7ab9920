// A program that imports a trace call the harness does not redirect (and TDH,
// so that the harness loads): the harness must refuse to run it.
#include <windows.h>

#include <evntrace.h>
#include <tdh.h>

int main(int argc, char**) {
    // Never called: the imports are what matters.
    if (argc > 99) {
        EVENT_TRACE_PROPERTIES properties{};
        StopTraceW(0, L"any", &properties);
        TdhGetEventInformation(nullptr, 0, nullptr, nullptr, nullptr);
    }
    return 0;
}
