set(VELMO_LIB_DEPS classlib ole32 oleaut32 shell32 shlwapi uuid comctl32 uxtheme user32 gdi32)
