// The folder tree and the file list of the shell namespace.
//
// TShellTree shows the namespace as a tree view below one root (the desktop
// by default), each node read when it first opens. TShellList shows the
// objects of one folder, file-system or virtual, in a list view. Both read
// the namespace through a TShFolderObject of their own, look up icons on
// the shell work pool, follow changes announced by the shell and join a
// TShellLink (ShellLink.h): a folder chosen in one shows in the other.
//
// Ownership: the component owner deletes the controls; each unregisters from
// its link and cancels its background work when deleted. Threads: main
// thread only.
#pragma once

#include "controls/shell/ShellBase.h"
#include "controls/shell/ShellList.h"
#include "controls/shell/ShellTree.h"
