// SPDX-License-Identifier: MIT
// A first library from C++: one structure with a box, a triangle and a label.
// Usage: carvelle_getting_started_cpp [chip.gds]
#include <carvelle.hpp>
#include <cstdio>

int main(int argc, char** argv) {
    const char* fileName = argc > 1 ? argv[1] : "chip.gds";
    try {
        carvelle::Library lib(fileName);  // throws carvelle::Error
        {
            auto top = lib.structure("TOP");  // ends TOP at scope exit
            lib.box(0, 0, 1000, 500, 1);
            lib.boundary({{0, 0}, {100, 0}, {50, 80}}, 2);
            top->text(0, -100, "TOP", 10);  // the scope forwards to its library
        }
        lib.close();  // the one call that reports a failed disk
    } catch (const carvelle::Error& error) {
        std::fprintf(stderr, "%s\n", error.what());  // code(), name(), message()
        return 1;
    }
    std::printf("wrote %s\n", fileName);
    return 0;
}
