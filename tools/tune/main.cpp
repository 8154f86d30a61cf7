// koma-tune OUTPUT.mid: writes the game's background music.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <fstream>
#include <iostream>
#include <span>
#include <string>

#include "tools/tune/tune.h"

int main(int argc, char** argv) {
    const std::span<char*> args(argv, static_cast<std::size_t>(argc));
    if (args.size() != 2) {
        std::cerr << "usage: koma-tune OUTPUT.mid\n";
        return 2;
    }
    const std::string path = args[1];
    try {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (const std::uint8_t byte : koma::tune::ComposeKomaMidi()) {
            out.put(static_cast<char>(byte));
        }
        out.close();
        if (!out) {
            std::cerr << "koma-tune: cannot write " << path << '\n';
            return 1;
        }
    } catch (const std::exception& error) {
        std::cerr << "koma-tune: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
