#pragma once

#include <string>
#include <string_view>

namespace tallowick::monitor {

// How an entry of the built-in table of excluded programs names its program.
// A program is named by its whole file name, never by a piece of its path: a
// table entry must not hide "sharp.exe" (it holds "arp.exe") or a program in a
// folder that happens to be called like one.
enum class program_match {
    file_name,   // the image's file name as a whole: "svchost.exe"
    name_prefix, // the start of the file name: "ServiceHub." names "ServiceHub.Host.CLR.exe"
    path_ending, // the path's end at a '\' boundary: "velmar windows agent\winagent.exe"
};

// Where the program lives. A program of Windows itself is only that program in
// the Windows folders: anyone may put a "svchost.exe" in Downloads.
enum class program_home {
    anywhere,
    windows_folders, // C:\Windows\, C:\Windows\System32\ or C:\Windows\SysWOW64\ (any case)
};

struct excluded_program {
    std::string name; // compared byte for byte, as the caller's case rules say
    program_match match = program_match::file_name;
    program_home home = program_home::anywhere;
};

// Whether `entry` names the program whose image is `image`: a path in drive form,
// or a bare name where no path could be known (the kernel's image name of a
// process gone before it was opened), which the name alone then decides. The
// entry's name is compared exactly; the Windows folders in any case.
bool names_program(const excluded_program& entry, std::string_view image);

// The image's file name: what follows its last '\'.
std::string_view file_name_of(std::string_view image);

} // namespace tallowick::monitor
