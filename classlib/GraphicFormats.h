// Registration of the icon and metafile picture classes with TPicture.
//
// A static library links only the objects something refers to, so these
// classes cannot register themselves: the program calls
// RegisterGraphicFormats once at start-up (before pictures are loaded by file
// extension), for example from main together with the other libraries'
// start-up registrations. It registers "ico" ("Icon") for TIcon, "emf"
// ("Enhanced Metafile") and "wmf" ("Metafile") for TMetafile. Further calls
// do nothing.
// Thread-safe.
#pragma once

namespace classlib {

void RegisterGraphicFormats();

}  // namespace classlib
