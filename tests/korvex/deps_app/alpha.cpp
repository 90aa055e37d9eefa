// libalpha.dll: imports libbeta.dll, and the C++ runtime through std::string.
#include <string>

extern "C" int beta_value();

extern "C" __declspec(dllexport) int alpha_value() {
    const std::string twenty = std::to_string(beta_value());
    return std::stoi(twenty) * 2;
}
