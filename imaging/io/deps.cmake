set(VELMO_LIB_DEPS imaging_model imaging_proc classlib deps::jpeg deps::png deps::zlib mscms)
