#include "app/startup.h"

int main(int argc, char** argv) {
    return tarvik::RunTarvik(argc, argv);
}
