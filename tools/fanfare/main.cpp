// koma-fanfare OUTPUT.wav: writes the fanfare played when the puzzle is solved.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <fstream>
#include <iostream>
#include <span>
#include <string>

#include "tools/fanfare/fanfare.h"

int main(int argc, char** argv) {
    const std::span<char*> args(argv, static_cast<std::size_t>(argc));
    if (args.size() != 2) {
        std::cerr << "usage: koma-fanfare OUTPUT.wav\n";
        return 2;
    }
    const std::string path = args[1];
    try {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (const std::uint8_t byte : koma::fanfare::MakeFanfareWav()) {
            out.put(static_cast<char>(byte));
        }
        out.close();
        if (!out) {
            std::cerr << "koma-fanfare: cannot write " << path << '\n';
            return 1;
        }
    } catch (const std::exception& error) {
        std::cerr << "koma-fanfare: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
