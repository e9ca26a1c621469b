// For the bench: reads and decodes the protocol files named on the command
// line, the way drel does, keeping each, and nothing else: the bound for
// drel's commands.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "protocols/byte_source.hpp"
#include "protocols/decode.hpp"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::vector<protocols::Settings> kept;
    for (int i = 1; i < argc; ++i) {
        const int fd = ::open(argv[i], O_RDONLY | O_CLOEXEC);
        if (fd < 0) return 2;
        protocols::FileSource source(fd, protocols::FileSource::Ownership::Owned);
        auto decoded = protocols::decode(source);
        if (!decoded) {
            std::fprintf(stderr, "%s\n", decoded.error().message.c_str());
            return 1;
        }
        kept.push_back(std::move(decoded).value());
    }
    return 0;
}
