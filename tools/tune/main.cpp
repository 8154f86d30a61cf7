// koma-tune OUTPUT.mid: writes the game's background music.
#include "tools/common/generator_main.h"
#include "tools/tune/tune.h"

int main(int argc, char** argv) {
    return koma::tools::RunGenerator(argc, argv, "koma-tune", "OUTPUT.mid",
                                     [] { return koma::tune::ComposeKomaMidi(); });
}
