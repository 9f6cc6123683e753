#pragma once

#include "store/paths.h"
#include "store/status.h"

// The files that come with the program: the three button image sets, the two
// interval lamps and the first emoticon page. Start-up creates the folders
// the program keeps its files in and puts each of these files in place where
// it is missing; files the user already has are never replaced.
namespace lumora {

Status installBundledFiles(const AppPaths& paths);

} // namespace lumora
