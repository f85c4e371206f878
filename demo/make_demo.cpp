// Writes the demo folder: qel_make_demo [DIR], DIR defaulting to "demo".
#include <iostream>

#include "demo/DemoFiles.h"

int main(int argc, char* argv[]) {
    if (argc > 2) {
        std::cerr << "usage: qel_make_demo [DIR]\n";
        return 2;
    }
    const std::string dir = argc == 2 ? argv[1] : "demo";
    return qel::demo::writeDemoFiles(dir, std::cout, std::cerr) ? 0 : 1;
}
