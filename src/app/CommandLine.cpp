#include "CommandLine.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "Uso: tarvelo [--help | --version]\n"
    "Abre la ventana con la que se elimina por completo una base de datos de un\n"
    "servidor SQL Server.\n"
    "  --help     muestra esta ayuda y termina\n"
    "  --version  muestra la versión y termina\n";

} // namespace

std::optional<int> answerCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tarvelo %s\n", TARVELO_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}
