// Removing folders and their contents. Nothing is logged; failures inside a tree are
// skipped, so a file that cannot be deleted keeps its folder and every folder above it.
// Paths (a folder joined with "\" and an entry name) stay below 260 characters; an entry
// whose path would not fit is left alone. A junction or symbolic link to a folder is
// removed as a link: what it points to is never touched.
#pragma once

// Removes the folder with all its files and sub-folders, depth first. True when the
// folder is gone or was never there; false when the folder itself could not be removed.
bool utl_RemoveFolderTree(const char* folder);

// Removes every sub-folder of folder with its contents; files directly in folder stay.
void utl_RemoveSubFolders(const char* folder);

// Deletes the files directly in folder (read-only ones too), then tries to remove the
// folder; a folder that still holds sub-folders stays, with them.
void utl_ClearAndRemoveFolder(const char* folder);
