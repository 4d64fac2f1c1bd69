#include "runner/run.h"

int main(int argc, char** argv) {
    return tarvik::runner::RunMain(argc, argv);
}
