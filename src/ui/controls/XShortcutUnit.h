#pragma once

// The program's entry in the desktop's application menu: a freedesktop.org
// desktop entry "<name>.desktop" in the folder <folder> of
// $XDG_DATA_HOME/applications (~/.local/share/applications by default), which
// menus show under the maker's name.

#include <QString>

namespace zx {

// The id of the desktop entry an installation of the program brings along,
// named after the maker's web address (tarnwick.example) as desktop entries
// and software centres want it.
inline constexpr char kDesktopEntryId[] = "example.tarnwick.Zephyrix";

// The menu entry of the installation that programFile belongs to: for
// <prefix>/bin/zephyrix, <prefix>/share/applications/<kDesktopEntryId>.desktop.
QString InstalledEntryFileName(const QString& programFile);
// Whether that entry exists: the program was installed together with its menu
// entry, icons and manual, and needs no entry of its own.
bool HasInstalledEntry(const QString& programFile);

// The file the entry goes to; empty when the desktop gives no data folder.
QString ShortcutFileName(const QString& name, const QString& folder);

// The entry's text: an application called name that runs target with the
// arguments (already in command-line form, may be empty) in target's folder,
// under Graphics, with the icon of that name when iconName is not empty.
QString DesktopEntryText(
    const QString& name, const QString& target, const QString& arguments, const QString& iconName);

// Writes the entry, replacing one of the same name, with the application's
// window icon installed beside the desktop's other icons. The desktop has no
// separate start menu, so an entry outside the programs menu (inPrograms
// false) goes to the same place. An installed target (HasInstalledEntry) is in
// the menu already: then nothing is written, so the menu does not show the
// program twice. Returns whether the entry was written; a failure is no error
// for the program, which merely has no menu entry of its own then.
bool CreateShortcut(const QString& name, const QString& target, const QString& arguments,
    bool inPrograms, const QString& folder);

} // namespace zx
