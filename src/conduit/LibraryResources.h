// The resources compiled into the library from resources/: the HotSync action
// dialog's form description (FORM TDORVCONFIGUREDLG), its four bitmaps
// (BITMAP DORVSYNCHRONISE, DORVDESKTOP, DORVHANDHELD, DORVDONOTHING) and the
// palette bitmaps of the components (BITMAP TDORVCONDUIT, TDORVCONDUITDB).
// The table is generated at build time (cmake/EmbedResources.cmake).
#pragma once

#include <span>

#include <fernwick/framework/Resources.h>

namespace fernwick {

// Every embedded resource; the table lives as long as the library.
std::span<const TResourceEntry> LibraryResources();

}  // namespace fernwick
