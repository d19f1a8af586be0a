#pragma once

// The install record: the folder of the program file and the version text,
// kept in the machine-wide settings store (where that cannot be written, in the
// per-user one) as the strings "InstallPath" and "Version" of the given key. It
// tells a new version or a moved program from an ordinary start.

#include <QString>

namespace zx {

// The folder of a program file, with its trailing separator.
QString ProgramFolder(const QString& programFile);

// Compares the record with version and the folder of programFile (exactly,
// case included). When either differs, writes "Version" and then
// "InstallPath" and returns true; otherwise writes nothing and returns false.
// Throws ERegistryException when the record cannot be written.
bool InstallRecord(const QString& key, const QString& version, const QString& programFile);
// The same for the running program.
bool InstallRecord(const QString& key, const QString& version);

} // namespace zx
