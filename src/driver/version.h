// The program's name and version as it introduces itself. The version number
// is the build system's project version, set in one place.
#pragma once

#ifndef SORVAN_VERSION
#error "SORVAN_VERSION comes from the build system"
#endif
#ifndef SORVAN_BUILD
#define SORVAN_BUILD SORVAN_VERSION "-unknown"
#endif

namespace sorvan {

inline constexpr const char* kVersionLine = "Sorvan version " SORVAN_VERSION " (w20e)";
inline constexpr const char* kBanner = "Sorvan version " SORVAN_VERSION
                                       " (w20e)\n"
                                       "Scripted offline multitrack mixing console\n";
inline constexpr const char* kBuild = SORVAN_BUILD;

}  // namespace sorvan
