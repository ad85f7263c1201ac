#pragma once
// A process-shared lock known by name: an flock on a lock file in the
// runtime directory ($XDG_RUNTIME_DIR, else /tmp). The owner creates it;
// others open it only when it exists. Each handle is its own open file, so
// two handles serialise each other within one process too.

struct PlatformNamedLock;

// Creates the lock (for hosts). Null on failure.
PlatformNamedLock* PlatformNamedLockCreate(const char* name);
// Opens an existing lock; null when nobody has created it.
PlatformNamedLock* PlatformNamedLockOpen(const char* name);
// Blocks until the lock is held; false on failure.
bool PlatformNamedLockLock(PlatformNamedLock* lock);
void PlatformNamedLockUnlock(PlatformNamedLock* lock);
// Closes the handle; the lock stays for others until it is removed.
void PlatformNamedLockClose(PlatformNamedLock* lock);
// Removes the lock so that later opens fail (for the creator).
void PlatformNamedLockRemove(const char* name);
