#pragma once

// The run counter: how often the program has been started, kept in the
// per-user settings store as the integer "ExeCounter" of the given key.

#include <QString>
#include <cstdint>

namespace zx {

// Counts this start and returns the number of earlier ones: 0 at the first
// start (also when the stored value is missing or no integer). Returns -1, and
// writes nothing, when the key can be neither opened nor created. Throws
// ERegistryException when the new count cannot be written.
std::int32_t ExeCounter(const QString& key);

} // namespace zx
