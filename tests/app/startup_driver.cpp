// The program's whole start-up with every message box written to standard
// output instead of shown ("box|caption|icon|owner|text"), so that a test can
// run it as a process of its own and see the boxes.

#include <cstdio>

#include "app/startup.h"

int main(int argc, char** argv) {
    return tarvik::RunTarvik(argc, argv, [](const tarvik::MessageBoxRequest& box) {
        std::printf("box|%s|%s|%s|%s\n", box.caption.c_str(),
                    box.icon == tarvik::MessageIcon::Error ? "error" : "information",
                    box.hasOwner ? "owner" : "no owner", box.text.c_str());
        std::fflush(stdout);
    });
}
