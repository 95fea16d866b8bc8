// SPDX-FileCopyrightText: 2026 The gradebook authors
// SPDX-License-Identifier: MIT

// flush_reference OUTPUT PIECES: writes OUTPUT to standard output in the pieces
// whose lengths PIECES holds (32-bit unsigned, native order), one fwrite and fflush
// a piece: the cost of the grade book's output in its write() calls, and no more.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace {

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "flush_reference: %s\n", what);
    std::exit(EXIT_FAILURE);
}

// Read whole before the first write, so that no reading is timed among the writes.
template <typename Item> std::vector<Item> read_whole(const char *path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    const auto size = static_cast<std::size_t>(file ? std::streamoff(file.tellg()) : 0);
    std::vector<Item> items(size / sizeof(Item));
    if (!file || size % sizeof(Item) != 0 || !file.seekg(0) ||
        !file.read(reinterpret_cast<char *>(items.data()),
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
    // Larger than any piece, so that each piece is held whole until its flush.
    static char output_buffer[1 << 16];
    std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    std::size_t written = 0;
    for (const std::uint32_t length : read_whole<std::uint32_t>(argv[2])) {
        if (length > sizeof output_buffer || length > bytes.size() - written ||
            std::fwrite(bytes.data() + written, 1, length, stdout) != length ||
            std::fflush(stdout) != 0) {
            fail("a piece longer than the buffer or the rest, or a failed write");
        }
        written += length;
    }
    if (written != bytes.size()) {
        fail("output left after the last piece");
    }
}
