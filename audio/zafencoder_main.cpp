#include "audio/ZafDriver.h"

int main(int argc, char** argv)
{
    return ZafEncoderMain(argc, argv, stdout, stderr);
}
