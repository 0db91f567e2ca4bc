set(VELMO_LIB_DEPS imaging_io imaging_proc imaging_model classlib gdi32 user32 ole32 comdlg32)
