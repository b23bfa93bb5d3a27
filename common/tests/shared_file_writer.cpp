// Test helper: writes argv[2] to the file argv[1] through writeSharedFile, so that a test
// can do it as another user. Exit status 0 when written, 1 when not.
#include "common/shared_file.h"

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    return writeSharedFile(argv[1], argv[2]) ? 0 : 1;
}
