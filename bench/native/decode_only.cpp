// For the bench: reads and decodes the protocol file named on the command
// line, the way drel does, and nothing else: the bound for drel's commands.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "protocols/byte_source.hpp"
#include "protocols/decode.hpp"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 2;
    protocols::FileSource source(fd, protocols::FileSource::Ownership::Owned);
    const auto decoded = protocols::decode(source);
    if (!decoded) std::fprintf(stderr, "%s\n", decoded.error().message.c_str());
    return decoded ? 0 : 1;
}
