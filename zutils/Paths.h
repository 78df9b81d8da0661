// File and path utilities in one include: UTF-8/UTF-16 conversion, opening and examining
// files, wildcard listings and ';'-separated path lists.
#pragma once

#include "zutils/FileAccess.h"
#include "zutils/FileList.h"
#include "zutils/PathList.h"
#include "zutils/Utf16.h"
