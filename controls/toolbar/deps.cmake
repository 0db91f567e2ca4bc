set(VELMO_LIB_DEPS classlib comctl32 user32 gdi32)
