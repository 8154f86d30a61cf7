// koma-fanfare OUTPUT.wav: writes the fanfare played when the puzzle is solved.
#include "tools/common/generator_main.h"
#include "tools/fanfare/fanfare.h"

int main(int argc, char** argv) {
    return koma::tools::RunGenerator(argc, argv, "koma-fanfare", "OUTPUT.wav",
                                     [] { return koma::fanfare::MakeFanfareWav(); });
}
