set(VELMO_LIB_DEPS classlib comctl32 ole32 oleaut32 user32 gdi32 winmm imm32 msimg32)
