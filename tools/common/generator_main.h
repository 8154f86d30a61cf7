// The command line shared by the asset generators: `NAME OUTPUT`, writing the bytes they make.
#pragma once

#include <cstdint>
#include <exception>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace koma::tools {

inline int RunGenerator(int argc, char** argv, const std::string& name, const std::string& usage,
                        const std::function<std::vector<std::uint8_t>()>& generate) {
    const std::vector<std::string> args(argv, argv + argc);
    if (args.size() != 2) {
        std::cerr << "usage: " << name << ' ' << usage << '\n';
        return 2;
    }
    const std::string path = args[1];
    try {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (const std::uint8_t byte : generate()) {
            out.put(static_cast<char>(byte));
        }
        out.close();
        if (!out) {
            std::cerr << name << ": cannot write " << path << '\n';
            return 1;
        }
    } catch (const std::exception& error) {
        std::cerr << name << ": " << error.what() << '\n';
        return 1;
    }
    return 0;
}

}  // namespace koma::tools
