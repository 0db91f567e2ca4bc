set(VELMO_LIB_DEPS classlib imaging_io imaging_proc imaging_views imaging_model gif shell themed toolbar shell32)
