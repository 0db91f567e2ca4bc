set(VELMO_LIB_DEPS imaging_model imaging_proc classlib deps::jpeg deps::png deps::openjpeg deps::raw deps::zlib mscms ole32 oleaut32 strmiids uuid)
