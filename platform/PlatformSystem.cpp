#include "platform/PlatformSystem.h"

#include <sys/stat.h>
#include <unistd.h>

int PlatformProcessorCount()
{
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1 : static_cast<int>(n);
}

bool PlatformPathExists(const char* path)
{
    if (!path)
        return false;
    struct stat st;
    return stat(path, &st) == 0;
}
