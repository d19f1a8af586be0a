#pragma once

// The program's entry in the desktop's application menu: a freedesktop.org
// desktop entry "<name>.desktop" in the folder <folder> of
// $XDG_DATA_HOME/applications (~/.local/share/applications by default), which
// menus show under the maker's name.

#include <QString>

namespace zx {

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
// false) goes to the same place. Returns whether the entry was written; a
// failure is no error for the program, which merely has no menu entry then.
bool CreateShortcut(const QString& name, const QString& target, const QString& arguments,
    bool inPrograms, const QString& folder);

} // namespace zx
