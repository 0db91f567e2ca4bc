set(VELMO_LIB_DEPS imaging_model imaging_proc classlib gdi32 user32)
