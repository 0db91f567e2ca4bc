set(VELMO_LIB_DEPS themed classlib shell32 imaging_io imaging_proc imaging_views imaging_model gif)
