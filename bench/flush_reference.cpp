// flush_reference: writes a recorded output to standard output in recorded pieces,
// with one fwrite and one fflush for each piece, and does nothing else. Its time is
// what the grade book's output costs when it goes out through the C library in the
// same write() calls: the floor set by the grade book's flush discipline, without
// the reading, parsing, formatting and grade list that the dialogue needs.
//
//     flush_reference OUTPUT PIECES
//
// OUTPUT holds the bytes; PIECES the length of each piece in turn, as 32-bit unsigned
// integers in this machine's byte order. Both are read whole before the first write.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace {

// Larger than any piece, so that each piece is held whole until its flush.
constexpr std::size_t output_buffer_size = 1 << 16;

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "flush_reference: %s\n", what);
    std::exit(EXIT_FAILURE);
}

template <typename Item> std::vector<Item> read_whole(const char *path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        fail("cannot open the recorded output");
    }
    const auto size = static_cast<std::size_t>(file.tellg());
    std::vector<Item> items(size / sizeof(Item));
    file.seekg(0);
    if (size % sizeof(Item) != 0 || !file.read(reinterpret_cast<char *>(items.data()),
                                               static_cast<std::streamsize>(size))) {
        fail("cannot read the recorded output");
    }
    return items;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        fail("usage: flush_reference OUTPUT PIECES");
    }
    const std::vector<char> bytes = read_whole<char>(argv[1]);
    const std::vector<std::uint32_t> pieces = read_whole<std::uint32_t>(argv[2]);

    static char output_buffer[output_buffer_size];
    std::setvbuf(stdout, output_buffer, _IOFBF, output_buffer_size);
    std::size_t written = 0;
    for (const std::uint32_t length : pieces) {
        if (length > output_buffer_size || length > bytes.size() - written) {
            fail("a piece longer than the output buffer or the rest of the output");
        }
        if (std::fwrite(bytes.data() + written, 1, length, stdout) != length ||
            std::fflush(stdout) != 0) {
            fail("cannot write");
        }
        written += length;
    }
    if (written != bytes.size()) {
        fail("output left after the last piece");
    }
}
