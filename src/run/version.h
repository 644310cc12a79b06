// The program's version, in one place: the version line and the executable's resource use it.
// windres reads this file too, so it holds only preprocessor lines. scripts/check-resources reads
// the four numbers below and checks the built executable against them.
#pragma once

#define VARNOK_VERSION_MAJOR 2026
#define VARNOK_VERSION_MINOR 9
#define VARNOK_VERSION_PATCH 15
#define VARNOK_VERSION_BUILD 0

#define VARNOK_STRINGIZE_(x) #x
#define VARNOK_STRINGIZE(x) VARNOK_STRINGIZE_(x)

// The version line writes month and day with two digits, as a date is written.
#if VARNOK_VERSION_MINOR < 10
#define VARNOK_VERSION_MINOR_2DIGIT "0" VARNOK_STRINGIZE(VARNOK_VERSION_MINOR)
#else
#define VARNOK_VERSION_MINOR_2DIGIT VARNOK_STRINGIZE(VARNOK_VERSION_MINOR)
#endif
#if VARNOK_VERSION_PATCH < 10
#define VARNOK_VERSION_PATCH_2DIGIT "0" VARNOK_STRINGIZE(VARNOK_VERSION_PATCH)
#else
#define VARNOK_VERSION_PATCH_2DIGIT VARNOK_STRINGIZE(VARNOK_VERSION_PATCH)
#endif

#define VARNOK_VERSION_TEXT \
  VARNOK_STRINGIZE(VARNOK_VERSION_MAJOR) "." VARNOK_VERSION_MINOR_2DIGIT "." \
  VARNOK_VERSION_PATCH_2DIGIT

// The resource's form: four plain numbers, as Windows shows a file version.
#define VARNOK_VERSION_COMMAS \
  VARNOK_VERSION_MAJOR, VARNOK_VERSION_MINOR, VARNOK_VERSION_PATCH, VARNOK_VERSION_BUILD
#define VARNOK_VERSION_DOTTED \
  VARNOK_STRINGIZE(VARNOK_VERSION_MAJOR) "." VARNOK_STRINGIZE(VARNOK_VERSION_MINOR) "." \
  VARNOK_STRINGIZE(VARNOK_VERSION_PATCH) "." VARNOK_STRINGIZE(VARNOK_VERSION_BUILD)
