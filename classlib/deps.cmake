set(VELMO_LIB_DEPS deps::zlib comctl32 gdi32 user32 advapi32 shell32 ole32 msimg32 uuid)
