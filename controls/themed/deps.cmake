set(VELMO_LIB_DEPS classlib uxtheme msimg32 gdi32 user32 comctl32)
