// app.exe: needs libalpha.dll, libbeta.dll and the MinGW C++ runtime DLLs.
// Prints "app 42" and exits 0 when everything it imports is there.
#include <iostream>

extern "C" int alpha_value();
extern "C" int beta_extra();

int main() {
    std::cout << "app " << alpha_value() + beta_extra() << std::endl;
    return 0;
}
