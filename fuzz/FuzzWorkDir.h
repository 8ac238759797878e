#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

// The readers write output.txt into the working directory at every
// end-of-file record. Fuzzing runs in a directory of its own where that file
// is /dev/null: the dump is still formatted, but no disk fills up. The
// directory goes when the fuzzer exits normally.
inline void enterFuzzWorkDir()
{
    static char dir[] = "/tmp/zel-fuzz.XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0 || symlink("/dev/null", "output.txt") != 0) {
        std::perror("fuzz work directory");
        std::abort();
    }
    std::atexit([] {
        unlink((std::string(dir) + "/output.txt").c_str());
        rmdir(dir);
    });
}
