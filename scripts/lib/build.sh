# Building with the project's CMake presets.
# shellcheck shell=bash

# The machine has two cores; more jobs only thrash. A caller sharing it says fewer.
BUILD_JOBS=${BUILD_JOBS:-2}

# Configures and builds CMake preset $1.
build_preset() {
    local preset=$1
    cmake --preset "$preset"
    cmake --build --preset "$preset" --parallel "$BUILD_JOBS"
}

# The program as preset $1 builds it (its bundle's executable).
program_of_preset() {
    echo "build/$1/Brimlow.app/Contents/MacOS/Brimlow 2"
}
