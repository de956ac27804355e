#pragma once

// The panel's directory library.
extern "C" {

// Kinds of folder the panel knows.
enum VexoDirectoryKind {
    // The runtime's installation, "/usr/vexo_app".
    VEXO_DIR_APP = 0,
    // The panel's own data folder, "/usr/vexo_app/data": it holds the backup history folder
    // "hixbackup" (with "HisInfo.ini"), which survives runtime updates because no package
    // replaces the data folder as a whole.
    VEXO_DIR_DATA = 6,
};

// The folder of the given kind, through the sysroot on a development machine, without a
// trailing separator; null for an unknown kind. The text stays valid until the next call on the
// same thread.
const char *Vexo_GetDirectory(int kind);

// Removes the directory path with everything in it, without following symbolic links.
// -1 when path is null, empty, "/", not a directory, or something could not be removed; 0 else.
int Vexo_DeleteDirectory(const char *path);
}
