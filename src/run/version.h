// The program's version, in one place: the version line and the executable's resource use it.
#pragma once

#define VARNOK_VERSION_TEXT "2026.09.15"
