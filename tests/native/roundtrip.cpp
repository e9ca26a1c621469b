// For the Python tests: decodes each file named on the command line and
// encodes it again. Prints "same" when the bytes come back unchanged,
// "differs" when they do not, or "refused: " and the decoder's message.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "protocols/decode.hpp"
#include "protocols/encode.hpp"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        const auto decoded = protocols::decode(bytes);
        if (!decoded) std::printf("refused: %s\n", decoded.error().message.c_str());
        else std::printf("%s\n", protocols::encode(decoded.value()) == bytes ? "same" : "differs");
    }
    return 0;
}
