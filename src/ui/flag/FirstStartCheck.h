#pragma once

// TFirstStartCheck: what the control panel's creation does at the program's
// start. The run counter and the install record notice a first start, a second
// one (the install record is first written then), a new version or a moved
// program; each of them puts the program's entry into the application menu and
// shows the About box.

#include <QString>

namespace zx {

class TAboutBox;

class TFirstStartCheck {
public:
    // aboutBox's version is what the install record compares. The bookkeeping
    // never keeps the program from starting: a store that cannot be written
    // costs the menu entry and the box, no more. Returns what could not be
    // written, in a sentence for the panel's status line (empty when all went
    // well).
    static QString Run(TAboutBox& aboutBox);
};

} // namespace zx
