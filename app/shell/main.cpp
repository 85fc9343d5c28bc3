#include "Brimlow.h"
#include "platform/OpenDesktop.h"

int main(int argc, char** argv) {
    brimlow::Brimlow program(brimlow::platform::openDesktop(argc, argv));
    return program.main();
}
