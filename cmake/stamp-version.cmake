# Copies a page, writing the build's version where it says @LARKSPUR_VERSION@.
# Byte for byte otherwise: CMake strings are bytes, the help page's
# Shift_JIS passes through unchanged and the replacement is ASCII.
#   cmake -DSOURCE=in -DTARGET=out -DVERSION=1.0 -P stamp-version.cmake
file(READ "${SOURCE}" content)
string(REPLACE "@LARKSPUR_VERSION@" "${VERSION}" content "${content}")
file(WRITE "${TARGET}.tmp" "${content}")
file(RENAME "${TARGET}.tmp" "${TARGET}")
